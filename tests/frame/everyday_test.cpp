// talvo-decode as a new user meets it: a stream stopped with Ctrl-C or
// SIGTERM, a file format piped in, a stereo file, nothing decoded and why,
// command-line rules, timestamps.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>

#include "input/diagnosis.h"
#include "input/sniff.h"
#include "support/fakes.h"
#include "support/morse.h"
#include "support/morse_recording.h"
#include "support/process.h"
#include "support/run_decode.h"
#include "support/signal.h"

namespace talvo {
namespace {

using test::run;
using test::TempDir;

const std::string kText = "cq de dl1abc test k";

// Raw S16LE 48 kHz audio of kText, and files made from it with sox.
struct Audio : test::MorseRecording {
  explicit Audio(double amp = 6000, double freq = 700, double tail = 1.0, double start = 0.2,
                 double noise = 300)
      : MorseRecording(signal(amp, freq, start), tail, noise) {}
  static test::MorseSignal signal(double amp, double freq, double start) {
    test::MorseSignal m;
    m.text = kText;
    m.amp = amp;
    m.freq = freq;
    m.start = start;
    return m;
  }
};

test::Run decode(const std::vector<std::string>& args, const std::string& input = "") {
  return test::run_classic_decode(args, input);
}

// The text of the 700 Hz cluster's line ("?" when it has none), after an
// optional timestamp.
std::string line700(const std::string& out) {
  return test::cluster_text(out, 700);
}

TEST(Interrupt, SigintPrintsTheCompleteCharactersAndNoJunk) {
  // A character is complete once the gap after it has been heard; Ctrl-C
  // drops the one in progress rather than finish it as something it was
  // not. The stream stays open after what it holds, as a sound card's does.
  const std::string sent = "cq de dl1abc test";  // kText before its "k"
  Audio whole(6000, 700, 1.0);
  Audio cut(6000, 700, 0.02);
  // Cut one dot into the first dash of "k" (halfway from the end of "t"
  // over the word gap, 7 dots, and the 9 dots of "k"): once finished this
  // would be an "e" or a "t".
  const auto& ends = cut.keyed.char_ends;
  const double mid = (ends[ends.size() - 2] + ends.back()) / 2;
  const std::string half = cut.raw.substr(0, 2 * static_cast<std::size_t>(mid * 48000));
  const std::pair<std::string, std::string> cases[] = {
      {whole.raw, kText},  // a second after "k": complete
      {cut.raw, sent},     // 20 ms after its last mark: its gap was not heard
      {half, sent},        // in the middle of it
  };
  for (const auto& [raw, text] : cases) {
    const auto r =
        test::run_until_signal({TALVO_DECODE, "--receiver", "classic", "-"}, raw, SIGINT);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_EQ(line700(r.out), text) << r.out;
    EXPECT_EQ(r.err, "");
  }
  // The same stream ended (not cut) finishes its last character.
  EXPECT_EQ(line700(decode({"-"}, cut.raw).out), kText);
}

TEST(Interrupt, SigtermPrintsTheJsonSummary) {
  Audio a(6000, 700, 1.0);
  const auto r = test::run_until_signal(
      {TALVO_DECODE, "--receiver", "classic", "--format", "json", "-"}, a.raw, SIGTERM);
  EXPECT_EQ(r.status, 143) << r.err;
  EXPECT_NE(r.out.find("{\"center_hz\": 700, \"cpm\": "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"text\": \"" + kText + "\"}"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 3), "]}\n");
}

TEST(Interrupt, AFlacStreamIsCutCleanlyToo) {
  Audio a(6000, 700, 0.02);
  const std::string flac = TempDir::contents(a.make("s.flac"));
  const auto r = test::run_until_signal({TALVO_DECODE, "--receiver", "classic", "-"}, flac, SIGINT);
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_EQ(line700(r.out), "cq de dl1abc test") << r.out;
}

TEST(Stdin, RecognisesTheFormatsByTheirFirstBytes) {
  // Heads written with their length: they hold NUL bytes.
  const auto kind = [](const char* head, std::size_t n) {
    return sniff(reinterpret_cast<const unsigned char*>(head), n);
  };
  EXPECT_EQ(kind("RIFF\x24\0\0\0WAVEfmt ", 16), StreamKind::kWav);
  EXPECT_EQ(kind("RF64\xff\xff\xff\xffWAVE", 12), StreamKind::kWav);
  EXPECT_EQ(kind("RIFF\x24\0\0\0AVI ", 12), StreamKind::kRaw);
  EXPECT_EQ(kind("RIFF\x24\0\0\0WAV", 11), StreamKind::kRaw);  // too short to tell
  EXPECT_EQ(kind("fLaC\0\0\0\x22", 8), StreamKind::kFlac);
  EXPECT_EQ(kind("fLa", 3), StreamKind::kRaw);
  EXPECT_EQ(kind("OggS\0\x02", 6), StreamKind::kOgg);
  EXPECT_EQ(kind("FORM\0\0\x10\0AIFF", 12), StreamKind::kAiff);
  EXPECT_EQ(kind("FORM\0\0\x10\0AIFC", 12), StreamKind::kAiff);
  EXPECT_EQ(kind("FORM\0\0\x10\08SVX", 12), StreamKind::kRaw);
  EXPECT_EQ(kind("", 0), StreamKind::kRaw);
  EXPECT_EQ(kind("\0\0\0\0\0\0\0\0\0\0\0\0", 12), StreamKind::kRaw);
  EXPECT_STREQ(kind_name(StreamKind::kFlac), "FLAC");
}

TEST(Stdin, FilesPipedInDecodeAsFiles) {
  Audio a;
  const auto raw = decode({"-"}, a.raw);
  ASSERT_EQ(line700(raw.out), kText) << raw.err;
  const std::pair<std::string, std::vector<std::string>> files[] = {
      {"s.flac", {}},
      {"s22.flac", {"rate", "22050"}},
      {"s44.wav", {"rate", "44100"}},
      {"s.aiff", {}},
      {"s.ogg", {}},
  };
  for (const auto& [name, fx] : files) {
    const auto r = decode({"-"}, TempDir::contents(a.make(name, fx)));
    EXPECT_EQ(r.status, 0) << name << r.err;
    EXPECT_EQ(r.err, "") << name;
    // Vorbis may blur a character gap: close, not necessarily the same.
    const std::string got = line700(r.out);
    EXPECT_LE(test::edit_distance(got, kText), name == "s.ogg" ? 2 : 0) << name << ": " << got;
  }
  // --raw takes the bytes as samples at 48 kHz, header and all: a 22050 Hz
  // file plays at more than twice its pace, its tone far above 700 Hz.
  const std::string wav22 = TempDir::contents(a.make("s22.wav", {"rate", "22050"}));
  EXPECT_EQ(line700(decode({"-"}, wav22).out), kText);
  const auto forced = decode({"--raw", "-"}, wav22);
  EXPECT_EQ(forced.status, 0);
  EXPECT_EQ(forced.out, "");
  EXPECT_EQ(forced.err.rfind("talvo-decode: signals found at 15", 0), 0u) << forced.err;
  // A stream that only starts like a file is refused as that file.
  const auto broken = decode({"-"}, std::string("fLaC") + std::string(100, '\x7f'));
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.err.rfind("talvo-decode: -: a FLAC stream that cannot be read", 0), 0u)
      << broken.err;
}

TEST(MultiChannel, ChannelsAreMixedUnlessOneIsChosen) {
  // The signal on the right channel only, at 12000: mixed (the mean of the
  // two) it is at the 6000 the receiver decodes best.
  Audio a(12000);
  const std::string stereo = a.make("right.wav", {"remix", "0", "1"});
  EXPECT_EQ(line700(decode({stereo}).out), kText);
  EXPECT_EQ(line700(decode({"-"}, TempDir::contents(stereo)).out), kText);  // piped in too
  // The left channel alone hears nothing, and says so.
  const auto left = decode({"--channel", "1", stereo});
  EXPECT_EQ(left.out, "");
  EXPECT_EQ(left.err.rfind("talvo-decode: no signal found", 0), 0u) << left.err;
}

TEST(Diagnosis, TheLoudestToneIsMeasuredToWithinHalfADecibel) {
  for (const auto& [hz, amp] : {std::pair{1234.5, 3277.0}, {700.0, 26.0}, {3000.0, 30000.0}}) {
    test::KeyedTone t;
    t.freq = hz;
    t.amp = amp;
    t.on = {{0.5, 0.8}};
    const auto audio = test::mix({t}, 1.5);
    std::vector<double> x(audio.begin(), audio.end());
    ToneWatch w;
    for (std::size_t i = 0; i < x.size(); i += 512)
      w.step(x.data() + i, static_cast<int>(std::min<std::size_t>(512, x.size() - i)));
    const LoudestTone l = w.loudest();
    EXPECT_FALSE(l.silent);
    EXPECT_NEAR(l.hz, hz, 1.0);
    EXPECT_NEAR(l.dbfs, 20 * std::log10(amp / 32768), 0.5) << hz;
    w.reset();
    EXPECT_TRUE(w.loudest().silent);
  }
}

TEST(Diagnosis, NothingDecodedSaysWhy) {
  struct Case {
    std::string what, raw, err;
  };
  const Case cases[] = {
      {"a signal above the clusters", Audio(6000, 1500).raw,
       "talvo-decode: signals found at 1500 Hz, outside the clusters (490\u2013910 Hz): try "
       "--center 1500\n"},
      {"a tone far too weak (amplitude 26)", Audio(26, 700, 1.0, 0.2, 0).raw,
       "talvo-decode: no signal found: the loudest tone was at \u221262 dBFS\n"},
      {"a quiet recording (amplitude 600)", Audio(600).raw,
       "talvo-decode: signals found at 700 Hz at \u221235 dBFS, too weak to decode: try "
       "--auto-gain\n"},
      {"silence", std::string(96000 * 3, '\0'),
       "talvo-decode: no signal found: the input is silent\n"},
      {"noise alone", test::to_bytes(test::mix({}, 5.0, 3000, 4)),
       "talvo-decode: no signal found: the loudest tone was at "},
  };
  for (const auto& c : cases) {
    const auto r = decode({"-"}, c.raw);
    EXPECT_EQ(r.status, 0) << c.what;
    EXPECT_EQ(r.out, "") << c.what;
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.what;
  }
  // With --center where it says, the signal above decodes.
  const auto moved = decode({"--center", "1500", "-"}, Audio(6000, 1500).raw);
  EXPECT_EQ(moved.err, "");
  EXPECT_NE(moved.out.find(" 1500 Hz "), std::string::npos) << moved.out;
  // And the quiet one with --auto-gain; something decoded says nothing more.
  const auto quiet = decode({"--auto-gain", "-"}, Audio(600).raw);
  EXPECT_NE(line700(quiet.out).find("dl1abc test k"), std::string::npos) << quiet.out;
  EXPECT_EQ(quiet.err, "");
}

TEST(Messages, CenterAndGainStateTheirRule) {
  const std::string try_help = "Try 'talvo-decode --help'.\n";
  const std::string center =
      "talvo-decode: --center must be a whole number of Hz from 460 to 23789\n" + try_help;
  const std::string gain = "talvo-decode: --gain must be above 0 and at most 1000\n" + try_help;
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--center", "700.5", "-"}, center}, {{"--center", "459", "-"}, center},
      {{"--center", "23790", "-"}, center}, {{"--center", "abc", "-"}, center},
      {{"--gain", "1001", "-"}, gain},      {{"--gain", "0", "-"}, gain},
      {{"--gain", "-1", "-"}, gain},        {{"--gain", "x", "-"}, gain},
  };
  for (const auto& [args, err] : cases) {
    const auto r = decode(args);
    EXPECT_EQ(r.status, 2) << args[1];
    EXPECT_EQ(r.err, err) << args[1];
  }
  // The limits themselves are allowed.
  for (const std::vector<std::string>& ok : {std::vector<std::string>{"--center", "460", "-"},
                                             {"--center", "23789", "-"},
                                             {"--gain", "1000", "-"},
                                             {"--gain", "0.001", "-"}})
    EXPECT_EQ(decode(ok, std::string(9600, '\0')).status, 0) << ok[1] << " " << ok[2];
}

