// The receive stages that run on ticks, in chain order: iqabs, absmittel,
// nlg1, adaptthreshold2.
#pragma once

#include "rx/receiver.h"

namespace talvo {

// The work of one tick of one channel (for the cluster stages, one cluster
// centre), which the block pipeline runs (and the tests' sample-by-sample
// oracle too).
void iqabs_channel(Receiver& r, int j);      // IQre/IQim -> valueabs
void absmittel_channel(Receiver& r, int j);  // valueabs -> valueabsmittel1
void absmittel_cluster(Receiver& r, int c);  // members' valueabsmittel1 -> valueabsmittel
void nlg1_channel(Receiver& r, int j);       // valueabsmittel -> valuenlg1
// `count` consecutive ticks of cluster centre j with the envelopes env[]:
// the smoothed value of each in out[], several formed side by side.
void nlg1_run(Receiver& r, int j, const double* env, int count, double* out);
void adaptthreshold2_channel(Receiver& r, int j);  // valuenlg1 -> valuethr

}  // namespace talvo
