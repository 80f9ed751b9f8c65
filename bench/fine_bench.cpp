// The fine front end measured against generated signals whose keying is
// known: neighbour rejection, off-centre keying, level independence, noise
// alone, weak signals, speeds, fading, speed of the code. Prints tables.
//
// Usage: fine_bench [--quick]   (--quick: shorter signals, one minute of noise)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "rx/fine.h"
#include "support/fine_run.h"
#include "support/morse.h"
#include "support/render.h"

using namespace talvo;
using namespace talvo::test;

namespace {

// Key states and levels of every cluster at every tick.
using Out = FineRun;

Out process(const std::vector<double>& centres, const std::vector<float>& audio, bool iq = false,
            int block = 4096) {
  return run_fine(centres, audio, iq, block);
}

std::string text(int words, uint32_t seed) {
  static const char* const pool[] = {"cq",  "de",  "dl1abc", "k",    "test", "599", "5nn",
                                     "tu",  "ur",  "rst",    "name", "op",   "qth", "berlin",
                                     "73",  "es",  "fb",     "hr",   "wx",   "pse", "agn",
                                     "rig", "ant", "dipole", "qrz",  "bk",   "r",   "gm"};
  std::mt19937 g(seed);
  std::string s;
  for (int i = 0; i < words; i++) {
    if (i) s += ' ';
    s += pool[g() % (sizeof pool / sizeof pool[0])];
  }
  return s;
}

Keyed station(double wpm, double freq, double amp, double seconds, uint32_t seed) {
  MorseSignal m;
  m.text = text(static_cast<int>(seconds * wpm / 60 * 1.3) + 4, seed);
  m.freq = freq;
  m.cpm = 5 * wpm;
  m.amp = amp;
  m.start = 0.5;
  Keyed k = morse(m);
  // Keep the marks that end before the signal does.
  auto& on = k.tone.on;
  on.erase(std::remove_if(on.begin(), on.end(),
                          [&](const auto& iv) { return iv.second > seconds - 1.0; }),
           on.end());
  k.tone.phase = 0.3 * seed;
  return k;
}

struct Score {
  double tick_err = 0;  // fraction of ticks wrong
  int marks = 0;        // true marks
  int missed = 0, split = 0, merged = 0, falses = 0;
  double element_err() const {
    return marks ? static_cast<double>(missed + split + merged + falses) / marks : 0;
  }
};

struct Run {
  int a, b;  // ticks [a, b)
};

std::vector<Run> runs(const std::vector<bool>& v) {
  std::vector<Run> r;
  for (std::size_t i = 0; i < v.size();) {
    if (!v[i]) {
      i++;
      continue;
    }
    std::size_t j = i;
    while (j < v.size() && v[j])
      j++;
    r.push_back({static_cast<int>(i), static_cast<int>(j)});
    i = j;
  }
  return r;
}

// Compares key states (delayed by lag ticks) with the truth from tick `from` on.
Score score(const std::vector<double>& key, const std::vector<uint8_t>& truth, int lag, int from) {
  Score s;
  const int n = static_cast<int>(std::min(truth.size(), key.size() - lag));
  std::vector<bool> k(n, false), tr(n, false);
  int wrong = 0, count = 0;
  for (int t = from; t < n; t++) {
    k[t] = key[t + lag] > 0;
    tr[t] = truth[t] != 0;
    wrong += k[t] != tr[t];
    count++;
  }
  s.tick_err = count ? static_cast<double>(wrong) / count : 0;
  const auto tm = runs(tr), km = runs(k);
  s.marks = static_cast<int>(tm.size());
  // Overlaps by sweeping both lists.
  std::vector<int> per_true(tm.size(), 0), per_key(km.size(), 0);
  std::size_t j0 = 0;
  for (std::size_t i = 0; i < tm.size(); i++) {
    while (j0 < km.size() && km[j0].b <= tm[i].a)
      j0++;
    for (std::size_t j = j0; j < km.size() && km[j].a < tm[i].b; j++) {
      per_true[i]++;
      per_key[j]++;
    }
  }
  for (int c : per_true) {
    if (c == 0) s.missed++;
    if (c > 1) s.split++;
  }
  for (int c : per_key) {
    if (c == 0) s.falses++;
    if (c > 1) s.merged++;
  }
  return s;
}

// Key-down runs of at least min_ticks ticks.
int count_runs(const std::vector<double>& key, int min_ticks, int from = 0) {
  int n = 0, len = 0;
  for (std::size_t t = from; t <= key.size(); t++) {
    if (t < key.size() && key[t] > 0) {
      len++;
    } else {
      if (len >= min_ticks) n++;
      len = 0;
    }
  }
  return n;
}

const std::vector<double> kNine = grid(500, 900);

// One station on cluster 700 (index 4) or at freq; scored on the nearest cluster.
Score station_case(double wpm, double snr, double seconds, int lag, uint32_t seed,
                   double freq = 700, const std::vector<Fading>& fade = {}) {
  const double amp = 3000;
  Keyed k = station(wpm, freq, amp, seconds, seed);
  const auto audio = render({k.tone}, seconds, noise_for_snr(amp, snr), seed + 100, fade);
  const Out o = process(kNine, audio);
  int q = 0;
  for (int i = 0; i < static_cast<int>(kNine.size()); i++)
    if (std::abs(kNine[i] - freq) < std::abs(kNine[q] - freq)) q = i;
  const auto truth = key_truth(k.tone, o.key[q].size());
  return score(o.key[q], truth, lag, 500);
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const double secs = quick ? 40 : 120;
  std::printf("fine front end benchmark%s\n\n", quick ? " (quick)" : "");
  {
    FinePlan p;
    p.centres_hz = kNine;
    FineFrontEnd fe(p);
    std::printf(
        "tick rate %.0f /s, %d frames per tick, channel noise bandwidth %.1f Hz, "
        "nominal delay %.1f ticks\n\n",
        fe.tick_rate(), fe.samples_per_tick(), fe.noise_bandwidth_hz(), fe.delay_ticks());
  }

  // Fixed delay: the lag that best aligns a clean 20 WPM station.
  int lag = 0;
  {
    Keyed k = station(20, 700, 3000, 30, 7);
    const auto audio = render({k.tone}, 30, 0, 1);
    const Out o = process(kNine, audio);
    const auto truth = key_truth(k.tone, o.key[4].size());
    double best = 2;
    for (int l = 0; l < 120; l++) {
      const double e = score(o.key[4], truth, l, 500).tick_err;
      if (e < best) {
        best = e;
        lag = l;
      }
    }
    std::printf("measured delay: %d ticks (clean 20 WPM, key-state error there %.4f)\n\n", lag,
                best);
  }

  // Rejection: steady carriers, clean.
  {
    std::printf("| steady carrier offset from cluster 700 | envelope power vs on centre |\n");
    std::printf("|---|---|\n");
    KeyedTone c;
    c.freq = 700;
    c.amp = 10000;
    c.on = {{0.0, 10.0}};
    const Out ref = process(kNine, render({c}, 4, 0, 1));
    const double p0 = mean_from(ref.level[4], 1000);
    for (double off : {10.0, 20.0, 25.0, 30.0, 40.0, 50.0, 75.0, 100.0, 150.0}) {
      c.freq = 700 + off;
      const Out o = process(kNine, render({c}, 4, 0, 1));
      std::printf("| %+.0f Hz | %.1f dB |\n", off,
                  10 * std::log10(mean_from(o.level[4], 1000) / p0));
    }
    std::printf("\n");
  }

  // What a keyed station leaves in the clusters beside it, with and
  // without subtracting it: the 99th percentile of their short-average
  // power against the station's own key-down power.
  {
    std::printf(
        "| keyed station at 700 Hz, +50 dB | leakage 50 / 100 / 150 Hz away, 99th percentile, "
        "filtered | subtracted |\n|---|---|---|\n");
    for (double wpm : {16.0, 22.0, 28.0, 33.0}) {
      const double amp = 6000;
      Keyed k = station(wpm, 700, amp, quick ? 20 : 40, static_cast<uint32_t>(wpm));
      const auto audio = render({k.tone}, quick ? 20 : 40, noise_for_snr(amp, 50), 3);
      std::string cells[2];
      for (int sub = 0; sub < 2; sub++) {
        FinePlan p;
        p.centres_hz = kNine;
        p.subtract = sub == 1;
        FineFrontEnd fe(p);
        const Out o = run_fine(fe, audio);
        auto pct = [](const std::vector<double>& v, double f) {
          return percentile_from(v, 1500, f);
        };
        const double ref = pct(o.level[4], 0.9);
        for (int q : {3, 2, 1}) {
          char b[32];
          std::snprintf(b, sizeof b, "%s%.1f dB", q == 3 ? "" : " / ",
                        10 * std::log10(std::max(pct(o.level[q], 0.99), 1e-30) / ref));
          cells[sub] += b;
        }
      }
      std::printf("| %.0f WPM | %s | %s |\n", wpm, cells[0].c_str(), cells[1].c_str());
    }
    std::printf("\n");
  }

  // Keyed neighbour 20 dB above a +6 dB station, 50 Hz away.
  {
    std::printf(
        "| keyed neighbour 50 Hz away (20 WPM) | cluster 700 key-down ticks | runs >= 2 "
        "ticks | runs >= 5 ticks (10 ms) |\n|---|---|---|---|\n");
    for (double nsnr : {26.0, 30.0, 40.0, 200.0}) {
      for (double wpm : {20.0, 30.0}) {
        const double amp = 6000;
        Keyed nb = station(wpm, 750, amp, secs, 11);
        const double noise = nsnr > 100 ? 0 : noise_for_snr(amp, nsnr);
        const Out o = process(kNine, render({nb.tone}, secs, noise, 3));
        int down = 0;
        for (std::size_t t = 500; t < o.key[4].size(); t++)
          down += o.key[4][t] > 0;
        std::printf(
            "| %s, %.0f WPM | %d | %d | %d |\n",
            nsnr > 100 ? "no noise" : (std::to_string(static_cast<int>(nsnr)) + " dB SNR").c_str(),
            wpm, down, count_runs(o.key[4], 2, 500), count_runs(o.key[4], 5, 500));
      }
    }
    std::printf(
        "\n| +6 dB station on 700 with a +26 dB neighbour on 750 (20 WPM both) | key-state "
        "error | element errors |\n|---|---|---|\n");
    {
      const double amp = 600;
      Keyed st = station(20, 700, amp, secs, 21);
      Keyed nb = station(20, 750, amp * 10, secs, 22);
      const Out o = process(kNine, render({st.tone, nb.tone}, secs, noise_for_snr(amp, 6), 5));
      const auto truth = key_truth(st.tone, o.key[4].size());
      const Score s = score(o.key[4], truth, lag, 500);
      std::printf(
          "| cluster 700 | %.3f | %.3f (%d marks: %d missed, %d split, %d merged, %d "
          "false) |\n\n",
          s.tick_err, s.element_err(), s.marks, s.missed, s.split, s.merged, s.falses);
    }
  }

  // Off centre, +10 dB, 20 WPM.
  {
    std::printf("| offset (+10 dB, 20 WPM) | key-state error | element error |\n|---|---|---|\n");
    for (double off : {0.0, 10.0, 15.0, 20.0, 24.0}) {
      const Score s = station_case(20, 10, secs / 2, lag, 31, 700 + off);
      std::printf("| %+.0f Hz | %.3f | %.3f |\n", off, s.tick_err, s.element_err());
    }
    std::printf("\n");
  }

  // Level independence: the same quantised audio scaled to peak at a fraction of full scale.
  {
    std::printf(
        "| peak level (9 clusters, 3 stations at +6/+12/+20 dB, 25 WPM) | ticks agreeing "
        "with 0.1 FS (all clusters) |\n|---|---|\n");
    const double s = secs / 2;
    Keyed a = station(25, 600, 1000, s, 41), b = station(25, 700, 2000, s, 42),
          c = station(25, 812, 5000, s, 43);
    // Noise for +6 dB on the weakest station.
    const auto base = render({a.tone, b.tone, c.tone}, s, noise_for_snr(1000, 6), 44);
    float peak = 0;
    for (float v : base)
      peak = std::max(peak, std::abs(v));
    auto scaled = [&](double fs) {
      std::vector<float> v(base.size());
      const double g = fs * 32768 / peak;
      for (std::size_t i = 0; i < v.size(); i++)
        v[i] = static_cast<float>(std::clamp(std::round(base[i] * g), -32768.0, 32767.0));
      return v;
    };
    const Out ref = process(kNine, scaled(0.1));
    for (double fs : {0.003, 0.01, 0.03, 0.3, 0.9}) {
      const Out o = process(kNine, scaled(fs));
      long agree = 0, all = 0;
      for (std::size_t q = 0; q < kNine.size(); q++)
        for (std::size_t t = 500; t < ref.key[q].size(); t++) {
          agree += (ref.key[q][t] > 0) == (o.key[q][t] > 0);
          all++;
        }
      std::printf("| %.3f FS | %.4f |\n", fs, static_cast<double>(agree) / all);
    }
    std::printf("\n");
  }

  // Noise alone.
  {
    const double minutes = quick ? 1 : 10;
    std::printf(
        "| white noise alone, %.0f min, 9 clusters | key-down ticks | runs >= 2 ticks | "
        "runs >= 5 ticks (10 ms) | runs >= 10 ticks |\n|---|---|---|---|---|\n",
        minutes);
    for (double sigma : {3.0, 300.0, 8000.0}) {
      FinePlan p;
      p.centres_hz = kNine;
      FineFrontEnd fe(p);
      std::mt19937 gen(77);
      std::normal_distribution<float> g(0.0f, static_cast<float>(sigma));
      std::vector<float> buf(4096);
      std::vector<int> len(9, 0);
      long down = 0;
      int r2 = 0, r5 = 0, r10 = 0;
      const long total = static_cast<long>(minutes * 60 * 48000);
      for (long i = 0; i < total; i += 4096) {
        for (float& v : buf)
          v = g(gen);
        fe.run(buf.data(), 4096);
        for (int t = 0; t < fe.ticks(); t++)
          for (int q = 0; q < 9; q++) {
            if (fe.key(q, t) > 0) {
              len[q]++;
              down++;
            } else {
              r2 += len[q] >= 2;
              r5 += len[q] >= 5;
              r10 += len[q] >= 10;
              len[q] = 0;
            }
          }
      }
      std::printf("| sigma %.0f | %ld | %d | %d | %d |\n", sigma, down, r2, r5, r10);
    }
    std::printf("\n");
  }

  // Weak signals.
  {
    std::printf(
        "| station (nearest cluster on centre) | key-state error | element error | marks "
        "| missed | split | merged | false |\n|---|---|---|---|---|---|---|---|\n");
    for (double wpm : {20.0, 30.0})
      for (double snr : {10.0, 6.0, 3.0, 0.0, -3.0}) {
        const Score s = station_case(wpm, snr, secs, lag, 50 + static_cast<int>(wpm + snr));
        std::printf("| %.0f WPM %+.0f dB | %.3f | %.3f | %d | %d | %d | %d | %d |\n", wpm, snr,
                    s.tick_err, s.element_err(), s.marks, s.missed, s.split, s.merged, s.falses);
      }
    for (double wpm : {10.0, 15.0, 40.0, 50.0}) {
      const Score s = station_case(wpm, 10, secs, lag, 60 + static_cast<int>(wpm));
      std::printf("| %.0f WPM %+.0f dB | %.3f | %.3f | %d | %d | %d | %d | %d |\n", wpm, 10.0,
                  s.tick_err, s.element_err(), s.marks, s.missed, s.split, s.merged, s.falses);
    }
    std::printf("\n");
  }

  // Fading.
  {
    std::printf(
        "| fading (20 WPM) | key-state error | element error | marks | missed | split | "
        "merged | false |\n|---|---|---|---|---|---|---|---|\n");
    struct F {
      const char* name;
      double snr, rate, depth;
    } cases[] = {{"QSB 0.2 Hz 20 dB deep, +20 dB", 20, 0.2, 20},
                 {"flutter 1 Hz 15 dB deep, +12 dB", 12, 1.0, 15}};
    for (const F& f : cases) {
      const Score s = station_case(20, f.snr, secs, lag, 90, 700, {{f.rate, f.depth, 0}});
      std::printf("| %s | %.3f | %.3f | %d | %d | %d | %d | %d |\n", f.name, s.tick_err,
                  s.element_err(), s.marks, s.missed, s.split, s.merged, s.falses);
    }
    std::printf("\n");
  }

  // Speed: the CPU time of this thread (the machine may be shared) and the
  // wall time, best of three runs over a minute of audio.
  {
    std::printf(
        "| clusters | real-time factor, CPU time (4096-frame blocks, one core) | by wall "
        "clock |\n|---|---|---|\n");
    const double s = 60;
    const auto audio = render(random_tones(6, 300, 2700, 500, 5000, s, 5), s, 300, 9);
    auto cpu = [] {
      timespec ts;
      clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
      return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
    };
    for (int k : {9, 49}) {
      const auto centres = k == 9 ? kNine : grid(300, 2700);
      FinePlan p;
      p.centres_hz = centres;
      FineFrontEnd fe(p);
      double best_cpu = 1e9, best_wall = 1e9;
      for (int rep = 0; rep < 3; rep++) {
        fe.reset();
        const double c0 = cpu();
        const auto t0 = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i + 4096 <= audio.size(); i += 4096)
          fe.run(audio.data() + i, 4096);
        best_wall =
            std::min(best_wall,
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        best_cpu = std::min(best_cpu, cpu() - c0);
      }
      std::printf("| %d | %.0fx | %.0fx |\n", k, s / best_cpu, s / best_wall);
    }
  }
  return 0;
}