TEST(Timestamps, EachLineStartsWithItsFirstCharactersTime) {
  // The signal starts 83.4 s into the recording.
  Audio a(6000, 700, 1.0, 83.4);
  const auto r = decode({"--timestamps", "-"}, a.raw);
  ASSERT_EQ(r.status, 0) << r.err;
  int h = -1, m = -1, used = 0;
  double sec = -1;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "[%2d:%2d:%4lf] %n", &h, &m, &sec, &used), 3) << r.out;
  EXPECT_EQ(r.out.substr(0, 7), "[00:01:");
  EXPECT_EQ(r.out.substr(9, 1), ".");
  EXPECT_EQ(r.out.substr(11, 2), "] ");
  const double t = h * 3600 + m * 60 + sec;
  // The decoder gives its first characters once it has their speed: "cq"
  // together, when the gap after "q" has reached the end-of-character
  // length behind the receiver's smoothing (0.2 to 0.37 s after its end).
  const double q_end = a.keyed.char_ends[1];
  EXPECT_GT(t, q_end + 0.2 - 0.05);
  EXPECT_LT(t, q_end + 0.37 + 0.05);
  EXPECT_EQ(line700(r.out), kText);
  // A file without the option has none; piped in, its lines always do.
  const std::string wav = a.make("s.wav");
  EXPECT_EQ(decode({wav}).out[0], ' ');
  EXPECT_EQ(decode({"-"}, a.raw).out, r.out);
}

