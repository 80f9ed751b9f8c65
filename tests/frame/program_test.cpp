// The program as the operator starts it, with fake arecord and aplay first on
// PATH that record their arguments and the bytes they are given.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "support/fakes.h"
#include "support/signal.h"

namespace talvo {
namespace {

using test::kHeadless;
using test::Station;

TEST(Program, NoArgumentWritesTheUsageAndStartsNothing) {
  Station f;
  const auto r = f.talvo({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.substr(0, 7 + std::string(TALVO_BINARY).size()),
            std::string("Usage: ") + TALVO_BINARY);
  EXPECT_NE(r.err.find("\tVersion velquin36v1\n"), std::string::npos);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 10);
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(f.bin.exists("arecord.args"));
}

TEST(Program, RefusesAChannelPlanOrWidthItCannotServe) {
  // Each refusal once here, as the program shows it; every value it refuses
  // is in the command line's own test.
  Station f;
  auto r = f.talvo({"seven"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "centre frequency seven out of range: use 460 to 23789 Hz\n");
  EXPECT_EQ(r.out, "");
  r = f.talvo({"700", "99999", "notone", "stdin"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "window width 99999 out of range: use 446 to 2493 pixels\n");
  EXPECT_EQ(r.out, "");
  // Refused before anything starts: no recorder ran.
  EXPECT_FALSE(f.bin.exists("arecord.args"));
}

TEST(Program, ReceiverOptionComesFirstAndIsOneOfTwo) {
  Station f;
  auto r = f.talvo({"--receiver", "bogus", "700"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "--receiver must be fine or classic\n");
  r = f.talvo({"--receiver", "fine"});  // no centre frequency: the usage
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.substr(0, 7), "Usage: ");
  // On the fine receiver a stream runs to its end like on the classic one.
  const auto audio = test::mix({{700, 8000, 0, {{0.1, 0.3}}, 0.005}}, 0.5);
  r = f.talvo({"--receiver", "fine", "700", "1200", "notone", "stdin"}, test::to_bytes(audio));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kHeadless);
  r = f.talvo({"--receiver", "classic", "700", "1200", "notone", "stdin"}, test::to_bytes(audio));
  EXPECT_EQ(r.status, 0);
}

TEST(Program, ReadsTheRecorderPipeToItsEnd) {
  const auto audio = test::mix({{700, 8000, 0, {{0.1, 0.3}}, 0.005}}, 0.5);
  Station f;
  f.record(test::to_bytes(audio));
  const auto r = f.talvo({"700"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kHeadless);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(f.bin.read("arecord.args"), "-D sysdefault -t raw -c 1 -r 48000 -f S16_LE\n");
  EXPECT_FALSE(f.bin.exists("aplay.args"));
}

TEST(Program, RecorderThatCannotRunEndsTheProgramAfterStartUp) {
  Station f;
  test::RunOptions o;
  o.cwd = f.work.path();
  o.path = f.work.path();  // no arecord anywhere
  const auto r = test::run({TALVO_BINARY, "700"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "cannot start arecord: not found (apt-get install alsa-utils)\n");
  EXPECT_EQ(r.out, "");  // it ends before anything else
}

TEST(Program, RecorderThatFailsEndsTheProgramWithStatus1) {
  Station f;
  // A recorder that finds no sound card: its own word, then status 1.
  f.bin.write("arecord", "#!/bin/sh\necho 'audio open error' >&2\nexit 1\n", true);
  auto r = f.talvo({"700"});
  EXPECT_EQ(r.status, 1);
  // The recorder's word comes while talvo starts up: anywhere before the end.
  const std::size_t word = r.err.find("audio open error\n");
  ASSERT_NE(word, std::string::npos) << r.err;
  EXPECT_EQ(r.err.substr(0, word) + r.err.substr(word + 17),
            kHeadless + "arecord ended with status 1: no more audio\n");
  // One the shell cannot run (status 127) is named as missing.
  f.bin.write("arecord", "#!/bin/sh\nexit 127\n", true);
  r = f.talvo({"700"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kHeadless + "cannot start arecord: not found (apt-get install alsa-utils)\n");
}

TEST(Program, MissingPlayerIsAnOutputGoneFromTheStart) {
  // PATH holds gunzip and gzip (for the font) and nothing else: no aplay.
  Station f;
  test::TempDir bin;
  for (const std::string tool : {"gunzip", "gzip"})
    ASSERT_EQ(symlink(("/bin/" + tool).c_str(), bin.file(tool).c_str()), 0);
  test::RunOptions o;
  o.cwd = f.work.path();
  o.path = bin.path();
  o.input = std::string(96000, '\0');
  for (const std::string mode : {"rxtone", "txtone"}) {
    const auto r = test::run({TALVO_BINARY, "700", "1200", mode, "stdin"}, o);
    EXPECT_EQ(r.status, 0) << mode;
    EXPECT_EQ(r.err, kHeadless + "audio output is gone: aplay ended; decoding goes on\n") << mode;
  }
}

TEST(Program, MissingTxtextIsReportedOnce) {
  Station f;
  unlink(f.work.file("txtext.asc").c_str());
  const auto r = f.stdin_run_alone(std::string(1000, '\0'));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kHeadless + "txtext cannot be opened\n");
  // A directory of that name is reported the same.
  mkdir(f.work.file("txtext.asc").c_str(), 0755);
  const auto d = f.stdin_run_alone(std::string(1000, '\0'));
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.err, kHeadless + "txtext cannot be opened\n");
}

TEST(Program, RxtonePrimesThePlayerAndPassesTheInputThrough) {
  std::string in = test::to_bytes(test::mix({{650, 12000, 0, {{0, 1}}, 0.005}}, 0.25, 500));
  const std::string whole = in;
  in.push_back('\x01');  // a lone last byte is dropped
  Station f;
  const auto r = f.talvo({"700", "1200", "rxtone", "stdin"}, in);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kHeadless);
  EXPECT_FALSE(f.bin.exists("arecord.args"));
  const std::string played = f.played();
  EXPECT_EQ(f.bin.read("aplay.args"), "-r 48000 -t raw -f S16_LE -c 1\n");
  ASSERT_EQ(played.size(), 4000 + whole.size());
  EXPECT_EQ(played.substr(0, 4000), std::string(4000, '\0'));
  EXPECT_EQ(played.substr(4000), whole);
}

TEST(Program, TxtoneSendsOneSamplePerInputSample) {
  Station f;
  const auto r = f.talvo({"700", "1200", "txtone", "stdin"}, std::string(2 * 30000, '\x11'));
  EXPECT_EQ(r.status, 0);
  // The keyer is idle: the primer and then silence, in step with the input.
  EXPECT_EQ(f.played(), std::string(4000 + 2 * 30000, '\0'));
}

TEST(Program, SerialDeviceThatCannotBeOpenedEndsTheProgram) {
  Station f;
  const auto r =
      f.talvo({"700", "1200", "notone", "stdin", "/nonexistent/ttyUSB9"}, std::string(100, '\0'));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kHeadless + "serial device cannot be opend\n");
}

TEST(Program, RunsWithATerminalAsKeyLine) {
  // A pseudo-terminal stands in for the serial adapter: it opens and takes
  // the terminal settings like one.
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  Station f;
  const auto r = f.talvo({"700", "1200", "notone", "stdin", slave}, std::string(48000, '\0'));
  close(master);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kHeadless);
}

}  // namespace
}  // namespace talvo
