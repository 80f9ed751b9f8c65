// The Spotter: calls the decoder heard become spots on the radio frequency,
// published once per call and frequency in ten minutes.
#include "spots/spotter.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace talvo::spots {
namespace {

// Keeps every line published.
class Lines : public SpotPublisher {
 public:
  void publish(const std::string& line) override { got.push_back(line); }
  std::vector<std::string> got;
};

Heard heard(const std::string& call, SpotType type, double tone_hz, double snr_db,
            std::int64_t utc) {
  Heard h;
  h.call = {call, type};
  h.tone_hz = tone_hz;
  h.snr_db = snr_db;
  h.wpm = 18;
  h.utc = utc;
  return h;
}

constexpr std::int64_t kT = 1709333940;  // 2024-03-01 22:59Z

TEST(Spotter, HeardCallBecomesTheSpotLinePublishedOnce) {
  SpotSettings s;
  s.spotter = "MYCALL";
  s.dial_khz = 7017.6;
  Lines lines;
  s.publisher = &lines;
  Spotter spotter(s);
  const auto m = spotter.heard(heard("DL1ABC", SpotType::kCq, 700, 18.6, kT));
  ASSERT_TRUE(m.has_value());
  EXPECT_DOUBLE_EQ(m->spot.freq_hz, 7018300);  // 7017.6 kHz + 700 Hz, upper sideband
  EXPECT_EQ(m->spot.snr_db, 19);               // rounded
  EXPECT_EQ(m->line,
            "DX de MYCALL-#:    7018.3  DL1ABC         CW    19 dB  18 WPM  CQ      2259Z");
  ASSERT_EQ(lines.got.size(), 1u);
  EXPECT_EQ(lines.got[0], m->line);
  // The same call 30 Hz off five minutes later is held back; a miscopy too.
  EXPECT_FALSE(spotter.heard(heard("DL1ABC", SpotType::kDx, 730, 20, kT + 300)).has_value());
  EXPECT_FALSE(spotter.heard(heard("DL1ABD", SpotType::kDx, 700, 20, kT + 300)).has_value());
  // Another call goes out; so does the first after ten minutes.
  EXPECT_TRUE(spotter.heard(heard("W1AW", SpotType::kDx, 1200, 9, kT + 301)).has_value());
  EXPECT_TRUE(spotter.heard(heard("DL1ABC", SpotType::kCq, 700, 20, kT + 601)).has_value());
  EXPECT_EQ(lines.got.size(), 3u);
}

TEST(Spotter, LowerSidebandCountsDownFromTheDialAndNoPublisherIsNeeded) {
  SpotSettings s;
  s.dial_khz = 14020;
  s.sideband = Sideband::kLsb;
  Spotter spotter(s);
  const auto m = spotter.heard(heard("G4ABC", SpotType::kDx, 650, -2.4, kT));
  ASSERT_TRUE(m.has_value());
  EXPECT_DOUBLE_EQ(m->spot.freq_hz, 14019350);
  EXPECT_EQ(m->spot.snr_db, -2);
  EXPECT_EQ(m->line.rfind("DX de TALVO-#:", 0), 0u) << m->line;
}

// A radio whose tuning the test turns; empty until it is set.
class Dial : public DialSource {
 public:
  std::optional<Tuning> tuning() override {
    ++asked;
    return now;
  }
  std::optional<Tuning> now;
  int asked = 0;  // times the spotter asked
};

// Keeps every spot handed over as a value, with the audio it was heard at.
class Sink : public SpotSink {
 public:
  void spotted(const Heard& h, const Made& m) override {
    got.push_back(m.spot.call + " " + std::to_string(h.tone_hz) + " " + m.line);
  }
  std::vector<std::string> got;
};

TEST(Spotter, TakesTheDialSourcesTuningAtEachSpotAndHoldsSpotsWhileItIsUnknown) {
  SpotSettings s;
  s.dial_khz = 3500;  // not used beside a dial source
  Dial dial;
  Sink sink;
  Lines lines;
  s.dial = &dial;
  s.sink = &sink;
  s.publisher = &lines;
  Spotter spotter(s);
  // The radio has not answered: held back, not remembered, not published.
  EXPECT_FALSE(spotter.heard(heard("DL1ABC", SpotType::kCq, 700, 18, kT)).has_value());
  EXPECT_EQ(dial.asked, 1);
  EXPECT_TRUE(lines.got.empty());
  EXPECT_TRUE(sink.got.empty());

  // CW on 7025 kHz with a pitch of 600 Hz: 700 Hz in the audio is 100 Hz up.
  dial.now = Tuning{7025000, Sideband::kUsb, 600};
  auto m = spotter.heard(heard("DL1ABC", SpotType::kCq, 700, 18, kT + 1));
  ASSERT_TRUE(m.has_value());
  EXPECT_DOUBLE_EQ(m->spot.freq_hz, 7025100);
  // A QSY to 14025 kHz CWR: the next call is reckoned from there, 450 Hz in
  // the audio 150 Hz above the dial; the same station heard there again is
  // a new spot (another frequency).
  dial.now = Tuning{14025000, Sideband::kLsb, 600};
  m = spotter.heard(heard("OK1XYZ", SpotType::kDx, 450, 12, kT + 2));
  ASSERT_TRUE(m.has_value());
  EXPECT_DOUBLE_EQ(m->spot.freq_hz, 14025150);
  m = spotter.heard(heard("DL1ABC", SpotType::kCq, 700, 18, kT + 3));
  ASSERT_TRUE(m.has_value());
  EXPECT_DOUBLE_EQ(m->spot.freq_hz, 14024900);
  // USB: the pitch is 0 and the audio adds.
  dial.now = Tuning{10110000, Sideband::kUsb, 0};
  m = spotter.heard(heard("G4ABC", SpotType::kCq, 800, 9, kT + 4));
  ASSERT_TRUE(m.has_value());
  EXPECT_DOUBLE_EQ(m->spot.freq_hz, 10110800);

  // Every spot went to the publisher and to the sink, with its audio.
  ASSERT_EQ(lines.got.size(), 4u);
  ASSERT_EQ(sink.got.size(), 4u);
  EXPECT_EQ(sink.got[1], "OK1XYZ 450.000000 " + lines.got[1]);
  EXPECT_EQ(dial.asked, 5);
}

}  // namespace
}  // namespace talvo::spots
