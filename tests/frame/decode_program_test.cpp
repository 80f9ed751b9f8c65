// talvo-decode as a script runs it: formats, events, errors, the sample.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

#include "support/morse.h"
#include "support/process.h"

namespace talvo {
namespace {

using test::run;
using test::TempDir;

const std::string kText = "cq cq de dl1abc dl1abc test test k";

struct Files {
  TempDir dir;
  test::Keyed keyed;
  std::string raw;  // S16LE 48 kHz
  Files() {
    test::MorseSignal m;
    m.text = kText;
    m.amp = 6000;
    keyed = test::morse(m);
    raw = test::to_bytes(test::mix({keyed.tone}, keyed.end + 1.0, 300, 2));
    dir.write("signal.raw", raw);
  }
  // Converts the raw signal with sox into `name`, with extra sox effects.
  std::string make(const std::string& name, const std::vector<std::string>& effects = {}) {
    std::vector<std::string> args{
        "/usr/bin/sox",   "-t", "raw", "-r", "48000", "-e",
        "signed-integer", "-b", "16",  "-c", "1",     dir.file("signal.raw"),
        dir.file(name)};
    args.insert(args.end(), effects.begin(), effects.end());
    EXPECT_EQ(run(args).status, 0) << name;
    return dir.file(name);
  }
};

test::Run decode(const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<std::string> argv{TALVO_DECODE};
  argv.insert(argv.end(), args.begin(), args.end());
  test::RunOptions o;
  o.input = input;
  return run(argv, o);
}

// The text of the 700 Hz line of text output.
std::string line700(const std::string& out) {
  std::smatch m;
  if (!std::regex_search(out, m, std::regex("  700 Hz +[0-9]+ cpm  ([^\n]*)\n"))) return "?";
  return m[1];
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
  EXPECT_EQ(decode({stereo}).out, "");  // channel 1 hears nothing
}

TEST(TalvoDecode, JsonListsEveryClusterInOrder) {
  Files f;
  const auto r = decode({"--format", "json", "-"}, f.raw);
  ASSERT_EQ(r.status, 0);
  const std::regex cluster(
      "\\{\"center_hz\": ([0-9]+), \"cpm\": ([0-9]+), \"wpm\": ([0-9]+), \"text\": "
      "\"([^\"]*)\"\\}");
  int n = 0, last = 0;
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), cluster);
       it != std::sregex_iterator(); ++it, ++n) {
    const int hz = std::stoi((*it)[1]);
    EXPECT_GT(hz, last);
    last = hz;
    EXPECT_EQ(std::stoi((*it)[3]), std::stoi((*it)[2]) / 5);
    if (hz == 700) {
      EXPECT_NE((*it)[4].str().find("test test k"), std::string::npos);
    }
  }
  EXPECT_EQ(n, 9);
  EXPECT_EQ(r.out.substr(0, 14), "{\"clusters\": [");
}

TEST(TalvoDecode, EventsComeWhenEachCharacterEnds) {
  Files f;
  const auto r = decode({"--format", "events", "-"}, f.raw);
  ASSERT_EQ(r.status, 0);
  const std::regex event(
      "\\{\"t\": ([0-9.]+), \"center_hz\": 700, \"cpm\": ([0-9]+), \"text\": \"([^\"]*)\"\\}\n");
  std::vector<std::pair<double, std::string>> letters;
  for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), event);
       it != std::sregex_iterator(); ++it) {
    if ((*it)[3] != " ") letters.push_back({std::stod((*it)[1]), (*it)[3]});
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
      {{"--center", "100000", "x.wav"},
       2,
       "talvo-decode: centre frequency 100000 out of range: use 460 to 23789 Hz\n"
       "Try 'talvo-decode --help'.\n"},
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
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        r.out, m, std::regex("\\s" + std::to_string(hz) + " Hz +[0-9]+ cpm  ([^\n]*)\n")))
        << hz;
    const double cer = static_cast<double>(test::edit_distance(m[1], text)) / text.size();
    EXPECT_LT(cer, 0.25) << hz << ": " << m[1];
  }
}

}  // namespace
}  // namespace talvo
