// The skimmer measured against generated stations whose texts, calls,
// frequencies, speeds and strengths are known. Prints one table per case:
//
//   five   five stations over 300-2700 Hz at +10 dB, 20-30 WPM: CER per
//          station, characters on clusters without a station, each call's
//          spot with its frequency, speed and SNR errors, false spots
//   speed  49 clusters (300-2700 Hz): real-time factor of talvo-decode with
//          --threads 2 (and 1), peak memory
//   iq     40 kHz of I/Q (--span -20000-20000) with 30 stations: stations
//          decoded and spotted, real-time factor
//   telnet 20 clients of talvo-decode --telnet on a stream of H hours of
//          audio, piped at real-time pace or as fast as it decodes: every
//          client received every spot, in order
//
// Usage: skimmer [--case five|speed|iq|telnet]... [--hours H] [--pace real|fast]
//                [--decoder PATH]... [--keep DIR]
//
// The five-station case runs the decoding engine of talvo-decode in this
// process (the same engine, clusters and call finder; the spot dedup on
// audio time) so that the spot frequency is seen before it is rounded to
// 0.1 kHz for the spot line. The other cases run talvo-decode itself, timed
// with wait4() (wall clock, CPU time, peak resident memory).
#include "skimmer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "spots/spot.h"
#include "support/loopback.h"
#include "support/morse.h"
#include "support/process.h"
#include "support/render.h"
#include "support/stations.h"
#include "support/stopwatch.h"
#include "support/write_audio.h"

using namespace talvo;
using test::Clock;
using test::since;
using test::Station;

namespace bench {

std::vector<std::string> decoders;  // talvo-decode programs measured, side by side
std::string keep_dir;               // where the I/Q cases leave their WAV (empty: removed)

// The call in upper case, as spots name it.
std::string upper(std::string call) {
  for (char& ch : call)
    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return call;
}

// A unique ITU-shaped call for number n.
std::string call_for(int n) {
  static const char* const prefix[] = {"dl", "ok", "g", "w", "ja", "ve", "f", "sp", "ea", "on"};
  std::string c = prefix[n % 10];
  c += static_cast<char>('0' + n / 10 % 10);
  int rest = n / 100;
  for (int k = 0; k < 3; k++) {
    c += static_cast<char>('a' + (rest + 7 * k + n) % 26);
    rest /= 26;
  }
  return c;
}

// A minute or so of what a station calling CQ sends: its call, reports
// and words that are no calls.
std::string cq_text(const std::string& call, int repeats, std::uint32_t seed) {
  static const char* const filler[] = {"ur", "rst", "599", "5nn", "tu",  "73", "name",
                                       "op", "qth", "tnx", "fer", "gl",  "es", "hpe",
                                       "cu", "agn", "wx",  "rig", "ant", "fb", "om"};
  std::mt19937 g(seed);
  std::string s;
  for (int r = 0; r < repeats; r++) {
    if (r) s += " ";
    s += "cq cq de " + call + " " + call + " k";
    for (int w = 0; w < 4; w++)
      s += std::string(" ") + filler[g() % (sizeof filler / sizeof filler[0])];
  }
  return s;
}

// The stations' tones at `amp` each, station i at phase 0.9 i.
std::vector<test::KeyedTone> tones_of(const std::vector<Station>& st, double amp) {
  return test::station_tones(st, amp, 0.9);
}

double cer(const std::string& got, const std::string& sent) {
  const std::string a = test::normalise(got), b = test::normalise(sent);
  return b.empty() ? 0 : static_cast<double>(test::edit_distance(a, b)) / b.size();
}

std::string tmp_dir() {
  char t[] = "/tmp/skimmer-bench-XXXXXX";
  return mkdtemp(t) ? t : "/tmp";
}

// The CPU time of a process that ended, user and system, seconds.
double cpu_seconds(const rusage& ru) {
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Runs argv with standard input from `in` (or a pipe fed by `feed`) and
// standard output to a file; times it with wait4.
Measured measure(const std::vector<std::string>& argv, const std::string& dir,
                 const std::string& in) {
  Measured m;
  const std::string out = dir + "/stdout";
  std::fflush(stdout);
  auto a = test::exec_args(argv);
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    freopen(in.c_str(), "r", stdin);
    freopen(out.c_str(), "w", stdout);
    execv(a[0], a.data());
    _exit(127);
  }
  int ws = 0;
  rusage ru{};
  wait4(pid, &ws, 0, &ru);
  m.wall = since(t0);
  m.cpu = cpu_seconds(ru);
  m.max_rss_kb = ru.ru_maxrss;
  m.status = test::exit_status(ws);
  m.out = test::TempDir::contents(out);
  return m;
}

double load_average() {
  double l[1] = {0};
  return getloadavg(l, 1) == 1 ? l[0] : -1;
}

const char* pass(bool ok) {
  return ok ? "pass" : "FAIL";
}

}  // namespace bench

