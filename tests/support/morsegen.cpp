// Writes generated Morse audio, S16LE mono 48 kHz, to standard output:
//   morsegen TEXT [frequency Hz] [cpm] [amplitude] [noise] [seconds of silence after]
// The test signals of the shell tests, from the same generator as the C++ tests.
#include <cstdio>
#include <cstdlib>

#include "support/morse.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: morsegen TEXT [hz] [cpm] [amplitude] [noise] [tail seconds]\n");
    return 2;
  }
  talvo::test::MorseSignal m;
  m.text = argv[1];
  if (argc > 2) m.freq = std::atof(argv[2]);
  if (argc > 3) m.cpm = std::atof(argv[3]);
  if (argc > 4) m.amp = std::atof(argv[4]);
  const double noise = argc > 5 ? std::atof(argv[5]) : 0;
  const double tail = argc > 6 ? std::atof(argv[6]) : 1.0;
  const auto k = talvo::test::morse(m);
  const auto samples = talvo::test::mix({k.tone}, k.end + tail, noise, 3);
  const std::string bytes = talvo::test::to_bytes(samples);
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() ? 0 : 1;
}
