// Spot precision and recall on contest-like decoded text.
//
// Runners call CQ on their own frequencies for half an hour; callers answer
// them and exchange reports; every over is copied with decoding errors made
// the way a Morse decoder makes them (an element turned, lost or added,
// which gives another character or an unknown one, a character lost, two
// words run together), more of them the weaker the station. The text of
// each frequency goes through a call finder and all of it through one spot
// judge, as in talvo-decode, with Debian's cty.dat and MASTER.SCP.
//
// A spot is right when it names the runner of its frequency. The table gives
// for each judge setting the distinct spots (call and frequency), the wrong
// ones (a caller, or a bust), precision, recall (runners spotted), the
// median seconds to a runner's first spot, and the spacing of re-spots.
//
// Usage: bench_spots [runners] [seed]; BENCH_SPOTS_SHOW=NAME prints the wrong
// spots and missed runners of the rows whose name starts with NAME.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "spots/call_book.h"
#include "spots/call_finder.h"
#include "spots/judge.h"

using namespace talvo::spots;

namespace {

const char* const kMorse[] = {"a.-",    "b-...",  "c-.-.",  "d-..",   "e.",     "f..-.",  "g--.",
                              "h....",  "i..",    "j.---",  "k-.-",   "l.-..",  "m--",    "n-.",
                              "o---",   "p.--.",  "q--.-",  "r.-.",   "s...",   "t-",     "u..-",
                              "v...-",  "w.--",   "x-..-",  "y-.--",  "z--..",  "0-----", "1.----",
                              "2..---", "3...--", "4....-", "5.....", "6-....", "7--...", "8---..",
                              "9----.", "/-..-."};

std::string code_of(char c) {
  for (const char* m : kMorse)
    if (m[0] == c) return m + 1;
  return {};
}

char char_of(const std::string& code) {
  for (const char* m : kMorse)
    if (code == m + 1) return m[0];
  return '~';
}

// The chance that a character is miscopied at an SNR (dB in 500 Hz).
double char_error(double snr_db) {
  return 0.002 + 0.15 / (1 + std::exp((snr_db - 3) / 2.5));
}

// `text` as a decoder might copy it at `snr_db`.
std::string garble(const std::string& text, double snr_db, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0, 1);
  const double p = char_error(snr_db);
  std::string out;
  for (char c : text) {
    if (c == ' ') {
      if (u(rng) >= p / 4) out += ' ';  // words run together
      continue;
    }
    if (u(rng) >= p) {
      out += c;
      continue;
    }
    std::string code = code_of(c);
    const double kind = u(rng);
    const std::size_t at = static_cast<std::size_t>(u(rng) * code.size());
    if (kind < 0.15) continue;  // lost
    if (kind < 0.55)
      code[at] = code[at] == '.' ? '-' : '.';
    else if (kind < 0.8 && code.size() > 1)
      code.erase(at, 1);
    else
      code.insert(at, 1, u(rng) < 0.5 ? '.' : '-');
    out += char_of(code);
  }
  return out;
}

std::vector<std::string> lines_of(const char* path) {
  std::ifstream f(path);
  std::vector<std::string> r;
  for (std::string l; std::getline(f, l);)
    if (!l.empty() && l[0] != '#') r.push_back(l);
  return r;
}

std::string lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct Over {
  double t;          // seconds of audio
  int station;       // its frequency's runner
  double snr_db;     // of who sends it
  std::string text;  // as copied
};

struct Scenario {
  std::vector<std::string> runners;  // upper case
  std::vector<double> runner_snr;    // dB
  std::vector<Over> overs;           // in time order
};

