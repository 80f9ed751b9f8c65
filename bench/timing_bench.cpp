// Character error rate of the fine timing decoder on key states made from
// generated Morse with known timing, beside the classic decoder (decode3 on
// one cluster centre of a receiver whose channel ticks at the same rate).
// CER is the edit distance over the sent characters, on the whole text (the
// first word included) and from the second word on, in lower case with runs
// of blanks as one. Usage: timing_bench [TICKS_PER_SECOND] (500 or 1000).
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "decoder/fine_timing.h"
#include "support/keystates.h"
#include "support/morse.h"

using namespace talvo;
using namespace talvo::test;

namespace {

const char* const kText =
    "cq cq de dl1abc dl1abc k ok2xyz de dl1abc gm ur rst 599 599 name jan qth "
    "prague hw? ok2xyz de dl1abc r fb jan tnx fer call ur 579 op tom qth 1/2 km "
    "frm berlin wx sunny temp 22c rig 100w ant dipole 73 es gl sk";

struct Collect : TimingSink {
  std::string text;
  void put(const char* s, long) override { text += s; }
};

struct ClassicCollect : DecoderOutput {
  std::string text;
  void print(const ClusterDecoder&, int, const char* s) override { text += s; }
};

std::string trim(std::string s) {
  s = normalise(s);
  while (!s.empty() && s.front() == ' ')
    s.erase(0, 1);
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
  return s;
}

std::string run_fine(const KeyStates& k, double rate) {
  FineTimingConfig c;
  c.tick_rate = rate;
  FineTiming f(c);
  Collect out;
  for (uint8_t s : k)
    f.step(s != 0, out);
  f.flush(out);
  return out.text;
}

std::string run_classic(const KeyStates& k, int rate) {
  Decoder dec(Rules::kClassic, {rate}, 100);
  ClassicCollect out;
  for (uint8_t s : k)
    dec.step(0, s != 0, out);
  return out.text;
}

double cer(const std::string& sent, const std::string& got) {
  const std::string a = trim(sent);
  return static_cast<double>(edit_distance(a, trim(got))) / static_cast<double>(a.size());
}

double cer2(const std::string& sent, const std::string& got) {
  const std::string a = after_first_word(sent);
  return static_cast<double>(edit_distance(a, after_first_word(got))) /
         static_cast<double>(a.size());
}

struct Row {
  double fine = 0, fine2 = 0, classic = 0, classic2 = 0;
};

// One signal, `seeds` times with different jitter and faults.
template <class Make>
Row score(int seeds, const std::string& sent, double rate, Make make) {
  Row r;
  for (int s = 1; s <= seeds; s++) {
    const KeyStates k = make(static_cast<uint32_t>(s));
    const std::string f = run_fine(k, rate);
    const std::string c = run_classic(k, static_cast<int>(rate));
    r.fine += cer(sent, f) / seeds;
    r.fine2 += cer2(sent, f) / seeds;
    r.classic += cer(sent, c) / seeds;
    r.classic2 += cer2(sent, c) / seeds;
  }
  return r;
}

void print(const char* name, const Row& r) {
  std::printf("%-34s %7.3f %7.3f   %7.3f %7.3f\n", name, r.fine, r.fine2, r.classic, r.classic2);
  std::fflush(stdout);
}

KeyStates keyed(const MorseSignal& m, double rate) {
  const Keyed k = morse(m);
  return key_states(k.tone.on, rate, 0.013, k.end + 2);
}

}  // namespace

