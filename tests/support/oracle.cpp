#include "support/oracle.h"

namespace talvo {

void iqabs(Receiver& r) {
  for (int j = -kanaele; j <= kanaele; j++)
    if (r.newdata[j] == 1) iqabs_channel(r, j);
}

void absmittel(Receiver& r) {
  for (int j = -kanaele; j <= kanaele; j++)
    if (r.newdata[j] == 1) absmittel_channel(r, j);
  // Every cluster on every call: an envelope can change on a sample on which
  // its centre did not tick. The order (0, then each mirror pair outwards)
  // does not matter, as each cluster only reads the channel averages.
  for (int c = -kLastCentre; c <= kLastCentre; c += 5)
    absmittel_cluster(r, c);
}

void nlg1(Receiver& r) {
  for (int j = -kLastCentre; j <= kLastCentre; j += 5)
    if (r.newdata[j] == 1) nlg1_channel(r, j);
}

void adaptthreshold2(Receiver& r) {
  for (int j = -kLastCentre; j <= kLastCentre; j += 5)
    if (r.newdata[j] != 0) adaptthreshold2_channel(r, j);
}

}  // namespace talvo