// Half an hour of contest on `n` frequencies; a third of the runners are
// not in the call list (made from listed calls with another suffix letter).
Scenario make(int n, const CallBook& book, const std::vector<std::string>& scp, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  auto pick = [&] { return scp[static_cast<std::size_t>(u(rng) * scp.size()) % scp.size()]; };
  auto unknown = [&] {
    for (;;) {
      std::string c = pick();
      c.back() = static_cast<char>('A' + static_cast<int>(u(rng) * 26) % 26);
      if (!book.known(c) && book.valid(c) && c.find('/') == std::string::npos) return c;
    }
  };
  Scenario s;
  for (int i = 0; i < n; i++) {
    s.runners.push_back(i % 3 == 2 ? unknown() : pick());
    s.runner_snr.push_back(-3 + 33 * u(rng));
  }
  for (int i = 0; i < n; i++) {
    const std::string r = lower(s.runners[static_cast<std::size_t>(i)]);
    const double rs = s.runner_snr[static_cast<std::size_t>(i)];
    double t = 10 * u(rng);
    auto say = [&](double snr, const std::string& text) {
      s.overs.push_back({t, i, snr, garble(text, snr, rng)});
      t += 0.35 * static_cast<double>(text.size()) / 5 + 0.5;
    };
    while (t < 1800) {
      if (u(rng) < 0.4) say(rs, "cq test " + r + " " + r + " test");
      const std::string c = lower(u(rng) < 0.7 ? pick() : unknown());
      const double cs = -3 + 33 * u(rng);
      say(cs, u(rng) < 0.3 ? c + " " + c : c);
      const int nr = 1 + static_cast<int>(u(rng) * 1400);
      say(rs, c + " 5nn " + std::to_string(nr));
      say(cs, (u(rng) < 0.5 ? "tu 5nn " : "r 5nn ") +
                  std::to_string(1 + static_cast<int>(u(rng) * 40)));
      const double k = u(rng);
      say(rs, k < 0.6 ? "tu " + r + " test" : k < 0.8 ? r + " test" : "tu");
      t += 2 * u(rng);
    }
  }
  std::stable_sort(s.overs.begin(), s.overs.end(),
                   [](const Over& a, const Over& b) { return a.t < b.t; });
  return s;
}

struct Result {
  int distinct = 0, wrong = 0, spotted_runners = 0, spots = 0;
  double median_first = 0, min_gap = 0, max_gap = 0;
};

// Whether to print the wrong spots and missed runners of the row `name`:
// BENCH_SPOTS_SHOW set to the start of its name.
bool show(const char* name) {
  const char* v = std::getenv("BENCH_SPOTS_SHOW");
  return v != nullptr && std::string(name).rfind(v, 0) == 0;
}

Result run(const Scenario& s, const CallBook& book, const JudgePolicy& p, bool verbose) {
  std::vector<CallFinder> finders(s.runners.size());
  SpotJudge judge(&book, 0, p);
  std::vector<FoundCall> found;
  std::vector<Spot> out;
  std::set<std::pair<std::string, int>> distinct;
  std::map<int, std::vector<double>> runner_spots;
  Result r;
  for (const Over& o : s.overs) {
    out.clear();
    judge.tick(o.t, out);
    for (const Spot& sp : out)
      for (std::size_t st = 0; st < s.runners.size(); st++)
        if (sp.call == s.runners[st] && std::fabs(sp.freq_hz - (14000000 + 1000.0 * st)) < 1)
          runner_spots[static_cast<int>(st)].push_back(static_cast<double>(sp.utc));
    found.clear();
    finders[static_cast<std::size_t>(o.station)].feed((o.text + " ").c_str(), found);
    for (const auto& c : found) {
      out.clear();
      const double hz = 14000000 + 1000.0 * o.station;
      if (judge.hear(c, hz, o.snr_db, 28, o.t, out) == 0) continue;
      r.spots++;
      if (verbose && out[0].call != s.runners[static_cast<std::size_t>(o.station)] &&
          !distinct.count({out[0].call, o.station}))
        std::printf("  wrong %s (runner %s, %s x%d, %.1f dB): %s\n", out[0].call.c_str(),
                    s.runners[static_cast<std::size_t>(o.station)].c_str(), type_name(c.type),
                    c.copies, o.snr_db, o.text.c_str());
      distinct.insert({out[0].call, o.station});
      if (out[0].call == s.runners[static_cast<std::size_t>(o.station)])
        runner_spots[o.station].push_back(static_cast<double>(out[0].utc));
    }
  }
  r.distinct = static_cast<int>(distinct.size());
  for (const auto& [call, st] : distinct)
    if (call != s.runners[static_cast<std::size_t>(st)]) r.wrong++;
  r.spotted_runners = static_cast<int>(runner_spots.size());
  for (std::size_t st = 0; st < s.runners.size(); st++)
    if (verbose && !runner_spots.count(static_cast<int>(st)))
      std::printf("  missed %s (%s, %.1f dB)\n", s.runners[st].c_str(),
                  book.known(s.runners[st]) ? "known" : "unknown", s.runner_snr[st]);
  std::vector<double> first, gaps;
  for (const auto& [st, ts] : runner_spots) {
    first.push_back(ts[0]);
    for (std::size_t i = 1; i < ts.size(); i++)
      gaps.push_back(ts[i] - ts[i - 1]);
  }
  std::sort(first.begin(), first.end());
  if (!first.empty()) r.median_first = first[first.size() / 2];
  if (!gaps.empty()) {
    r.min_gap = *std::min_element(gaps.begin(), gaps.end());
    r.max_gap = *std::max_element(gaps.begin(), gaps.end());
  }
  return r;
}

