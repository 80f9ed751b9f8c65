// The receive chain and the decoder on arbitrary bytes as audio: raw S16LE
// through talvo-decode's whole path, at a gain the first byte chooses.
#include <cstdio>

#include "frame/report.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size < 1) return 0;
  FILE* in = fmemopen(const_cast<unsigned char*>(data + 1), size - 1, "r");
  FILE* out = std::fopen("/dev/null", "w");
  if (!in || !out) return 0;
  talvo::DecodeSettings s;
  s.gain = 0.05 * (1 + data[0]);
  s.format = talvo::DecodeSettings::kEvents;
  s.tail = 0.05;
  auto src = talvo::open_raw(in, data[0] & 1);
  if (data[0] & 1) s.gain *= talvo::measure_auto_gain(*src, 700);
  talvo::decode_recording(*src, s, out);
  std::fclose(in);
  std::fclose(out);
  return 0;
}
