// What a careless user or a strange receiver gives the programs: each gets
// the behaviour set for it, a clear message where the program refuses, and
// nothing else.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <random>

#include "support/morse.h"
#include "support/process.h"
#include "support/signal.h"

namespace talvo {
namespace {

// It names the font it loaded, and without a display says so and runs on.
const std::string kNoWindow = "ggiOpen returned errorcode.\n";
const std::string kHeadless = "font: velquin-font.psf.gz\n" + kNoWindow;
const std::string kFontCommand = "gunzip -c  velquin-font.psf.gz\n";

struct Dir {
  test::TempDir work;
  Dir() {
    work.write("txtext.asc", "cq\n");
    work.write("velquin-font.psf.gz", test::TempDir::contents(TALVO_FONT));
  }
  test::Run talvo(const std::vector<std::string>& args, const std::string& input = "") {
    std::vector<std::string> argv{TALVO_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    test::RunOptions o;
    o.cwd = work.path();
    o.input = input;
    return test::run(argv, o);
  }
  test::Run stdin_run(const std::string& input = std::string(4000, '\0')) {
    return talvo({"700", "1200", "notone", "stdin"}, input);
  }
};

TEST(BadInput, CommandLines) {
  Dir d;
  const auto none = d.talvo({});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err.substr(0, 7), "Usage: ");
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"seven"}, "centre frequency seven out of range: use 460 to 23789 Hz\n"},
      {{"0"}, "centre frequency 0 out of range: use 460 to 23789 Hz\n"},
      {{"-700"}, "centre frequency -700 out of range: use 460 to 23789 Hz\n"},
      {{"100000"}, "centre frequency 100000 out of range: use 460 to 23789 Hz\n"},
      {{"700", "10"}, "window width 10 out of range: use 446 to 2493 pixels\n"},
      {{"700", "99999"}, "window width 99999 out of range: use 446 to 2493 pixels\n"},
  };
  for (const auto& [args, msg] : refused) {
    const auto r = d.talvo(args);
    EXPECT_EQ(r.status, 1) << msg;
    EXPECT_EQ(r.err, msg);
    EXPECT_EQ(r.out, "");
  }
  // An unknown side-tone word means no audio output: it runs as notone.
  const auto odd = d.talvo({"700", "1200", "loud", "stdin"}, std::string(4000, '\0'));
  EXPECT_EQ(odd.status, 0);
  EXPECT_EQ(odd.err, kHeadless);
}

TEST(BadInput, FunctionKeyTextFiles) {
  std::string binary;
  for (int i = 0; i < 256; i++)
    binary.push_back(static_cast<char>(i));
  const std::string files[] = {binary + "\n" + binary, std::string(5000, 'x') + "\n",
                               std::string(40, '\n') + "last", "no newline at the end"};
  for (const auto& f : files) {
    Dir d;
    d.work.write("txtext.asc", f);
    const auto r = d.stdin_run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, kHeadless);
  }
  Dir d;
  unlink(d.work.file("txtext.asc").c_str());
  mkdir(d.work.file("txtext.asc").c_str(), 0755);
  // Run as a copy with no data files beside it, where nothing else is found.
  test::TempDir alone;
  alone.write("talvo", test::TempDir::contents(TALVO_BINARY), true);
  test::RunOptions o;
  o.cwd = d.work.path();
  o.input = std::string(4000, '\0');
  const auto r = test::run({alone.file("talvo"), "700", "1200", "notone", "stdin"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kHeadless + "txtext cannot be opened\n");
}

TEST(BadInput, FontFiles) {
  const auto gz = [](const std::string& content) {
    test::TempDir t;
    t.write("f", content);
    test::run({"/bin/gzip", "-f", t.file("f")});
    return test::TempDir::contents(t.file("f.gz"));
  };
  std::string psf = {0x36, 0x04, 0x00, 0x10};
  std::mt19937 gen(3);  // glyphs that do not compress away
  for (int i = 0; i < 256 * 16; i++)
    psf.push_back(static_cast<char>(gen()));
  const std::pair<std::string, std::string> fonts[] = {
      {"", "cannot read header\n"},
      {gz("\x72\xb5\x4a\x86" + std::string(28, '\0')), "Wrong magic number\n"},
      {gz(psf).substr(0, 2000), "cannot read font\n"},
      {gz(std::string("\x36\x04\x00\x00", 4) + psf.substr(4)), "Unusable glyph height 0\n"},
      {gz(std::string("\x36\x04\x00\xc8", 4) + psf.substr(4)), "Unusable glyph height 200\n"},
  };
  for (const auto& [font, msg] : fonts) {
    Dir d;
    d.work.write("velquin-font.psf.gz", font);
    const auto r = d.stdin_run();
    EXPECT_EQ(r.status, 0) << msg;
    EXPECT_EQ(r.out, kFontCommand) << msg;
    // gunzip says its own word about a broken file first.
    EXPECT_NE(r.err.find(msg + kNoWindow), std::string::npos) << r.err;
  }
}

// talvo-decode on audio no receiver should give: the decoded characters.
struct Decoded {
  int status;
  std::size_t chars;  // characters other than blanks, all nine clusters
};
Decoded decode_raw(const std::vector<int16_t>& audio, const std::string& extra = "") {
  test::RunOptions o;
  o.input = test::to_bytes(audio) + extra;
  const auto r = test::run({TALVO_DECODE, "--receiver", "classic", "--format", "json", "-"}, o);
  Decoded d{r.status, 0};
  const std::string key = "\"text\": \"";
  for (std::size_t at = r.out.find(key); at != std::string::npos; at = r.out.find(key, at + 1))
    for (std::size_t i = at + key.size(); i < r.out.size() && r.out[i] != '"'; i++)
      d.chars += r.out[i] != ' ';
  return d;
}

TEST(BadInput, AudioNoReceiverShouldGive) {
  const std::size_t n = 48000 * 20;  // 20 s each
  std::vector<int16_t> silence(n, 0), dc(n, 12000), square(n), jumps(n);
  for (std::size_t i = 0; i < n; i++)
    square[i] = (i / 34) % 2 ? 32767 : -32768;  // ~706 Hz
  const auto noise = test::mix({}, 20.0, 8000, 5);
  // A keyed tone whose level jumps by 40 dB every two seconds.
  test::KeyedTone t;
  t.freq = 700;
  t.amp = 30000;
  for (double s = 0; s < 20; s += 0.2)
    t.on.push_back({s, s + 0.1});
  const auto tone = test::mix({t}, 20.0);
  for (std::size_t i = 0; i < n; i++)
    jumps[i] = (i / 96000) % 2 ? tone[i] / 100 : tone[i];

  EXPECT_EQ(decode_raw(silence).chars, 0u);
  EXPECT_EQ(decode_raw(dc).chars, 0u);
  const auto sq = decode_raw(square);
  EXPECT_EQ(sq.status, 0);
  const auto ju = decode_raw(jumps);
  EXPECT_EQ(ju.status, 0);
  EXPECT_GT(ju.chars, 0u);  // the loud stretches key as "e"s and "t"s
  // A stream that stops in the middle of a sample.
  EXPECT_EQ(decode_raw(silence, "\x01").status, 0);
  // White noise alone: a few garbage characters a minute on all nine clusters.
  const auto no = decode_raw(noise);
  EXPECT_EQ(no.status, 0);
  const double per_minute = static_cast<double>(no.chars) * 3;
  std::printf("white noise (sigma 8000): %.0f garbage characters a minute, nine clusters\n",
              per_minute);
  EXPECT_LT(per_minute, 60);
}

}  // namespace
}  // namespace talvo