std::string read(const char* path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
  const std::string cty = read(kCtyPath), scp_text = read(kScpPath);
  CallBook book;
  const std::string notice =
      book.load(cty.empty() ? nullptr : &cty, scp_text.empty() ? nullptr : &scp_text);
  if (!notice.empty()) std::fprintf(stderr, "bench_spots: %s\n", notice.c_str());
  const std::vector<std::string> scp = lines_of(kScpPath);
  if (scp.empty()) {
    std::fprintf(stderr, "bench_spots: no call list at %s\n", kScpPath);
    return 1;
  }
  const Scenario s = make(n, book, scp, seed);
  std::printf("%d runners (a third not in MASTER.SCP), SNR -3..30 dB, 30 min, %zu overs\n", n,
              s.overs.size());
  struct Row {
    const char* name;
    JudgePolicy p;
  };
  auto policy = [](int known, int unknown, bool adjust, bool rivals) {
    JudgePolicy p;
    p.known_copies = known;
    p.unknown_copies = unknown;
    p.max_copies = adjust ? 4 : std::max(known, unknown);
    p.weak_snr_db = adjust ? 6 : -1000;
    p.unclean_more = adjust;
    p.rivals = rivals;
    return p;
  };
  const Row rows[] = {{"1/1 copies, no rivals", policy(1, 1, false, false)},
                      {"1/1 copies", policy(1, 1, false, true)},
                      {"1/2 copies", policy(1, 2, false, true)},
                      {"2/2 copies", policy(2, 2, false, true)},
                      {"2/3 copies", policy(2, 3, false, true)},
                      {"2/3 +weak +garbled (default)", JudgePolicy{}},
                      {"default, no near copies",
                       [] {
                         JudgePolicy p;
                         p.near_known = false;
                         return p;
                       }()},
                      {"default, doubled +weak",
                       [] {
                         JudgePolicy p;
                         p.doubled = false;
                         return p;
                       }()},
                      {"default, nothing lent",
                       [] {
                         JudgePolicy p;
                         p.lent = false;
                         return p;
                       }()},
                      {"2/3 +weak +garbled, no rivals", policy(2, 3, true, false)},
                      {"3/4 copies", policy(3, 4, false, true)}};
  std::printf("%-31s %8s %6s %9s %7s %10s %13s\n", "judge (known/unknown copies)", "distinct",
              "wrong", "precision", "recall", "first s", "re-spot s");
  for (const Row& row : rows) {
    const Result r = run(s, book, row.p, show(row.name));
    std::printf("%-31s %8d %6d %8.1f%% %6.1f%% %10.0f %6.0f-%-6.0f\n", row.name, r.distinct,
                r.wrong, r.distinct ? 100.0 * (r.distinct - r.wrong) / r.distinct : 0.0,
                100.0 * r.spotted_runners / n, r.median_first, r.min_gap, r.max_gap);
  }
  return 0;
}
