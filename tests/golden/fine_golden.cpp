// The fine front end's output held bit for bit: a digest of every cluster's
// key state and level at every tick, over a set of signals that walks every
// path of the front end (a pileup of nine, weak stations keyed by whole runs,
// a strong station beside weak ones, fading, noise after silence, a wide
// passband, a span of I/Q, the bundled sample). A change that is meant to
// leave the front end's output alone is checked against the committed
// digests; a change that is meant to change it writes them anew.
//
// Usage: fine_golden --check FILE   compare, print what differs, status 1 if any
//        fine_golden --write FILE   write the digests
//        fine_golden --wav DIR      write the five-station spot recording
//                                   (five.wav) for the program's golden outputs
#include <sndfile.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/fine_run.h"
#include "support/morse.h"
#include "support/render.h"
#include "support/stations.h"
#include "support/write_audio.h"

using namespace talvo;
using namespace talvo::test;

namespace {

// FNV-1a over the bytes of the values.
uint64_t digest(const std::vector<double>& v) {
  uint64_t h = 1469598103934665603ULL;
  for (double x : v) {
    unsigned char b[sizeof x];
    std::memcpy(b, &x, sizeof x);
    for (unsigned char c : b) {
      h ^= c;
      h *= 1099511628211ULL;
    }
  }
  return h;
}

std::vector<float> read_sample(const char* path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path, SFM_READ, &info);
  if (!f) return {};
  std::vector<float> a(static_cast<std::size_t>(info.frames));
  sf_command(f, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
  sf_read_float(f, a.data(), info.frames);
  sf_close(f);
  return a;
}

std::vector<float> quantise(std::vector<float> a) {
  for (float& v : a)
    v = std::round(std::max(-32768.f, std::min(32767.f, v)));
  return a;
}

KeyedTone station(const std::string& text, double hz, double wpm, double amp, double start,
                  uint32_t seed, double jitter = 0.05) {
  MorseSignal m;
  m.text = text;
  m.freq = hz;
  m.cpm = 5 * wpm;
  m.amp = amp;
  m.start = start;
  m.jitter = jitter;
  m.seed = seed;
  KeyedTone t = morse(m).tone;
  t.phase = 0.7 * seed;
  return t;
}

const char* const kTexts[] = {"cq cq de dl1abc dl1abc k",   "qrz de ok1xyz ok1xyz pse k",
                              "g4abc de w1aw ur 599 bk",    "tnx fer qso 73 es gl sk",
                              "cq test ve3xyz ve3xyz test", "rst 579 579 name tom qth rome",
                              "de sp5zz sp5zz k",           "wx hr cloudy temp 12c",
                              "qsl via buro 73 tu",         "hw cpy? bk"};

std::string long_text(int i, int words) {
  std::string s;
  for (int w = 0; w < words; w++) {
    if (!s.empty()) s += ' ';
    s += kTexts[(i + w) % 10];
  }
  return s;
}

struct Case {
  std::string name;
  std::vector<double> centres;
  std::vector<float> audio;
  bool iq = false;
  int block = 4096;
};

std::vector<Case> cases(const char* sample) {
  std::vector<Case> c;
  const std::vector<float> s = read_sample(sample);
  c.push_back({"sample-9", grid(500, 900), s});
  c.push_back({"sample-49", grid(300, 2700), s});
  c.push_back({"sample-9-block1000", grid(500, 900), s, false, 1000});
  {  // nine stations 50 Hz apart, levels over 18 dB
    std::vector<KeyedTone> t;
    for (int i = 0; i < 9; i++)
      t.push_back(station(long_text(i, 3), 500 + 50 * i, 18 + 2 * i,
                          8000 * std::pow(10, -0.05 * (i % 4) * 6), 0.3 + 0.2 * i, 11 + i));
    c.push_back({"nine", grid(500, 900), quantise(render(t, 30, noise_for_snr(8000, 20), 3))});
  }
  for (double snr : {-3.0, 0.0, 3.0}) {  // weak single stations: the runs keying
    std::vector<KeyedTone> t{station(long_text(2, 4), 700, 25, 4000, 0.5, 5)};
    c.push_back({"weak" + std::to_string(static_cast<int>(snr)), grid(500, 900),
                 quantise(render(t, 40, noise_for_snr(4000, snr), 7))});
  }
  {  // a strong station beside weak ones: subtraction and guards
    std::vector<KeyedTone> t{station(long_text(0, 3), 700, 28, 20000, 0.4, 1),
                             station(long_text(3, 2), 650, 20, 400, 0.9, 2),
                             station(long_text(5, 2), 750, 22, 600, 0.6, 3)};
    c.push_back({"neighbours", grid(500, 900), quantise(render(t, 30, noise_for_snr(400, 12), 9))});
  }
  {  // fading
    std::vector<KeyedTone> t{station(long_text(4, 3), 600, 20, 6000, 0.5, 4),
                             station(long_text(6, 3), 800, 30, 6000, 0.5, 6)};
    std::vector<Fading> f{{0.2, 20, 0}, {1.0, 15, 1}};
    c.push_back(
        {"fading", grid(500, 900), quantise(render(t, 30, noise_for_snr(6000, 15), 13, f))});
  }
  {  // silence, then noise, then a station: the floors learnt afresh
    std::vector<float> a(48000 * 3, 0.f);
    std::vector<KeyedTone> t{station(long_text(7, 2), 700, 24, 5000, 4, 8)};
    std::vector<float> b = quantise(render(t, 20, noise_for_snr(5000, 10), 21));
    a.insert(a.end(), b.begin(), b.end());
    c.push_back({"silence-noise", grid(500, 900), a});
  }
  {  // a span of I/Q with fifteen stations
    std::vector<KeyedTone> t;
    for (int i = 0; i < 15; i++)
      t.push_back(station(long_text(i, 1), -4700 + 650 * i, 18 + i, 3000 + 500 * (i % 5),
                          0.2 + 0.1 * i, 30 + i));
    c.push_back({"iq", grid(-5000, 5000), render(t, 12, 200, 17, {}, true), true});
  }
  return c;
}

std::string run_case(const Case& k) {
  FinePlan plan;
  plan.centres_hz = k.centres;
  plan.iq = k.iq;
  FineFrontEnd fe(plan);
  const FineRun r = run_fine(fe, k.audio, k.block, k.iq);
  std::ostringstream o;
  char line[160];
  for (std::size_t q = 0; q < r.key.size(); q++) {
    long down = 0;
    for (double v : r.key[q])
      down += v > 0;
    std::snprintf(line, sizeof line, "%s %zu %016" PRIx64 " %016" PRIx64 " %ld %.3f\n",
                  k.name.c_str(), q, digest(r.key[q]), digest(r.level[q]), down,
                  fe.snr_db(static_cast<int>(q)));
    o << line;
  }
  return o.str();
}

// The five stations the programs' golden outputs are made from: calls to spot.
int write_five(const std::string& dir) {
  std::vector<Station> st = {
      {500, 22, "cq cq de dl1abc dl1abc k", 0.4, "dl1abc"},
      {800, 26, "cq test ok1xyz ok1xyz test", 0.7, "ok1xyz"},
      {1200, 30, "qrz de g4abc g4abc k", 0.5, "g4abc"},
      {1750, 20, "cq de w1aw w1aw k", 0.9, "w1aw"},
      {2300, 28, "tu lz1kw test ve3xyz ve3xyz 5nn 14", 0.3, "ve3xyz"},
  };
  const double end = stations_end(st) + 1;
  const auto audio = render(station_tones(st, 4000, 0.9), end, noise_for_snr(4000, 12), 5);
  const std::string err = write_float_wav(dir + "/five.wav", audio);
  if (!err.empty()) {
    std::fprintf(stderr, "%s\n", err.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fine_golden --check|--write FILE | --wav DIR\n");
    return 2;
  }
  const std::string mode = argv[1], path = argv[2];
  if (mode == "--wav") return write_five(path);
  std::string all;
  for (const Case& k : cases(TALVO_SAMPLE))
    all += run_case(k);
  if (mode == "--write") {
    std::ofstream(path) << all;
    return 0;
  }
  std::ifstream in(path);
  std::stringstream want;
  want << in.rdbuf();
  if (want.str() == all) {
    std::printf("fine front end: every digest as committed\n");
    return 0;
  }
  std::istringstream a(want.str()), b(all);
  std::string la, lb;
  int bad = 0;
  for (;;) {
    la.clear();
    lb.clear();
    const bool more_a = static_cast<bool>(std::getline(a, la));
    const bool more_b = static_cast<bool>(std::getline(b, lb));
    if (!more_a && !more_b) break;
    if (la != lb && bad++ < 40) std::printf("want %s\n got  %s\n", la.c_str(), lb.c_str());
  }
  std::printf("fine front end: %d lines differ from %s\n", bad, path.c_str());
  return 1;
}
