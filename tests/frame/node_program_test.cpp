// talvo-decode as a cluster node: a recording decoded with --telnet keeps
// its spots on offer to loggers that connect after the end, until SIGTERM;
// spots are stamped with the recording's time (--start-time, or the time
// the WAV file records), never the file's modification time.
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/loopback.h"
#include "support/piped_child.h"
#include "support/process.h"
#include "support/render.h"
#include "support/run_decode.h"
#include "support/stations.h"
#include "support/write_audio.h"
#include "util/utc_time.h"

namespace talvo {
namespace {

using test::Station;
using test::TempDir;

// Two stations calling CQ, three copies each, 17 s.
std::vector<float> two_runners() {
  const std::vector<Station> st = {{700, 28, "cq de dl1abc dl1abc dl1abc k"},
                                   {1400, 28, "cq test ok1xyz ok1xyz ok1xyz test"}};
  return test::render(test::station_tones(st, 4000, 0.7), 17.0, test::noise_for_snr(4000, 15), 5,
                      {}, false);
}

// Logs in as K1ABC, sends sh/dx and prints what came back until `want`
// spot lines are in or the seconds pass.
const char* const kLateLogger = R"PY(
import socket, sys, time
port, want, secs = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
deadline = time.time() + secs
s = socket.create_connection(('127.0.0.1', port), timeout=secs)
b = b''
def read_until(cond):
    global b
    while not cond() and time.time() < deadline:
        s.settimeout(max(0.01, deadline - time.time()))
        try:
            d = s.recv(4096)
        except socket.timeout:
            return
        if not d:
            return
        b += d
read_until(lambda: b'call: ' in b)
s.sendall(b'k1abc\r\nsh/dx\r\n')
read_until(lambda: b.count(b'DX de') >= want and b.endswith(b'\r\n'))
sys.stdout.write(b.decode().replace('\r\n', '\n') + 'end\n')
)PY";

std::vector<std::string> dx(const std::string& out) {
  return test::dx_lines(out, "\n");
}

TEST(NodeProgram, AFileWithTelnetServesItsSpotsAfterTheEndUntilSigterm) {
  TempDir dir;
  const std::string wav = dir.file("run.wav");
  ASSERT_EQ(test::write_float_wav(wav, two_runners()), "");
  const int port = test::free_port();
  ASSERT_GT(port, 0);
  test::PipedChild prog(
      {TALVO_DECODE, "--spots", "--spotter", "dl0tst", "--dial", "14000", "--start-time",
       "2026-12-08T18:54:00Z", "--telnet", std::to_string(port), wav},
      {true, true, ""});
  const std::string serving =
      "talvo-decode: decoded; serving 2 spots on port " + std::to_string(port) + " until Ctrl-C\n";
  ASSERT_TRUE(prog.read_until_has(serving, 60)) << prog.out;
  const auto printed = dx(prog.out);
  ASSERT_EQ(printed.size(), 2u) << prog.out;
  // Timed by the start time given: 18:54 plus the seconds into the audio.
  for (const auto& l : printed)
    EXPECT_EQ(l.substr(l.size() - 5), "1854Z") << l;
  // A logger that comes after the end gets the band with sh/dx.
  test::PipedChild late(test::python_script(kLateLogger, {std::to_string(port), "2", "15"}));
  ASSERT_TRUE(late.read_until_has("end\n", 20)) << late.out;
  EXPECT_EQ(dx(late.out), printed) << late.out;
  // Still serving; SIGTERM ends it, the normal way: status 0.
  EXPECT_EQ(prog.wait(0.3), -1);
  kill(prog.pid(), SIGTERM);
  EXPECT_EQ(prog.wait(15), 0) << prog.out;
}

TEST(NodeProgram, SpotsTakeTheTimeTheWavRecordsOrTheStartTimeGiven) {
  TempDir dir;
  const std::string wav = dir.file("bwf.wav");
  // A Broadcast Wave file that began at 2026-12-08 21:07:30.
  {
    const std::vector<float> s = two_runners();
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(wav.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr);
    SF_BROADCAST_INFO bext{};
    std::memcpy(bext.origination_date, "2026-12-08", 10);
    std::memcpy(bext.origination_time, "21:07:30", 8);
    ASSERT_EQ(sf_command(f, SFC_SET_BROADCAST_INFO, &bext, sizeof bext), SF_TRUE);
    std::vector<float> scaled(s.size());
    for (std::size_t i = 0; i < s.size(); i++)
      scaled[i] = s[i] / 32768.0f;
    sf_write_float(f, scaled.data(), static_cast<sf_count_t>(scaled.size()));
    sf_close(f);
  }
  const auto r = test::run_decode({"--format", "events", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  int spots = 0;
  for (std::size_t p = 0; (p = r.out.find("\"utc\": \"", p)) != std::string::npos; p++) {
    std::int64_t utc = 0;
    ASSERT_TRUE(parse_utc(r.out.substr(p + 8, 20), utc)) << r.out.substr(p, 40);
    // 21:07:30 plus up to the 17 s of the recording.
    EXPECT_GE(utc, 1796764050);
    EXPECT_LE(utc, 1796764050 + 17);
    spots++;
  }
  EXPECT_EQ(spots, 2) << r.out;
  // --start-time comes first.
  const auto given = test::run_decode({"--spots", "--start-time", "2026-12-09T00:00Z", wav});
  const auto lines = test::dx_lines(given.out, "\n");
  ASSERT_EQ(lines.size(), 2u) << given.out;
  EXPECT_EQ(lines[0].substr(lines[0].size() - 5), "0000Z");
  // Refused: not UTC, a day that does not exist, with --live.
  for (const char* bad : {"2026-12-08T18:54:00+01:00", "2026-02-30T00:00Z", "1854"}) {
    const auto e = test::run_decode({"--start-time", bad, wav});
    EXPECT_EQ(e.status, 2) << bad;
    EXPECT_NE(e.err.find("--start-time must be a UTC time"), std::string::npos) << e.err;
  }
  const auto live = test::run_decode({"--live", "--start-time", "2026-12-08T18:54Z"});
  EXPECT_EQ(live.err,
            "talvo-decode: --start-time is for recordings: --live spots at the clock\n"
            "Try 'talvo-decode --help'.\n");
}

TEST(NodeProgram, AStationStillCallingIsRespottedExactlyTenMinutesOnWithoutWaitingForIt) {
  // K5MR (a known call: two copies) calls at 0 s and 560 s and again at
  // 640 s, silence between: an 8 kHz WAV of 660 s.
  const std::vector<float> cq =
      test::render(test::station_tones({{700, 28, "cq test k5mr k5mr test"}}, 4000, 0.7), 10.0,
                   test::noise_for_snr(4000, 25), 5, {}, false);
  std::vector<short> s(660 * 8000, 0);
  for (int start : {0, 560, 640})
    for (std::size_t i = 0; i * 6 < cq.size(); i++)
      s[static_cast<std::size_t>(start) * 8000 + i] = static_cast<short>(cq[i * 6]);
  TempDir dir;
  const std::string wav = dir.file("long.wav");
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(wav.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  sf_write_short(f, s.data(), static_cast<sf_count_t>(s.size()));
  sf_close(f);
  const auto r = test::run_decode({"--threads", "1", "--span", "600-800", "--format", "events",
                                   "--start-time", "2026-12-08T18:54:00Z", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::int64_t> utc;
  std::vector<double> at;
  for (std::size_t p = 0; (p = r.out.find("\"call\": \"K5MR\"", p)) != std::string::npos; p++) {
    const std::size_t line = r.out.rfind('\n', p) + 1;
    at.push_back(std::atof(r.out.c_str() + line + 6));  // {"t": ...
    const std::size_t u = r.out.find("\"utc\": \"", p) + 8;
    std::int64_t t = 0;
    ASSERT_TRUE(parse_utc(r.out.substr(u, 20), t)) << r.out.substr(u, 20);
    utc.push_back(t);
  }
  ASSERT_EQ(utc.size(), 2u) << r.out;
  EXPECT_EQ(utc[1] - utc[0], 600);
  EXPECT_LT(utc[0] - 1796756040, 10);  // in its first sending
  // Out when the audio reached it, before K5MR was heard again at 640 s.
  EXPECT_GE(at[1], 600.0);
  EXPECT_LT(at[1], 615.0);
}

}  // namespace
}  // namespace talvo