using namespace bench;

namespace {

const std::string& decoder_path() {
  return decoders.front();
}

// ------------------------------------------------------------ five stations

std::vector<Station> five_stations(int repeats) {
  const double hz[] = {480, 1020, 1470, 1930, 2410};
  const double wpm[] = {20, 24, 27, 22, 30};
  const char* const calls[] = {"dl1abc", "ok1xyz", "g4bxe", "w1aw", "ja1zz/p"};
  std::vector<Station> st;
  for (int i = 0; i < 5; i++)
    st.push_back({hz[i], wpm[i], cq_text(calls[i], repeats, 11 + i), 0.5 + 0.3 * i, calls[i]});
  return st;
}

// What the engine decodes: call events for the spots.
struct CallSink : EngineSink {
  struct Seen {
    double t;
    EngineEvent e;
  };
  std::vector<Seen> calls;
  void event(const EngineEvent& e) override {
    if (e.is_call) calls.push_back({static_cast<double>(e.sample) / 48000, e});
  }
};

bool case_five() {
  constexpr double kAmp = 3000, kSnr = 10;
  const auto st = five_stations(3);
  const double seconds = test::stations_end(st) + 2;
  const auto audio = test::render(tones_of(st, kAmp), seconds, test::noise_for_snr(kAmp, kSnr), 3);
  EngineSettings es;
  es.centres = span_centres(300, 2700);
  es.threads = 2;
  es.find_calls = true;
  Engine engine(es);
  CallSink sink;
  std::vector<double> buf(Engine::kBatch);
  for (std::size_t at = 0; at < audio.size(); at += Engine::kBatch) {
    const int n = static_cast<int>(std::min<std::size_t>(Engine::kBatch, audio.size() - at));
    std::copy(audio.begin() + static_cast<long>(at), audio.begin() + static_cast<long>(at) + n,
              buf.begin());
    engine.feed(buf.data(), n, &sink);
  }
  std::fill(buf.begin(), buf.end(), 0.0);
  for (int k = 0; k < 12; k++)  // the program's second of silence after the input
    engine.feed(buf.data(), 4000, &sink);
  engine.finish(&sink);
  auto res = engine.results();
  drop_neighbour_copies(res);

  // Each cluster that kept text belongs to the station within 50 Hz, if any.
  std::vector<std::vector<const ClusterResult*>> mine(st.size());
  int stray_chars = 0;
  std::string stray;
  for (const auto& c : res) {
    if (c.text.empty()) continue;
    int owner = -1;
    for (std::size_t i = 0; i < st.size(); i++)
      if (std::abs(c.center_hz - st[i].hz) <= 50) owner = static_cast<int>(i);
    if (owner < 0) {
      stray_chars += static_cast<int>(c.text.size());
      stray += " " + std::to_string(c.center_hz) + ":" + std::to_string(c.text.size());
    } else {
      mine[static_cast<std::size_t>(owner)].push_back(&c);
    }
  }
  // The spots as the program makes them: once per call and frequency in 10 minutes.
  spots::SpotDedup dedup;
  std::vector<CallSink::Seen> spotted;
  for (const auto& s : sink.calls)
    if (dedup.admit(s.e.call.call, s.e.tone_hz, static_cast<std::int64_t>(s.t)))
      spotted.push_back(s);

  std::printf(
      "\nFive stations over 300-2700 Hz at %+.0f dB each (SNR in 500 Hz), %.0f s, "
      "49 clusters\n",
      kSnr, seconds);
  std::printf("%7s %4s %-8s %6s %-8s %5s  %-8s %4s %7s %5s %5s %5s\n", "station", "wpm", "call",
              "CER", "cluster", "dup", "spot", "type", "df Hz", "dwpm", "dSNR", "ok");
  bool all_ok = true;
  int duplicate_chars = 0;
  for (std::size_t i = 0; i < st.size(); i++) {
    double best = 1;
    int cluster = 0, dup = 0;
    for (const auto* c : mine[i]) {
      const double e = cer(c->text, st[i].text);
      if (e < best) {
        best = e;
        cluster = c->center_hz;
      }
    }
    for (const auto* c : mine[i])
      if (c->center_hz != cluster) dup += static_cast<int>(c->text.size());
    duplicate_chars += dup;
    const CallSink::Seen* sp = nullptr;
    for (const auto& s : spotted)
      if (s.e.call.call == upper(st[i].call) && !sp) sp = &s;
    bool ok = best <= 0.03;
    if (sp) {
      const double df = sp->e.tone_hz - st[i].hz;
      const int dw = sp->e.wpm - static_cast<int>(st[i].wpm);
      const double ds = std::round(sp->e.snr_db) - kSnr;
      ok = ok && std::abs(df) <= 10 && std::abs(dw) <= 2 && std::abs(ds) <= 3;
      std::printf("%7.0f %4.0f %-8s %6.3f %-8d %5d  %-8s %4s %+7.1f %+5d %+5.0f %5s\n", st[i].hz,
                  st[i].wpm, st[i].call.c_str(), best, cluster, dup, sp->e.call.call.c_str(),
                  spots::type_name(sp->e.call.type), df, dw, ds, pass(ok));
    } else {
      ok = false;
      std::printf("%7.0f %4.0f %-8s %6.3f %-8d %5d  %-8s %4s %7s %5s %5s %5s\n", st[i].hz,
                  st[i].wpm, st[i].call.c_str(), best, cluster, dup, "(none)", "-", "-", "-", "-",
                  pass(false));
    }
    all_ok = all_ok && ok;
  }
  int false_spots = 0;
  std::string falses;
  for (const auto& s : spotted) {
    bool sent = false;
    for (const auto& t : st)
      sent = sent || s.e.call.call == upper(t.call);
    if (!sent) {
      false_spots++;
      falses += " " + s.e.call.call + "@" + std::to_string(s.e.center_hz);
    }
  }
  std::printf("spots %zu; false spots %d%s (target 0: %s)\n", spotted.size(), false_spots,
              falses.c_str(), pass(false_spots == 0));
  std::printf("characters on clusters without a station: %d%s (target 0: %s)\n", stray_chars,
              stray.c_str(), pass(stray_chars == 0));
  std::printf("characters of a station on a second cluster (dup column): %d\n", duplicate_chars);
  std::printf(
      "targets per station: CER <= 0.03, |df| <= 10 Hz, |dwpm| <= 2, |dSNR| <= 3 dB; "
      "df is the frequency the spot is made from, before it is rounded to 0.1 kHz\n");
  return all_ok && false_spots == 0 && stray_chars == 0;
}

// ---------------------------------------------------------------- speed

bool case_speed() {
  constexpr double kAmp = 3000, kSnr = 10;
  const std::string dir = tmp_dir();
  const auto st = five_stations(12);
  const double seconds = test::stations_end(st) + 2;
  const std::string wav = dir + "/five.wav";
  test::write_float_wav(
      wav, test::render(tones_of(st, kAmp), seconds, test::noise_for_snr(kAmp, kSnr), 3), 1);
  std::printf("\n49 clusters (300-2700 Hz), %.0f s of five stations at +10 dB, float WAV\n",
              seconds);
  std::printf("%-9s %8s %8s %9s %9s %9s %6s\n", "threads", "wall s", "cpu s", "x real", "x cpu",
              "peak MB", "load");
  bool ok = true;
  for (const char* threads : {"2", "1"}) {
    const double load = load_average();
    const auto m = measure({decoder_path(), "--threads", threads, "--span", "300-2700", wav}, dir);
    const double mb = static_cast<double>(m.max_rss_kb) / 1024;
    std::printf("%-9s %8.2f %8.2f %9.1f %9.1f %9.1f %6.2f%s\n", threads, m.wall, m.cpu,
                seconds / m.wall, seconds / m.cpu, mb, load, m.status ? "  (exit status!)" : "");
    if (std::string(threads) == "2") {
      std::printf("targets with --threads 2: >= 60x real time: %s; under 64 MB: %s\n",
                  pass(seconds / m.wall >= 60), pass(mb < 64));
      ok = seconds / m.wall >= 60 && mb < 64;
    }
  }
  std::printf(
      "(x real: audio seconds per wall-clock second; x cpu: per CPU second, user + "
      "system; load: the 1-minute load average when it started - the machine is shared)\n");
  std::remove(wav.c_str());
  std::remove((dir + "/stdout").c_str());
  rmdir(dir.c_str());
  return ok;
}

// ----------------------------------------------------------------- I/Q

// -------------------------------------------------------------- telnet

using test::free_port;

// A telnet client on 127.0.0.1: logs in, then keeps every byte until the
// server closes the connection or the deadline passes.
struct Client {
  int fd = -1;
  std::string bytes;
  std::atomic<bool> logged_in{false};
  std::thread reader;

