// Whole signals decoded end to end: generated Morse audio through the
// receive chain and the decoder, the decoded text compared with the sent.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "decoder/decoder.h"
#include "rx/block.h"
#include "support/decode.h"
#include "support/morse.h"

namespace talvo {
namespace {

std::map<int, std::string> decode(const std::vector<int16_t>& audio) {
  return test::decode_audio(audio);
}

const char* const kQso =
    "cq cq de dl1abc dl1abc k dl1abc de w1aw ur rst 599 599 name john qth boston "
    "hw? dl1abc de w1aw 73 tu";

std::vector<std::string> split(const std::string& s) {
  std::vector<std::string> w;
  std::string cur;
  for (char c : test::normalise(s) + " ") {
    if (c != ' ') {
      cur.push_back(c);
    } else if (!cur.empty()) {
      w.push_back(cur);
      cur.clear();
    }
  }
  return w;
}

std::string join(const std::vector<std::string>& w, std::size_t from) {
  std::string s;
  for (std::size_t i = from; i < w.size(); i++)
    s += (s.empty() ? "" : " ") + w[i];
  return s;
}

// Until the speed and the gap between characters have settled, the first
// words of a transmission run together. After that the decoded text must be
// the sent text to the letter, word spaces included: dropping whole words
// from the front of the decoded text must leave a tail of the sent text that
// misses at most `max_lost` of its words.
::testing::AssertionResult settles(const std::string& sent, const std::string& decoded,
                                   std::size_t max_lost = 4) {
  const auto want = split(sent);
  const auto got = split(decoded);
  for (std::size_t k = 0; k < got.size(); k++) {
    const std::size_t n = got.size() - k;
    if (n > want.size()) continue;
    if (join(got, k) != join(want, want.size() - n)) continue;
    const std::size_t lost = want.size() - n;
    if (lost > max_lost)
      return ::testing::AssertionFailure() << lost << " words lost in \"" << join(got, 0) << "\"";
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "\"" << join(got, 0) << "\" never joins \"" << join(want, 0) << "\"";
}

// Character error rate against the sent text after its first `skip` words:
// edit distance over that text's length, the decoded text taken from
// whichever of its first words lines up best.
double error_rate(const std::string& sent, const std::string& decoded, std::size_t skip = 3) {
  const std::string want = join(split(sent), skip);
  const auto got = split(decoded);
  int best = static_cast<int>(want.size());
  for (std::size_t k = 0; k < std::min<std::size_t>(got.size(), 8); k++)
    best = std::min(best, test::edit_distance(join(got, k), want));
  return static_cast<double>(best) / static_cast<double>(want.size());
}

std::vector<int16_t> audio_of(const std::vector<test::MorseSignal>& signals, double noise = 0,
                              uint32_t seed = 1) {
  std::vector<test::KeyedTone> tones;
  double end = 0;
  for (const auto& m : signals) {
    const auto k = test::morse(m);
    tones.push_back(k.tone);
    end = std::max(end, k.end);
  }
  return test::mix(tones, end + 1.0, noise, seed);
}

TEST(DecodeAudio, QsoDecodesExactlyAtEverySpeed) {
  for (double cpm : {60.0, 100.0, 150.0, 200.0}) {
    test::MorseSignal m;
    m.text = kQso;
    m.cpm = cpm;
    m.amp = 6000;
    const auto text = decode(audio_of({m}));
    EXPECT_TRUE(settles(kQso, text.at(0))) << cpm << " cpm";
    std::printf("%3.0f cpm: character error rate %.3f\n", cpm, error_rate(kQso, text.at(0)));
    // Nothing on the other clusters but the lone word space of silence.
    for (const auto& [ch, t] : text) {
      if (ch == 0) continue;
      EXPECT_EQ(t, " ") << ch << " at " << cpm << " cpm";
    }
  }
}

TEST(DecodeAudio, WordSpacesAt25And35Wpm) {
  // 25 and 35 words per minute are 125 and 175 characters per minute; the
  // gap count alone (300 ticks) would run every word together.
  for (double cpm : {125.0, 175.0}) {
    test::MorseSignal m;
    m.text = "test de dl1abc dl1abc pse k tu es 73 gl gl";
    m.cpm = cpm;
    const auto text = decode(audio_of({m}));
    EXPECT_TRUE(settles(m.text, text.at(0))) << cpm;
  }
}

TEST(DecodeAudio, FarnsworthSpacingGivesNoSpacesInsideWords) {
  // Characters at 150 cpm, gaps at 60 cpm: long gaps between characters
  // must not become word spaces.
  test::MorseSignal m;
  m.text = "paris paris cq de dl1abc";
  m.cpm = 150;
  m.farnsworth = 60;
  const auto text = decode(audio_of({m}));
  EXPECT_TRUE(settles(m.text, text.at(0), 1));
}

TEST(DecodeAudio, FiveStationsOnFiveClustersAtOnce) {
  const std::pair<int, double> stations[] = {{-20, 80}, {-10, 120}, {0, 100}, {10, 160}, {20, 140}};
  const char* const texts[] = {"vvv vvv de ok1xyz ok1xyz test test",
                               "qrl? qrl? de g4abc g4abc qrl? k", "cq cq de dl1abc dl1abc pse k",
                               "tnx fer call ur 599 599 bk", "qrz? qrz? de w1aw w1aw k"};
  std::vector<test::MorseSignal> signals;
  for (int i = 0; i < 5; i++) {
    test::MorseSignal m;
    m.text = texts[i];
    m.freq = 700 + 10 * stations[i].first;
    m.cpm = stations[i].second;
    m.amp = stations[i].first < 0 ? 7000 : 5000;
    m.start = 0.1 + 0.3 * i;
    signals.push_back(m);
  }
  const auto text = decode(audio_of(signals, 300, 4));
  for (int i = 0; i < 5; i++)
    EXPECT_TRUE(settles(texts[i], text.at(stations[i].first))) << "cluster " << stations[i].first;
  // The clusters between them hear nothing but silence: one word space.
  for (int c : {-15, -5, 5, 15})
    EXPECT_EQ(text.at(c), " ") << c;
}

TEST(DecodeAudio, NoiseAndJitterCostFewCharacters) {
  // White noise over the whole 24 kHz band; the signal-to-noise ratio in
  // 500 Hz is (amp^2 / 2) / (noise^2 x 500 / 24000): 13.8 dB at 6000, 7.8 dB
  // at 12000, 5.8 dB at 15000.
  const std::pair<double, double> cases[] = {{6000, 0.02}, {12000, 0.03}, {15000, 0.05}};
  for (const auto& [noise, allowed] : cases) {
    test::MorseSignal m;
    m.text = kQso;
    m.cpm = 100;
    m.amp = 6000;
    m.jitter = 0.1;
    const auto text = decode(audio_of({m}, noise, 9));
    const double cer = error_rate(kQso, text.at(0));
    std::printf("noise %5.0f: character error rate %.3f\n", noise, cer);
    EXPECT_LE(cer, allowed) << test::normalise(text.at(0));
  }
}

}  // namespace
}  // namespace talvo
