// talvo-decode as a script runs it: formats, events, errors, the sample.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "support/morse.h"
#include "support/morse_recording.h"
#include "support/process.h"
#include "support/run_decode.h"

namespace talvo {
namespace {

using test::run;
using test::TempDir;

const std::string kText = "cq cq de dl1abc dl1abc test test k";

// kText at amplitude 6000 with noise at 300, then a second of noise.
struct Files : test::MorseRecording {
  Files() : MorseRecording(signal(), 1.0, 300) {}
  static test::MorseSignal signal() {
    test::MorseSignal m;
    m.text = kText;
    m.amp = 6000;
    return m;
  }
};

test::Run decode(const std::vector<std::string>& args, const std::string& input = "") {
  return test::run_classic_decode(args, input);
}

using test::cluster_text;
std::string line700(const std::string& out) {
  return cluster_text(out, 700);
}

TEST(TalvoDecode, EveryFormatDecodesTheSameSignalToTheSameText) {
  Files f;
  const auto raw = decode({"-"}, f.raw);
  ASSERT_EQ(raw.status, 0) << raw.err;
  const std::string want = line700(raw.out);
  EXPECT_NE(want.find("dl1abc test test k"), std::string::npos) << raw.out;
  const std::pair<std::string, std::vector<std::string>> inputs[] = {
      {"s48.wav", {}}, {"s44.wav", {"rate", "44100"}},
      {"s.flac", {}},  {"s22.flac", {"rate", "22050"}},
      {"s.aiff", {}},
  };
  for (const auto& [name, fx] : inputs) {
    const auto r = decode({f.make(name, fx)});
    EXPECT_EQ(r.status, 0) << name << r.err;
    EXPECT_EQ(line700(r.out), want) << name;
  }
  // A stereo file with the signal in its second channel and silence in the first.
  const std::string stereo = f.make("st.wav", {"remix", "0", "1"});
  EXPECT_EQ(line700(decode({"--channel", "2", stereo}).out), want);
  EXPECT_EQ(decode({"--channel", "1", stereo}).out, "");  // channel 1 hears nothing
}

TEST(TalvoDecode, JsonListsEveryClusterInOrder) {
  Files f;
  const auto r = decode({"--format", "json", "-"}, f.raw);
  ASSERT_EQ(r.status, 0);
  int n = 0, last = 0;
  for (std::size_t at = r.out.find("{\"center_hz\": "); at != std::string::npos;
       at = r.out.find("{\"center_hz\": ", at + 1), n++) {
    int hz = 0, cpm = 0, wpm = 0, used = 0;
    ASSERT_EQ(std::sscanf(r.out.c_str() + at,
                          "{\"center_hz\": %d, \"cpm\": %d, \"wpm\": %d, \"text\": \"%n", &hz, &cpm,
                          &wpm, &used),
              3);
    EXPECT_GT(hz, last);
    last = hz;
    EXPECT_EQ(wpm, cpm / 5);
    const std::string text = r.out.substr(at + used, r.out.find('"', at + used) - at - used);
    if (hz == 700) {
      EXPECT_NE(text.find("test test k"), std::string::npos);
    }
  }
  EXPECT_EQ(n, 9);
  EXPECT_EQ(r.out.substr(0, 14), "{\"clusters\": [");
}

TEST(TalvoDecode, EventsComeWhenEachCharacterEnds) {
  Files f;
  const auto r = decode({"--format", "events", "-"}, f.raw);
  ASSERT_EQ(r.status, 0);
  std::vector<std::pair<double, std::string>> letters;
  std::istringstream lines(r.out);
  for (std::string l; std::getline(lines, l);) {
    double t = 0;
    int hz = 0, cpm = 0;
    char text[64] = {};
    if (std::sscanf(l.c_str(), "{\"t\": %lf, \"center_hz\": %d, \"cpm\": %d, \"text\": \"%63[^\"]",
                    &t, &hz, &cpm, text) == 4 &&
        hz == 700 && std::string(text) != " ")
      letters.push_back({t, text});
  }
  // The last characters, from the end: "test k" (5 letters), each decoded
  // when its gap has reached the end-of-character length (about 1.7 units,
  // 0.1 s), behind the receiver's smoothing (0.2 s) and the averaging and
  // threshold of the mark's end (up to 50 ms).
  ASSERT_GE(letters.size(), 5u);
  const auto& ends = f.keyed.char_ends;
  for (std::size_t i = 1; i <= 5; i++) {
    const double t = letters[letters.size() - i].first;
    const double end = ends[ends.size() - i];
    EXPECT_GT(t - end, 0.2) << letters[letters.size() - i].second;
    EXPECT_LT(t - end, 0.2 + 0.05 + 0.12) << letters[letters.size() - i].second;
  }
  EXPECT_EQ(letters.back().second, "k");
}

TEST(TalvoDecode, ErrorsNameTheFileAndTheReason) {
  TempDir d;
  d.write("notes.txt", "this is not audio\n");
  d.write("empty.wav", "");
  const std::string none = d.file("none.wav");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {{none}, 1, "talvo-decode: " + none + ": No such file or directory\n"},
      {{d.file("empty.wav")}, 1, "talvo-decode: " + d.file("empty.wav") + ": empty file\n"},
      {{d.path()}, 1, "talvo-decode: " + d.path() + ": is a directory\n"},
      {{"--bogus", "x.wav"},
       2,
       "talvo-decode: unknown option --bogus\nTry 'talvo-decode --help'.\n"},
      {{}, 2, "talvo-decode: no recording named\nTry 'talvo-decode --help'.\n"},
      {{"--format", "xml", "x.wav"},
       2,
       "talvo-decode: unknown format xml (text, json or events)\nTry 'talvo-decode --help'.\n"},
      {{"--gain"}, 2, "talvo-decode: --gain needs a value\nTry 'talvo-decode --help'.\n"},
  };
  for (const auto& c : cases) {
    const auto r = decode(c.args);
    EXPECT_EQ(r.status, c.status) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
  const auto text = decode({d.file("notes.txt")});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.err.rfind("talvo-decode: " + d.file("notes.txt") + ": not audio", 0), 0u)
      << text.err;
  Files f;
  const auto mono = decode({"--channel", "2", f.make("m.wav")});
  EXPECT_EQ(mono.status, 1);
  EXPECT_NE(mono.err.find("has no channel 2 (it has 1)"), std::string::npos);
  const auto raw = decode({"--channel", "2", "-"}, TempDir::contents(f.make("m.raw")));
  EXPECT_EQ(raw.status, 1);
  EXPECT_EQ(raw.err, "talvo-decode: -: has no channel 2 (it has 1)\n");
  const auto help = decode({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--auto-gain"), std::string::npos);
}

TEST(TalvoDecode, QuietRecordingNeedsTheAutoGain) {
  Files f;
  const std::string quiet = f.make("quiet.wav", {"vol", "0.15"});
  EXPECT_EQ(decode({quiet}).out, "");  // 900 of 32768: below the thresholds
  const auto r = decode({"--auto-gain", quiet});
  EXPECT_NE(line700(r.out).find("dl1abc test test k"), std::string::npos) << r.out;
  // Also from a stream: the gain is measured on its first seconds.
  const auto s =
      decode({"--auto-gain", "-"}, TempDir::contents(f.make("quiet.raw", {"vol", "0.15"})));
  EXPECT_NE(line700(s.out).find("dl1abc test test k"), std::string::npos) << s.out;
}

TEST(TalvoDecode, TheBundledSampleDecodesCloseToWhatWasSent) {
  const auto r = decode({TALVO_SAMPLE});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::pair<int, std::string> sent[] = {
      {500, "cq cq de ok1xyz ok1xyz pse k"},      {600, "qrz? de g4abc g4abc k"},
      {700, "cq test de dl1abc dl1abc test k"},   {800, "w1aw de dk9zz ur 599 599 bk"},
      {900, "tnx fer qso 73 es gl de ve3xyz sk"},
  };
  for (const auto& [hz, text] : sent) {
    const std::string got = cluster_text(r.out, hz);
    const double cer = static_cast<double>(test::edit_distance(got, text)) / text.size();
    EXPECT_LT(cer, 0.25) << hz << ": " << got;
  }
}

}  // namespace
}  // namespace talvo
