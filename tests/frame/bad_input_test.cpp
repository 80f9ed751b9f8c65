// What a careless user or a strange receiver gives the programs: each gets
// the behaviour set for it, a clear message where the program refuses, and
// nothing else.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "support/fakes.h"
#include "support/morse.h"
#include "support/signal.h"

namespace talvo {
namespace {

using test::kHeadless;
using test::kNoWindow;
using test::Station;

TEST(BadInput, UnknownSideToneWordMeansNoAudioOutput) {
  // An unknown side-tone word runs as notone: nothing is played.
  Station d("cq\n");
  const auto odd = d.talvo({"700", "1200", "loud", "stdin"}, std::string(4000, '\0'));
  EXPECT_EQ(odd.status, 0);
  EXPECT_EQ(odd.err, kHeadless);
  EXPECT_FALSE(d.bin.exists("aplay.args"));
}

TEST(BadInput, FunctionKeyTextFiles) {
  std::string binary;
  for (int i = 0; i < 256; i++)
    binary.push_back(static_cast<char>(i));
  const std::string files[] = {binary + "\n" + binary, std::string(5000, 'x') + "\n",
                               std::string(40, '\n') + "last", "no newline at the end"};
  for (const auto& f : files) {
    Station d(f);
    const auto r = d.stdin_run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, kHeadless);
  }
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
    Station d("cq\n");
    d.work.write("velquin-font.psf.gz", font);
    const auto r = d.stdin_run();
    EXPECT_EQ(r.status, 0) << msg;
    EXPECT_EQ(r.out, "") << msg;
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
