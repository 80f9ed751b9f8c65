// talvo-decode's input on arbitrary bytes as a recording file: whatever
// libsndfile makes of it is resampled and decoded, a bounded stretch of it.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "input/recording.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static const std::string path = "/tmp/talvo-fuzz-recording-" + std::to_string(getpid());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  auto opened = talvo::open_recording(path, 1 + (size ? data[0] % 3 : 0));
  auto& src = opened.source;
  if (src) {
    // At most two seconds of what it holds.
    double buf[512];
    long long n = 0;
    for (int got; n < 2 * 48000 && (got = src->read(buf, 512)) > 0; n += got) {
    }
    src->rewind();
  }
  return 0;
}