// talvo from a folder of its own, headless, on a second of silence.
test::Run talvo_in(const std::string& binary, const std::string& cwd) {
  test::RunOptions o;
  o.cwd = cwd;
  o.input = std::string(96000, '\0');
  return run({binary, "700", "1200", "notone", "stdin"}, o);
}

TEST(DataFiles, CurrentFolderThenBesideTheProgramThenInstalled) {
  const std::string& headless = test::kNoWindow;
  // The font's command and name, both on standard error.
  const auto loaded = [](const std::string& font) {
    return "gunzip -c  " + font + "\n" + "font: " + font + "\n";
  };
  TempDir prefix, work;
  const auto install = run({TALVO_CMAKE, "--install", TALVO_BUILD_DIR, "--prefix", prefix.path()});
  ASSERT_EQ(install.status, 0) << install.err;
  const std::string installed = prefix.file("bin/talvo");
  // Found in the installation's data folder, the texts too.
  auto r = talvo_in(installed, work.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, loaded(prefix.file("share/talvo/velquin-font.psf.gz")) + headless);
  // Beside the program before that.
  TempDir beside;
  beside.write("talvo", TempDir::contents(installed), true);
  beside.write("velquin-font.psf.gz", TempDir::contents(TALVO_FONT));
  r = talvo_in(beside.file("talvo"), work.path());
  EXPECT_EQ(r.err,
            loaded(beside.file("velquin-font.psf.gz")) + headless + "txtext cannot be opened\n");
  // The current folder first of all.
  work.write("velquin-font.psf.gz", TempDir::contents(TALVO_FONT));
  work.write("txtext.asc", "cq\n");
  r = talvo_in(installed, work.path());
  EXPECT_EQ(r.err, loaded("velquin-font.psf.gz") + headless);
  EXPECT_EQ(r.out, "");  // standard output carries the selected clusters' text alone
  // Nowhere: the font is not named, the texts are missed as before (unless
  // this machine has an installation in the configured prefix).
  if (std::filesystem::exists(TALVO_DATADIR)) GTEST_SKIP() << TALVO_DATADIR << " exists";
  TempDir alone, empty;
  alone.write("talvo", TempDir::contents(installed), true);
  r = talvo_in(alone.file("talvo"), empty.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find("font: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("txtext cannot be opened\n"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace talvo
