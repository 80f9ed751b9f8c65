// The Spotter: calls the decoder heard become spots on the radio frequency,
// published once per call and frequency in ten minutes.
#include "spots/spotter.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace talvo::spots