  void run(int port, const std::string& call, Clock::time_point deadline) {
    for (; Clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
      fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<uint16_t>(port));
      if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) break;
      close(fd);
      fd = -1;
    }
    if (fd < 0) return;
    timeval tv{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    bool answered = false;
    char buf[65536];
    while (Clock::now() < deadline) {
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n == 0) break;
      if (n < 0) continue;  // timeout: look at the deadline
      bytes.append(buf, static_cast<std::size_t>(n));
      if (!answered && bytes.find("call: ") != std::string::npos) {
        const std::string a = call + "\r\n";
        [[maybe_unused]] const ssize_t w = send(fd, a.data(), a.size(), MSG_NOSIGNAL);
        answered = true;
      }
      if (!logged_in && bytes.find("skimmer.\r\n") != std::string::npos) logged_in = true;
    }
    close(fd);
  }
};

bool case_telnet(double hours, bool real_pace) {
  constexpr int kClients = 20;
  constexpr double kAmp = 3000, kSnr = 10, kChunk = 60;  // seconds of audio per piece
  const int chunks = std::max(1, static_cast<int>(std::lround(hours * 3600 / kChunk)));
  const int port = free_port();
  const std::string dir = tmp_dir();
  int fds[2];
  if (pipe(fds) != 0) return false;
  std::fflush(stdout);
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[0], 0);
    close(fds[0]);
    close(fds[1]);
    freopen((dir + "/stdout").c_str(), "w", stdout);
    execl(decoder_path().c_str(), decoder_path().c_str(), "--spots", "--spotter", "bench", "--dial",
          "7000", "--telnet", std::to_string(port).c_str(), "--threads", "2", "--raw", "-",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[0]);
  signal(SIGPIPE, SIG_IGN);
  const double budget = chunks * kChunk / (real_pace ? 1.0 : 20.0) + 600;
  const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long>(budget * 1000));
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < kClients; i++) {
    clients.push_back(std::make_unique<Client>());
    Client* c = clients.back().get();
    c->reader = std::thread([c, port, i, deadline] { c->run(port, call_for(900 + i), deadline); });
  }
  for (int i = 0; i < 3000; i++) {
    bool all = true;
    for (auto& c : clients)
      all = all && c->logged_in;
    if (all) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  int logged = 0;
  for (auto& c : clients)
    logged += c->logged_in ? 1 : 0;

  // Five frequencies; each minute a new station on each calls CQ.
  const double hz[] = {520, 980, 1490, 1960, 2380};
  std::mutex m;
  std::condition_variable cv;
  std::deque<std::string> ready;  // rendered pieces, S16LE
  bool gen_done = false;
  std::thread gen([&] {
    for (int k = 0; k < chunks; k++) {
      std::vector<Station> st;
      for (int i = 0; i < 5; i++) {
        const std::string call = call_for(5 * k + i);
        st.push_back(
            {hz[i], 20.0 + (k + 3 * i) % 11, cq_text(call, 1, k * 5 + i), 1 + 2.5 * i, call});
      }
      const auto a =
          test::render(tones_of(st, kAmp), kChunk, test::noise_for_snr(kAmp, kSnr), 100 + k);
      std::string b = test::s16le(a);
      std::unique_lock<std::mutex> l(m);
      cv.wait(l, [&] { return ready.size() < 3; });
      ready.push_back(std::move(b));
      cv.notify_all();
    }
    std::lock_guard<std::mutex> l(m);
    gen_done = true;
    cv.notify_all();
  });
  const auto feed0 = Clock::now();
  double waited_for_generator = 0;
  for (int k = 0;; k++) {
    std::string b;
    {
      const auto w0 = Clock::now();
      std::unique_lock<std::mutex> l(m);
      cv.wait(l, [&] { return !ready.empty() || gen_done; });
      waited_for_generator += since(w0);
      if (ready.empty()) break;
      b = std::move(ready.front());
      ready.pop_front();
      cv.notify_all();
    }
    if (real_pace) {
      // Piece k goes out in real time: a tenth of a second at a time.
      const std::size_t step = 2 * 4800;
      for (std::size_t at = 0; at < b.size(); at += step) {
        const double due = k * kChunk + static_cast<double>(at) / (2 * 48000);
        const double wait = due - since(feed0);
        if (wait > 0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
        [[maybe_unused]] const ssize_t w =
            write(fds[1], b.data() + at, std::min(step, b.size() - at));
      }
    } else {
      for (std::size_t at = 0; at < b.size();) {
        const ssize_t n = write(fds[1], b.data() + at, b.size() - at);
        if (n <= 0) break;
        at += static_cast<std::size_t>(n);
      }
    }
  }
  gen.join();
  const double fed = since(feed0);
  close(fds[1]);
  int ws = 0;
  rusage ru{};
  wait4(pid, &ws, 0, &ru);
  const double wall = since(t0);  // start to end, the clients' logins too
  for (auto& c : clients)
    c->reader.join();
  const auto printed = test::dx_lines(test::TempDir::contents(dir + "/stdout"), "\n");
  int complete = 0, drops = 0;
  for (auto& c : clients) {
    if (test::dx_lines(c->bytes, "\r\n") == printed) complete++;
    if (c->bytes.find("***") != std::string::npos) drops++;
  }
  // The calls the spots named: of the stations sent, and any other.
  std::vector<std::string> sent;
  for (int n = 0; n < 5 * chunks; n++)
    sent.push_back(upper(call_for(n)));
  std::sort(sent.begin(), sent.end());
  std::vector<std::string> named;
  int false_spots = 0;
  std::string falses;  // the false spots' lines
  for (const auto& l : printed) {
    std::istringstream t(l);
    std::string w[5];
    for (auto& x : w)
      t >> x;
    if (std::binary_search(sent.begin(), sent.end(), w[4])) {
      named.push_back(w[4]);
    } else {
      false_spots++;
      falses += "\n    false: " + l;
    }
  }
  std::sort(named.begin(), named.end());
  named.erase(std::unique(named.begin(), named.end()), named.end());
  const double audio = chunks * kChunk;
  const double cpu = cpu_seconds(ru);
  std::printf(
      "\nTelnet: %d clients on talvo-decode --spots --telnet (--threads 2, 49 clusters), "
      "%.2f h of audio piped %s\n",
      kClients, audio / 3600,
      real_pace ? "at real-time pace" : "as fast as it was decoded (pace: fast)");
  std::printf("  clients logged in before the audio: %d of %d\n", logged, kClients);
  std::printf("  spots on standard output: %zu: %zu of the %d stations sent, %d false%s\n",
              printed.size(), named.size(), 5 * chunks, false_spots, falses.c_str());
  std::printf("  clients that received every spot, in order: %d of %d: %s\n", complete, kClients,
              pass(complete == kClients && !printed.empty()));
  std::printf("  clients told of dropped spots: %d\n", drops);
  std::printf(
      "  audio fed in %.1f s wall (%.1fx real time; %.1f s of it waiting for the signal "
      "generator); decoder cpu %.1f s (%.1fx real time per CPU second); peak %.1f MB; "
      "exit status %d\n",
      fed, audio / fed, waited_for_generator, cpu, audio / cpu,
      static_cast<double>(ru.ru_maxrss) / 1024, test::exit_status(ws));
  std::printf("  the whole run: %.1f s wall\n", wall);
  std::printf("  decoding kept real-time pace: %s\n", pass(audio / cpu >= 1 && audio / fed >= 1));
  std::remove((dir + "/stdout").c_str());
  rmdir(dir.c_str());
  return complete == kClients && !printed.empty();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> cases;
  double hours = 1;
  bool real_pace = false;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    if (a == "--case" && i + 1 < argc) {
      cases.push_back(argv[++i]);
    } else if (a == "--hours" && i + 1 < argc) {
      hours = std::atof(argv[++i]);
    } else if (a == "--pace" && i + 1 < argc) {
      const std::string p = argv[++i];
      if (p != "real" && p != "fast") {
        std::fprintf(stderr, "--pace is real or fast\n");
        return 2;
      }
      real_pace = p == "real";
    } else if (a == "--decoder" && i + 1 < argc) {
      decoders.push_back(argv[++i]);
    } else if (a == "--keep" && i + 1 < argc) {
      keep_dir = argv[++i];
    } else {
      std::fprintf(
          stderr,
          "usage: skimmer [--case five|speed|iq|span192|noise192|soxnoise192|mirror|telnet]... "
          "[--hours H] [--pace real|fast] [--decoder PATH]... [--keep DIR]\n");
      return 2;
    }
  }
  if (cases.empty())
    cases = {"five", "speed", "iq", "span192", "noise192", "soxnoise192", "mirror", "telnet"};
  if (decoders.empty()) decoders.push_back(TALVO_DECODE);
  std::printf("skimmer benchmark, %u cores, talvo-decode %s\n", std::thread::hardware_concurrency(),
              decoder_path().c_str());
  int failed = 0;
  for (const auto& c : cases) {
    bool ok = false;
    if (c == "five")
      ok = case_five();
    else if (c == "speed")
      ok = case_speed();
    else if (is_iq_case(c))
      ok = case_iq_span(c);
    else if (c == "telnet")
      ok = case_telnet(hours, real_pace);
    else
      std::fprintf(stderr, "unknown case %s\n", c.c_str());
    failed += ok ? 0 : 1;
  }
  std::printf("\n%d of %zu cases reached their targets\n", static_cast<int>(cases.size()) - failed,
              cases.size());
  return failed ? 1 : 0;
}
