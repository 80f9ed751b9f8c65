// talvo-decode as a skimmer, run the way an operator runs it: the clusters a
// span gives and their order, the same output on any number of threads, the
// sign of I/Q frequencies, spot lines for a station calling CQ, the spot
// server with real clients while a stream is decoded, and the sound card
// through a fake arecord first on PATH, ended with Ctrl-C.
//
// The signals come from the test generators (tests/support), as WAV files or
// raw S16LE streams. Every wait is bounded by a deadline; child processes are
// killed when their test ends. Network clients use 127.0.0.1 only.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback.h"
#include "support/morse.h"
#include "support/piped_child.h"
#include "support/process.h"
#include "support/render.h"
#include "support/run_decode.h"
#include "support/stations.h"
#include "support/stopwatch.h"
#include "support/write_audio.h"

namespace talvo {
namespace {

using test::Clock;
using test::field;
using test::lines_of;
using test::run;
using test::s16le;
using test::since;
using test::TempDir;

using test::Station;

// The stations rendered at `snr_db` each (over the noise in 500 Hz), with
// `amp` as every station's peak amplitude; interleaved I/Q with `iq`.
std::vector<float> render(const std::vector<Station>& st, double seconds, double amp, double snr_db,
                          bool iq = false, std::uint32_t seed = 5) {
  return test::render(test::station_tones(st, amp, 0.7), seconds, test::noise_for_snr(amp, snr_db),
                      seed, {}, iq);
}

// A float WAV at 48 kHz in `dir` (values in sample units, as the generators give).
std::string write_wav(const TempDir& dir, const std::string& name, const std::vector<float>& s,
                      int channels = 1) {
  const std::string path = dir.file(name);
  const std::string error = test::write_float_wav(path, s, channels);
  EXPECT_EQ(error, "");
  return path;
}

test::Run decode(const std::vector<std::string>& args, const test::RunOptions& o = {}) {
  return test::run_decode(args, o);
}

std::vector<std::string> tokens_of(const std::string& line) {
  std::vector<std::string> t;
  std::istringstream in(line);
  for (std::string w; in >> w;)
    t.push_back(w);
  return t;
}

// A cluster of the text summary: "%6d Hz %3d wpm %3.0f dB  text", or a line
// of a live or piped input, the same after "[hh:mm:ss.s] ".
struct Line {
  int hz = 0, wpm = 0, snr = 0;
  std::string text;
};

std::vector<Line> summary(const std::string& out) {
  std::vector<Line> r;
  for (const auto& l : lines_of(out)) {
    Line c;
    char buf[4096] = {};
    const std::size_t at = l[0] == '[' && l.find("] ") != std::string::npos ? l.find("] ") + 2 : 0;
    if (std::sscanf(l.c_str() + at, "%d Hz %d wpm %d dB %4095[^\n]", &c.hz, &c.wpm, &c.snr, buf) >=
        3) {
      c.text = buf;
      r.push_back(c);
    }
  }
  return r;
}

// ---------------------------------------------------------------- the span

// Four distinct letters for station i: neighbours differ in every letter,
// so that no cluster's copy can pass for its neighbour's.
std::string word_for(int i) {
  std::string w;
  for (int k = 0; k < 4; k++)
    w.push_back(static_cast<char>('a' + (i * 5 + k * 3) % 26));
  return w + " " + w;
}

// Which of the words of stations i - 1, i and i + 1 the text is closest to.
int closest(const std::string& text, const std::vector<Station>& st, int i) {
  int best = -1, dist = 1 << 30;
  for (int j = std::max(0, i - 1); j <= std::min<int>(st.size() - 1, i + 1); j++) {
    const int d = test::edit_distance(test::normalise(text), st[j].text);
    if (d < dist) {
      dist = d;
      best = j;
    }
  }
  return best;
}

// `n` stations 50 Hz apart from `lo` Hz at `wpm`, station i sending
// word_for(i) from 0.5 + i * start_step seconds.
std::vector<Station> every_50_hz(int n, double lo, double wpm, double start_step) {
  std::vector<Station> st;
  for (int i = 0; i < n; i++)
    st.push_back({lo + 50 * i, wpm, word_for(i), 0.5 + start_step * i});
  return st;
}

TEST(SkimmerSpan, FortyNineClustersFrom300To2700InOrder) {
  // A station on every 50 Hz from 300 to 2700 Hz, each with its own word.
  const auto st = every_50_hz(49, 300, 25, 0.02);
  TempDir dir;
  const auto wav = write_wav(dir, "span.wav", render(st, 8.0, 600, 15));
  const auto r = decode({"--span", "300-2700", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto got = summary(r.out);
  ASSERT_EQ(got.size(), 49u) << r.out;
  for (int i = 0; i < 49; i++) {
    EXPECT_EQ(got[i].hz, 300 + 50 * i);
    // Each cluster copied its own station, not a neighbour's.
    EXPECT_EQ(closest(got[i].text, st, i), i) << got[i].hz << " Hz: " << got[i].text;
  }
  // The default span of a 48 kHz recording is the same.
  const auto d = decode({wav});
  EXPECT_EQ(d.out, r.out);
}

TEST(SkimmerSpan, ASpanOf200HzIsFiveClustersAndNothingOutside) {
  // Seven stations 50 Hz apart; the span takes the middle five.
  const auto st = every_50_hz(7, 950, 24, 0.1);
  TempDir dir;
  const auto wav = write_wav(dir, "seven.wav", render(st, 7.0, 3000, 15));
  const auto r = decode({"--span", "1000-1200", "--format", "json", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<int> centres;
  for (std::size_t p = 0; (p = r.out.find("\"center_hz\": ", p)) != std::string::npos; p++)
    centres.push_back(std::atoi(r.out.c_str() + p + 13));
  EXPECT_EQ(centres, (std::vector<int>{1000, 1050, 1100, 1150, 1200})) << r.out;
  // Nothing of the stations at 950 and 1250 Hz.
  EXPECT_EQ(r.out.find(st[0].text), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(st[6].text), std::string::npos) << r.out;
  // Events carry the same centres, in the order they decoded.
  const auto e = decode({"--span", "1000-1200", "--format", "events", wav});
  ASSERT_EQ(e.status, 0);
  std::vector<int> seen;
  for (const auto& l : lines_of(e.out)) {
    const int c = std::atoi(field(l, "center_hz").c_str());
    if (std::find(seen.begin(), seen.end(), c) == seen.end()) seen.push_back(c);
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, centres);
}

TEST(SkimmerSpan, AStationBesideWhereTwoGroupsOfClustersMeetKeysOnlyItsOwn) {
  // The 49 clusters decode in two groups, 300-1450 and 1500-2700 Hz. A
  // station at 1490 Hz lies 40 Hz from the last cluster of the first group,
  // which keyed its edges as dots ("ehseise eieieihe e5i ...") before each
  // group also guarded against the stations on the other's nearest clusters.
  const std::vector<Station> st = {
      {520, 21, "cq cq de dl0aho dl0aho k gl 5nn cu tnx cq cq de dl0aho k"},
      {980, 23, "cq cq de ok0bip ok0bip k op rig ant rig cq cq de ok0bip k"},
      {1490, 26, "cq cq de g0cjq g0cjq k tnx 5nn gl tnx cq cq de g0cjq g0cjq k es hpe qth"}};
  TempDir dir;
  const auto wav = write_wav(dir, "edge.wav", render(st, 22.0, 3000, 16));
  const auto r = decode({"--span", "300-2700", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  // The summary lists the clusters that decoded something.
  const auto got = summary(r.out);
  ASSERT_EQ(got.size(), 3u) << r.out;
  EXPECT_EQ(got[0].hz, 500);
  EXPECT_EQ(got[1].hz, 1000);
  EXPECT_EQ(got[2].hz, 1500);
  EXPECT_NE(got[2].text.find("cq cq de g0cjq g0cjq k"), std::string::npos) << r.out;
}

TEST(SkimmerSpan, BadSpansAreRefusedWithTheirReason) {
  TempDir dir;
  const auto wav = write_wav(dir, "n.wav", render({{700, 20, "e"}}, 1.0, 3000, 15));
  const std::string shape =
      "talvo-decode: --span must be LO-HI, two whole numbers of Hz, LO below HI\n"
      "Try 'talvo-decode --help'.\n";
  for (const char* bad : {"2700-300", "300", "300-", "a-b", "300-300", "300.5-2700"}) {
    const auto r = decode({"--span", bad, wav});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(r.err, shape) << bad;
    EXPECT_EQ(r.out, "") << bad;
  }
  const auto low = decode({"--span", "50-2700", wav});
  EXPECT_EQ(low.status, 2);
  EXPECT_EQ(low.err,
            "talvo-decode: --span must lie within 100 to 24000 Hz\nTry 'talvo-decode --help'.\n");
  const auto both = decode({"--span", "300-2700", "--center", "700", wav});
  EXPECT_EQ(both.status, 2);
  EXPECT_EQ(both.err, "talvo-decode: --span or --center, not both\nTry 'talvo-decode --help'.\n");
  const auto classic = decode({"--receiver", "classic", "--span", "300-2700", wav});
  EXPECT_EQ(classic.status, 2);
  EXPECT_EQ(classic.err,
            "talvo-decode: --span needs --receiver fine\nTry 'talvo-decode --help'.\n");
  // The classic receiver finds no calls: spots and the spot server need fine.
  for (const char* option : {"--spots", "--iq"}) {
    const auto r = decode({"--receiver", "classic", option, wav});
    EXPECT_EQ(r.status, 2) << option;
    EXPECT_EQ(r.err, std::string("talvo-decode: ") + option +
                         " needs --receiver fine\nTry 'talvo-decode --help'.\n");
  }
}

// ------------------------------------------------------------- the threads

// Five stations over the passband at +10 dB with their calls, the issue's
// example frequencies.
std::vector<Station> five_stations() {
  // Calls not in the call list need three copies to be spotted; W1AW, a
  // known call, sent once is not.
  return {{480, 26, "cq de dl1abc dl1abc dl1abc k"},
          {1020, 26, "test ok1xyz ok1xyz ok1xyz test"},
          {1470, 28, "cq de g4abc g4abc g4abc k"},
          {1930, 22, "ve3xyz de w1aw 5nn tu"},
          {2410, 30, "cq de ja1zz ja1zz ja1zz k"}};
}

TEST(SkimmerThreads, OneTwoAndThreeThreadsGiveTheSameBytes) {
  TempDir dir;
  const auto wav = write_wav(dir, "five.wav", render(five_stations(), 16.0, 4000, 10));
  // The spots' times in events come from the start time: the same for all.
  const char* start = "2026-12-08T18:54:00Z";
  for (const char* format : {"text", "events", "json"}) {
    const auto one = decode({"--threads", "1", "--start-time", start, "--format", format, wav});
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_GT(one.out.size(), 100u) << format;
    for (const char* n : {"2", "3"}) {
      const auto many = decode({"--threads", n, "--start-time", start, "--format", format, wav});
      EXPECT_EQ(many.status, 0);
      EXPECT_EQ(many.out, one.out) << format << " on " << n << " threads";
    }
  }
  // The spot lines too (their time stamp is the minute: compare without it).
  const auto strip = [](const std::string& s) {
    std::string o;
    for (const auto& l : lines_of(s))
      o += l.substr(0, l.size() >= 6 ? l.size() - 6 : 0) + "\n";
    return o;
  };
  const auto one = decode({"--threads", "1", "--spots", "--dial", "14000", wav});
  const auto two = decode({"--threads", "2", "--spots", "--dial", "14000", wav});
  ASSERT_GE(lines_of(one.out).size(), 3u) << one.out;
  EXPECT_EQ(strip(two.out), strip(one.out));
}

// --------------------------------------------------------------------- I/Q

TEST(SkimmerIq, AStationAboveTheDialIsSpottedAboveIt) {
  const std::vector<Station> st = {{1500, 26, "cq de dl1abc dl1abc dl1abc k"},
                                   {-2500, 26, "cq de f5xyz f5xyz f5xyz k", 0.8}};
  TempDir dir;
  const auto wav = write_wav(dir, "iq.wav", render(st, 15.0, 4000, 15, true), 2);
  const auto r =
      decode({"--iq", "--span", "-3000-3000", "--dial", "14000", "--format", "events", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> spots;
  std::vector<int> text_centres;
  for (const auto& l : lines_of(r.out)) {
    if (!field(l, "call").empty()) {
      spots.push_back(field(l, "call") + " " + field(l, "freq_khz") + " " + field(l, "center_hz"));
    } else {
      const int c = std::atoi(field(l, "center_hz").c_str());
      if (std::find(text_centres.begin(), text_centres.end(), c) == text_centres.end())
        text_centres.push_back(c);
    }
  }
  std::sort(spots.begin(), spots.end());
  EXPECT_EQ(spots, (std::vector<std::string>{"DL1ABC 14001.5 1500", "F5XYZ 13997.5 -2500"}))
      << r.out;
  // Text came only from the two stations' clusters (and their neighbours).
  for (int c : text_centres)
    EXPECT_TRUE(std::abs(c - 1500) <= 50 || std::abs(c + 2500) <= 50) << c;
  // The summary lists the station below the dial first, at its negative offset.
  const auto s = decode({"--iq", "--span", "-3000-3000", wav});
  const auto got = summary(s.out);
  ASSERT_EQ(got.size(), 2u) << s.out;
  EXPECT_EQ(got[0].hz, -2500);
  EXPECT_EQ(got[0].text, "cq de f5xyz f5xyz f5xyz k");
  EXPECT_EQ(got[1].hz, 1500);
  EXPECT_NE(got[1].text.find("de dl1abc dl1abc dl1abc k"), std::string::npos) << got[1].text;
  // Raw stereo S16LE on standard input is the same I/Q.
  test::RunOptions o;
  o.input = s16le(render(st, 15.0, 4000, 15, true));
  const auto raw = decode({"--iq", "--span", "-3000-3000", "-"}, o);
  EXPECT_EQ(raw.status, 0) << raw.err;
  // Its lines come as each over ends, each with its time and the SNR measured
  // then (the file's summary gives it at the end): the same stations and texts.
  const auto without_snr = [](std::string l) {
    const auto db = l.find(" dB ");
    const auto from = l.find_last_not_of("0123456789-", db - 1);
    return l.erase(from, db + 3 - from);
  };
  std::istringstream lines(raw.out);
  std::vector<std::string> untimed;
  for (std::string l; std::getline(lines, l);) {
    ASSERT_EQ(l.substr(0, 4), "[00:") << l;
    untimed.push_back(without_snr(l.substr(l.find("] ") + 2)) + "\n");
  }
  std::sort(untimed.begin(), untimed.end(),
            [](const std::string& a, const std::string& b) { return std::stoi(a) < std::stoi(b); });
  std::istringstream file_lines(s.out);
  std::string file_untimed;
  for (std::string l; std::getline(file_lines, l);)
    file_untimed += without_snr(l) + "\n";
  EXPECT_EQ(std::accumulate(untimed.begin(), untimed.end(), std::string()), file_untimed);
}

// ------------------------------------------------------------------- spots

// The UTC minute now as HHMM.
// HHMM of the clock, `ahead` seconds on.
int utc_minute(int ahead = 0) {
  const std::time_t t = std::time(nullptr) + ahead;
  return static_cast<int>(t / 3600 % 24 * 100 + t / 60 % 60);
}

// The words of the one spot line a run printed; none, and a failure, when
// it ended badly or printed no line or more than one.
std::vector<std::string> one_spot(const test::Run& r) {
  EXPECT_EQ(r.status, 0) << r.err;
  const auto lines = lines_of(r.out);
  EXPECT_EQ(lines.size(), 1u) << r.out;
  return lines.size() == 1 ? tokens_of(lines[0]) : std::vector<std::string>{};
}

TEST(SkimmerSpots, AStationCallingCqIsSpottedOnceWithItsFrequencySpeedAndStrength) {
  // 1520 Hz: 20 Hz off its cluster's centre.
  // DL1ABC is not in the call list: three copies make its spot.
  const std::vector<Station> st = {{1520, 28, "cq de dl1abc dl1abc dl1abc k"}};
  TempDir dir;
  const auto wav = write_wav(dir, "cq.wav", render(st, 16.0, 4000, 15));
  const int before = utc_minute();
  const auto r = decode({"--spots", "--spotter", "mycall", "--dial", "7000", wav});
  // A spot is timed by the audio: the start of decoding plus how far into
  // the 16 s recording the call was heard.
  const int after = utc_minute(16);
  // Spotted once although the call came three times and the neighbouring cluster
  // copied it too.
  const auto t = one_spot(r);
  ASSERT_EQ(t.size(), 12u) << r.out;
  const std::pair<int, const char*> words[] = {{0, "DX"},     {1, "de"}, {2, "MYCALL-#:"},
                                               {4, "DL1ABC"}, {5, "CW"}, {7, "dB"},
                                               {9, "WPM"},    {10, "CQ"}};
  for (const auto& [i, word] : words)
    EXPECT_EQ(t[i], word) << "word " << i;
  // The frequency: the tone the cluster measured (within 10 Hz), shown to
  // 0.1 kHz (half of that in rounding): 1520 Hz above the dial is 7001.5.
  const double khz = std::atof(t[3].c_str());
  EXPECT_NEAR(khz, 7000 + 1.520, 0.061) << t[3];  // 10 Hz and the rounding
  EXPECT_EQ(t[3].find('.'), t[3].size() - 2) << "one decimal: " << t[3];
  EXPECT_NEAR(std::atoi(t[6].c_str()), 15, 3) << "SNR " << t[6];
  EXPECT_NEAR(std::atoi(t[8].c_str()), 28, 2) << "speed " << t[8];
  ASSERT_EQ(t[11].size(), 5u);
  EXPECT_EQ(t[11].back(), 'Z');
  const int hhmm = std::atoi(t[11].substr(0, 4).c_str());
  EXPECT_TRUE(hhmm == before || hhmm == after) << t[11];
  // Lower sideband: the same station below the dial.
  const auto lsb = decode({"--spots", "--dial", "7000", "--sideband", "lsb", wav});
  const auto tl = tokens_of(lsb.out);
  ASSERT_GE(tl.size(), 5u) << lsb.out;
  EXPECT_EQ(tl[2], "TALVO-#:");
  EXPECT_NEAR(std::atof(tl[3].c_str()), 7000 - 1.520, 0.061);
  // A station that answers is a DX spot; a report is no call.
  const std::vector<Station> dx = {{800, 22, "dl1abc de w1aw w1aw ur 599 5nn tu 73 k"}};
  const auto wav2 = write_wav(dir, "dx.wav", render(dx, 16.0, 4000, 15));
  const auto d = decode({"--spots", "--dial", "14000", wav2});
  const auto td = one_spot(d);
  ASSERT_EQ(td.size(), 12u) << d.out;
  EXPECT_EQ(td[4], "W1AW");
  EXPECT_EQ(td[10], "DX");
}

// ------------------------------------------------------------------ telnet

using test::free_port;

// A child process: standard input on a pipe the test keeps, standard output
// and error read by the test, in its own process group so that a Ctrl-C can
// go to it and whatever it started.
struct Proc : test::PipedChild {
  explicit Proc(const std::vector<std::string>& argv, const std::string& path_prefix = "")
      : PipedChild(argv, {true, true, path_prefix}) {}
};

// A telnet client in Python: connects to 127.0.0.1:PORT, answers the call
// prompt with CALL (retrying until the server listens), waits for the greeting, prints "ready",
// then reads until it has WANT spot lines or SECONDS pass, prints "got" and what it received after
// the greeting, and either leaves (mode "leave") or reads on until the server closes the connection
// (mode "stay") and prints "closed".
const char* const kClient = R"PY(
import socket, sys, time
port, call, want, secs, mode = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), float(sys.argv[4]), sys.argv[5]
deadline = time.time() + secs
while True:
    try:
        s = socket.create_connection(('127.0.0.1', port), timeout=secs)
        break
    except ConnectionRefusedError:
        if time.time() > deadline: raise
        time.sleep(0.05)
b = b''
while b'call: ' not in b and time.time() < deadline:
    d = s.recv(4096)
    if not d: break
    b += d
s.sendall(call.encode() + b'\r\n')
while b'skimmer.\r\n' not in b and time.time() < deadline:
    d = s.recv(4096)
    if not d: break
    b += d
print('ready', flush=True)
b = b[b.index(b'skimmer.\r\n') + 10:] if b'skimmer.\r\n' in b else b''
while want > 0 and (b.count(b'DX de') < want or not b.endswith(b'\r\n')):
    s.settimeout(max(0.01, deadline - time.time()))
    try:
        d = s.recv(4096)
    except socket.timeout:
        break
    if not d: break
    b += d
sys.stdout.write('got\n' + b.decode().replace('\r\n', '\n'))
sys.stdout.flush()
if mode == 'stay':
    s.settimeout(max(0.01, deadline - time.time()))
    try:
        while s.recv(4096): pass
        print('closed', flush=True)
    except socket.timeout:
        print('still open', flush=True)
)PY";

std::vector<std::string> client(int port, const std::string& call, int want, double secs,
                                const std::string& mode) {
  return test::python_script(
      kClient, {std::to_string(port), call, std::to_string(want), std::to_string(secs), mode});
}

// The spot lines of a client's output after "got".
std::vector<std::string> received(const std::string& out) {
  std::vector<std::string> r;
  const std::size_t p = out.find("got\n");
  if (p == std::string::npos) return r;
  for (const auto& l : lines_of(out.substr(p + 4)))
    if (l.rfind("DX de", 0) == 0) r.push_back(l);
  return r;
}

TEST(SkimmerTelnet, ClientsOfTheProgramReceiveTheSpotsOfAStream) {
  const int port = free_port();
  ASSERT_GT(port, 0);
  TempDir dir;
  Proc prog({TALVO_DECODE, "--spots", "--spotter", "dl0tst", "--dial", "3500", "--telnet",
             std::to_string(port), "--raw", "-"});
  // Wait for the server: a client that finds nobody retries.
  Proc a(client(port, "k1aaa", 2, 30, "stay"));
  ASSERT_TRUE(a.read_until_has("ready\n", 10)) << a.out;
  Proc b(client(port, "k2bbb", 2, 30, "stay"));
  Proc leaver(client(port, "k3ccc", 1, 20, "leave"));
  // One who never gives a call and is killed mid-stream.
  Proc mute(test::netcat(port));
  ASSERT_TRUE(b.read_until_has("ready\n", 10)) << b.out;
  ASSERT_TRUE(leaver.read_until_has("ready\n", 10)) << leaver.out;
  ASSERT_TRUE(mute.read_until_has("call: ", 10)) << mute.out;

  // The first station, then silence so that its last word completes.
  ASSERT_TRUE(
      prog.write_in(s16le(render({{700, 28, "cq de dl1abc dl1abc dl1abc k"}}, 16.0, 4000, 15))));
  ASSERT_TRUE(leaver.read_until_has("DX de", 20)) << leaver.out << prog.out;
  EXPECT_EQ(leaver.wait(10), 0);
  const auto first = received(leaver.out);
  ASSERT_EQ(first.size(), 1u) << leaver.out;
  EXPECT_NE(first[0].find(" DL1ABC "), std::string::npos) << first[0];
  kill(mute.pid(), SIGKILL);

  // The second station after the leavers are gone: decoding goes on.
  ASSERT_TRUE(
      prog.write_in(s16le(render({{1200, 28, "test ok1xyz ok1xyz ok1xyz test"}}, 17.0, 4000, 15))));
  ASSERT_TRUE(prog.read_until(
      [](const std::string& o) { return o.find("OK1XYZ") != std::string::npos; }, 20))
      << prog.out;
  prog.close_in();
  EXPECT_EQ(prog.wait(15), 0) << prog.out;
  // Every spot on standard output went to both clients, in order; the
  // server closed their connections when the stream ended.
  const auto printed = lines_of(prog.out);
  ASSERT_EQ(printed.size(), 2u) << prog.out;
  EXPECT_NE(printed[0].find(" DL1ABC "), std::string::npos);
  EXPECT_NE(printed[1].find(" OK1XYZ "), std::string::npos);
  EXPECT_EQ(printed[0].rfind("DX de DL0TST-#:", 0), 0u);
  EXPECT_EQ(first[0], printed[0]);
  for (Proc* c : {&a, &b}) {
    ASSERT_TRUE(c->read_until_has("closed\n", 15)) << c->out;
    EXPECT_EQ(received(c->out), printed) << c->out;
  }
}

TEST(SkimmerTelnet, APortInUseIsNamed) {
  // Two skimmers on one port: the second says why it cannot serve.
  const int port = free_port();
  Proc first({TALVO_DECODE, "--spots", "--telnet", std::to_string(port), "--raw", "-"});
  Proc probe(client(port, "k1aaa", 0, 10, "leave"));
  ASSERT_TRUE(probe.read_until_has("got\n", 10)) << probe.out;
  const auto r = decode({"--spots", "--telnet", std::to_string(port), "--raw", "-"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("talvo-decode: spot server: ", 0), 0u) << r.err;
  first.close_in();
  EXPECT_EQ(first.wait(10), 0);
}

// -------------------------------------------------------------------- live

using test::state_of;

TEST(SkimmerLive, DecodesTheSoundCardUntilCtrlC) {
  // The over ends with "k" and a second of band noise: its line is printed
  // while the sound card still runs, before Ctrl-C.
  test::MorseSignal m;
  m.text = "cq cq de dl1abc dl1abc k";
  m.freq = 900;
  m.cpm = 110;
  m.amp = 4000;
  const test::Keyed k = test::morse(m);
  TempDir bin;
  bin.write("rec.raw", s16le(test::render({k.tone}, k.end + 1.0, test::noise_for_snr(4000, 15))));
  // Like a sound card the fake arecord keeps its pipe open after what it
  // played, until Ctrl-C ends it too.
  bin.write("arecord",
            "#!/bin/sh\nprintf '%s\\n' \"$*\" > " + bin.file("args") + "\ncat " +
                bin.file("rec.raw") + "\ntouch " + bin.file("played") + "\nexec sleep 60\n",
            true);
  Proc prog({TALVO_DECODE, "--live", "--span", "800-1000"}, bin.path());
  ASSERT_TRUE(prog.read_until_has(" k\n", 20)) << prog.out;
  const auto got = summary(prog.out);
  ASSERT_EQ(got.size(), 1u) << prog.out;
  EXPECT_EQ(prog.out.substr(0, 4), "[00:") << prog.out;
  EXPECT_EQ(got[0].hz, 900);
  EXPECT_EQ(test::after_first_word(got[0].text), "cq de dl1abc dl1abc k") << got[0].text;
  kill(-prog.pid(), SIGINT);  // Ctrl-C: to the program and its recorder
  EXPECT_EQ(prog.wait(15), 130) << prog.out;
  EXPECT_EQ(bin.read("args"), "-D sysdefault -q -t raw -c 1 -r 48000 -f S16_LE\n");
  EXPECT_EQ(summary(prog.out).size(), 1u) << prog.out;  // nothing more, no summary again
}

TEST(SkimmerLive, ADeviceIsPassedToArecord) {
  TempDir bin;
  bin.write("arecord",
            "#!/bin/sh\nprintf '%s\\n' \"$*\" > " + bin.file("args") +
                "\necho 'audio open error' >&2\nexit 1\n",
            true);
  test::RunOptions o;
  o.path_prefix = bin.path();
  const auto r = decode({"--live", "hw:1,0", "--spots"}, o);
  EXPECT_EQ(bin.read("args"), "-D hw:1,0 -q -t raw -c 1 -r 48000 -f S16_LE\n");
  // A recorder that fails is named, with status 1.
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "audio open error\narecord ended with status 1: no more audio\n");
  EXPECT_EQ(r.out, "");
}

TEST(SkimmerLive, AMissingArecordIsNamed) {
  TempDir empty;
  test::RunOptions o;
  o.path = empty.path();  // no arecord anywhere
  const auto r = decode({"--live"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "cannot start arecord: not found (apt-get install alsa-utils)\n");
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace talvo
