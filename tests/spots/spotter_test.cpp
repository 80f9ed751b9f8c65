// The Spotter: calls the decoder heard become spots on the radio frequency
// once the judge has enough copies, published once per call and frequency
// in ten minutes and again while the station still calls.
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

// A sending of `call` with `copies` copies at `t` seconds of audio.
Heard heard(const std::string& call, SpotType type, double tone_hz, double snr_db, double t,
            int copies = 3) {
  Heard h;
  h.call = {call, type, copies};
  h.tone_hz = tone_hz;
  h.snr_db = snr_db;
  h.wpm = 18;
  h.t = t;
  return h;
}

constexpr std::int64_t kT = 1709333940;  // 2024-03-01 22:59Z

// The spots one sending makes.
std::vector<Made> hear(Spotter& sp, const Heard& h) {
  std::vector<Made> out;
  sp.heard(h, out);
  return out;
}

TEST(Spotter, HeardCallBecomesTheSpotLinePublishedOnce) {
  SpotSettings s;
  s.spotter = "MYCALL";
  s.dial_khz = 7017.6;
  s.start_utc = kT;
  Lines lines;
  s.publisher = &lines;
  Spotter spotter(s);
  // Without a call book every call is unknown: two copies are not enough,
  // a third makes the spot.
  EXPECT_TRUE(hear(spotter, heard("DL1ABC", SpotType::kCq, 700, 18.6, 0, 2)).empty());
  const auto m = hear(spotter, heard("DL1ABC", SpotType::kCq, 700, 18.6, 5, 1));
  ASSERT_EQ(m.size(), 1u);
  EXPECT_DOUBLE_EQ(m[0].spot.freq_hz, 7018300);  // 7017.6 kHz + 700 Hz, upper sideband
  EXPECT_EQ(m[0].spot.snr_db, 19);               // rounded
  EXPECT_EQ(m[0].spot.copies, 3);
  EXPECT_FALSE(m[0].spot.known);
  EXPECT_DOUBLE_EQ(m[0].spot.confidence, 1 - 0.5 * 0.5 * 0.5);
  EXPECT_EQ(m[0].line,
            "DX de MYCALL-#:   7018.3  DL1ABC         CW    19 dB  18 WPM  CQ      2259Z");
  ASSERT_EQ(lines.got.size(), 1u);
  EXPECT_EQ(lines.got[0], m[0].line);
  // The same call 30 Hz off five minutes later is held back.
  EXPECT_TRUE(hear(spotter, heard("DL1ABC", SpotType::kDx, 730, 20, 300)).empty());
  // Another call goes out.
  EXPECT_EQ(hear(spotter, heard("W1AW", SpotType::kDx, 1200, 9, 301)).size(), 1u);
  EXPECT_EQ(lines.got.size(), 2u);
}

TEST(Spotter, StillCallingIsRespottedExactlyTenMinutesAfterItsSpot) {
  SpotSettings s;
  s.start_utc = kT;  // 22:59:00
  Lines lines;
  s.publisher = &lines;
  Spotter spotter(s);
  ASSERT_EQ(hear(spotter, heard("DL1ABC", SpotType::kCq, 700, 20, 10)).size(), 1u);
  hear(spotter, heard("DL1ABC", SpotType::kCq, 700, 20, 560));  // still calling
  std::vector<Made> out;
  EXPECT_EQ(spotter.tick(609.9, out), 0);
  EXPECT_EQ(spotter.tick(610, out), 1);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].spot.utc, kT + 610);  // 23:09:10
  EXPECT_NE(out[0].line.find(" 2309Z"), std::string::npos) << out[0].line;
  EXPECT_EQ(lines.got.size(), 2u);
  // Silent since: no third spot.
  EXPECT_EQ(spotter.tick(1300, out), 0);
}

TEST(Spotter, LowerSidebandCountsDownFromTheDialAndNoPublisherIsNeeded) {
  SpotSettings s;
  s.dial_khz = 14020;
  s.sideband = Sideband::kLsb;
  Spotter spotter(s);
  // A weak signal needs a fourth copy.
  EXPECT_TRUE(hear(spotter, heard("G4ABC", SpotType::kDx, 650, -2.4, 0)).empty());
  const auto m = hear(spotter, heard("G4ABC", SpotType::kDx, 650, -2.4, 1, 1));
  ASSERT_EQ(m.size(), 1u);
  EXPECT_DOUBLE_EQ(m[0].spot.freq_hz, 14019350);
  EXPECT_EQ(m[0].spot.snr_db, -2);
  EXPECT_EQ(m[0].line.rfind("DX de TALVO-#:", 0), 0u) << m[0].line;
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
  void spotted(const Made& m) override {
    got.push_back(m.spot.call + " " + std::to_string(m.spot.audio_hz) + " " + m.line);
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
  EXPECT_TRUE(hear(spotter, heard("DL1ABC", SpotType::kCq, 700, 18, 1)).empty());
  EXPECT_EQ(dial.asked, 1);
  EXPECT_TRUE(lines.got.empty());
  EXPECT_TRUE(sink.got.empty());

  // CW on 7025 kHz with a pitch of 600 Hz: 700 Hz in the audio is 100 Hz up.
  dial.now = Tuning{7025000, Sideband::kUsb, 600};
  auto m = hear(spotter, heard("DL1ABC", SpotType::kCq, 700, 18, 2));
  ASSERT_EQ(m.size(), 1u);
  EXPECT_DOUBLE_EQ(m[0].spot.freq_hz, 7025100);
  // A QSY to 14025 kHz CWR: the next call is reckoned from there, 450 Hz in
  // the audio 150 Hz above the dial; the same station heard there again is
  // a new spot (another frequency).
  dial.now = Tuning{14025000, Sideband::kLsb, 600};
  m = hear(spotter, heard("OK1XYZ", SpotType::kCq, 450, 12, 3));
  ASSERT_EQ(m.size(), 1u);
  EXPECT_DOUBLE_EQ(m[0].spot.freq_hz, 14025150);
  m = hear(spotter, heard("DL1ABC", SpotType::kCq, 700, 18, 4));
  ASSERT_EQ(m.size(), 1u);
  EXPECT_DOUBLE_EQ(m[0].spot.freq_hz, 14024900);
  // USB: the pitch is 0 and the audio adds.
  dial.now = Tuning{10110000, Sideband::kUsb, 0};
  m = hear(spotter, heard("G4ABC", SpotType::kCq, 800, 9, 5));
  ASSERT_EQ(m.size(), 1u);
  EXPECT_DOUBLE_EQ(m[0].spot.freq_hz, 10110800);

  // Every spot went to the publisher and to the sink, with its audio.
  ASSERT_EQ(lines.got.size(), 4u);
  ASSERT_EQ(sink.got.size(), 4u);
  EXPECT_EQ(sink.got[1], "OK1XYZ 450.000000 " + lines.got[1]);
  EXPECT_EQ(dial.asked, 5);
}

}  // namespace
}  // namespace talvo::spots