int main(int argc, char** argv) {
  const double rate = argc > 1 ? std::atof(argv[1]) : 500;
  if (rate != 500 && rate != 1000) {
    std::fprintf(stderr, "usage: timing_bench [500|1000]\n");
    return 2;
  }
  const int seeds = 5;
  char name[64];
  std::printf("tick rate %.0f /s, %d seeds per row, %zu sent characters, delay 13 ms\n", rate,
              seeds, trim(kText).size());
  std::printf("%-34s %7s %7s   %7s %7s\n", "", "fine", "fine", "classic", "classic");
  std::printf("%-34s %7s %7s   %7s %7s\n", "case", "CER", "CER-1w", "CER", "CER-1w");

  for (double wpm : {10, 12, 15, 20, 25, 30, 35, 40, 45, 50}) {
    std::snprintf(name, sizeof name, "clean %2.0f WPM", wpm);
    print(name, score(1, kText, rate, [&](uint32_t) {
            MorseSignal m;
            m.text = kText;
            m.cpm = 5 * wpm;
            return keyed(m, rate);
          }));
  }
  for (double wpm : {12, 20, 35, 50})
    for (double j : {0.05, 0.1, 0.15, 0.2}) {
      std::snprintf(name, sizeof name, "jitter %.2f unit, %2.0f WPM", j, wpm);
      print(name, score(seeds, kText, rate, [&](uint32_t s) {
              MorseSignal m;
              m.text = kText;
              m.cpm = 5 * wpm;
              m.jitter = j;
              m.seed = s;
              return keyed(m, rate);
            }));
    }
  for (double wpm : {12, 20, 35, 50})
    for (double p : {0.01, 0.02, 0.05, 0.10}) {
      std::snprintf(name, sizeof name, "flipped ticks %2.0f%%, %2.0f WPM", 100 * p, wpm);
      print(name, score(seeds, kText, rate, [&](uint32_t s) {
              MorseSignal m;
              m.text = kText;
              m.cpm = 5 * wpm;
              KeyStates k = keyed(m, rate);
              flip_isolated(k, p, s);
              return k;
            }));
    }
  for (double wpm : {12, 20, 30})
    for (double len : {0.15, 0.25}) {
      std::snprintf(name, sizeof name, "dropouts %.2f dit, 30%% marks, %2.0f WPM", len, wpm);
      print(name, score(seeds, kText, rate, [&](uint32_t s) {
              MorseSignal m;
              m.text = kText;
              m.cpm = 5 * wpm;
              KeyStates k = keyed(m, rate);
              add_dropouts(k, rate, 0.3, len * 1.2 / wpm, 1.2 / wpm * 2, s);
              return k;
            }));
    }
  const std::pair<double, double> farnsworth[] = {{25, 12}, {20, 10}, {18, 12}, {30, 15}};
  for (const auto& speeds : farnsworth) {
    const double chars = speeds.first, gaps = speeds.second;
    std::snprintf(name, sizeof name, "Farnsworth %2.0f/%2.0f WPM", chars, gaps);
    print(name, score(1, kText, rate, [&](uint32_t) {
            MorseSignal m;
            m.text = kText;
            m.cpm = 5 * chars;
            m.farnsworth = 5 * gaps;
            return keyed(m, rate);
          }));
  }
  const std::pair<double, double> changes[] = {{14, 38}, {38, 14}, {20, 45}, {45, 12}};
  const std::string a = "cq cq de ok2xyz ok2xyz k";
  const std::string b = "ok2xyz de dl1abc ur rst 599 name tom qth berlin hw? k";
  for (const auto& speeds : changes) {
    const double s1 = speeds.first, s2 = speeds.second;
    std::snprintf(name, sizeof name, "speed change %2.0f -> %2.0f WPM", s1, s2);
    print(name, score(1, a + " " + b, rate, [&](uint32_t) {
            MorseSignal m1, m2;
            m1.text = a;
            m1.cpm = 5 * s1;
            m2.text = b;
            m2.cpm = 5 * s2;
            double end = 0;
            auto on = one_after_other(m1, m2, 3.0, &end);
            return key_states(on, rate, 0.013, on.back().second + 2);
          }));
  }
  std::printf("\nnoise alone, characters output in 10 minutes   fine  classic\n");
  const double runs[][2] = {{0.001, 0.004}, {0.001, 0.010}, {0.005, 0.030}, {0.010, 0.080}};
  for (const auto& r : runs) {
    const KeyStates k = noise_states(600, rate, r[0], r[1], 0.1, 7);
    auto count = [](const std::string& s) {
      int n = 0;
      for (char c : s)
        n += c != ' ';
      return n;
    };
    std::snprintf(name, sizeof name, "down runs %2.0f..%2.0f ms every ~100 ms", 1000 * r[0],
                  1000 * r[1]);
    std::printf("%-46s %5d %8d\n", name, count(run_fine(k, rate)),
                count(run_classic(k, static_cast<int>(rate))));
  }
  return 0;
}
