// Writes hours of multi-signal Morse audio with noise as S16LE 48 kHz mono
// to standard output, for long runs: one minute of five stations on five
// clusters (generated once, with the test signal generator) over and over.
// Usage: longgen HOURS [seconds of the repeated minute, default 60]
//        longgen --texts [segment seconds]: what each station sends in one
//        segment, a line each: its frequency in Hz, a tab, the text.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/morse.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: longgen HOURS [segment seconds]\n");
    return 2;
  }
  const bool texts_only = std::strcmp(argv[1], "--texts") == 0;
  const double hours = texts_only ? 0.0 : std::atof(argv[1]);
  const double segment = argc > 2 ? std::atof(argv[2]) : 60.0;
  const char* const texts[] = {"cq cq de ok1xyz ok1xyz pse k", "qrz? de g4abc g4abc k",
                               "cq test de dl1abc dl1abc test k", "w1aw de dk9zz ur 599 599 bk",
                               "tnx fer qso 73 es gl de ve3xyz sk"};
  std::vector<talvo::test::KeyedTone> tones;
  for (int i = 0; i < 5; i++) {
    // Each text repeated as often as it ends two seconds before the
    // segment does: no character is cut at the seam, and the pause there
    // is a word space.
    talvo::test::MorseSignal m;
    m.freq = 500 + 100 * i;
    m.cpm = 60 + 20 * i;
    m.amp = 6000;
    m.start = 0.1 * i;
    m.text = texts[i];
    for (;;) {
      talvo::test::MorseSignal longer = m;
      longer.text += std::string(" ") + texts[i];
      if (talvo::test::morse(longer).end > segment - 2) break;
      m = longer;
    }
    if (texts_only) std::printf("%d\t%s\n", static_cast<int>(m.freq), m.text.c_str());
    tones.push_back(talvo::test::morse(m).tone);
  }
  if (texts_only) return 0;
  const std::string bytes = talvo::test::to_bytes(talvo::test::mix(tones, segment, 1500, 11));
  const long long repeats = static_cast<long long>(hours * 3600 / segment + 0.5);
  for (long long r = 0; r < repeats; r++)
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) return 1;
  return 0;
}
