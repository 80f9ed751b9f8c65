// talvo-decode on the I/Q an SDR hands it: noise alone over a whole span
// prints nothing (band edges and 0 Hz included, with a receiver's DC
// offset), a strong station's mirror image makes no text and no spot, the
// raw formats of rtl_sdr (u8) and csdr (f32) on standard input decode the
// same as a WAV of the same pairs, and the options that cannot go together
// are refused with the reason.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/render.h"
#include "support/run_decode.h"
#include "support/stations.h"
#include "support/write_audio.h"

namespace talvo {
namespace {

using test::field;
using test::lines_of;
using test::Station;
using test::TempDir;

// The amplitude of a complex tone `snr_db` over complex noise of `noise`
// per component in 500 Hz.
double amp_for(double noise, double snr_db, int rate) {
  return noise * std::sqrt(1000 * std::pow(10.0, snr_db / 10) / rate);
}

std::string wav_of(const TempDir& dir, const std::vector<float>& iq, int rate) {
  const std::string path = dir.file("iq.wav");
  EXPECT_EQ(test::write_float_wav(path, iq, 2, rate), "");
  return path;
}

TEST(SdrIq, NoiseAloneWithADcOffsetPrintsNothingOverTheWholeSpan) {
  constexpr int kRate = 96000;
  auto iq = test::render({}, 8.0, 300, 11, {}, true, kRate);
  for (std::size_t i = 0; i < iq.size(); i++)
    iq[i] += i % 2 ? -900.0f : 1500.0f;  // the DC spike of a direct-conversion receiver
  TempDir dir;
  const auto wav = wav_of(dir, iq, kRate);
  const auto r = test::run_decode({"--iq", "--threads", "2", "--format", "events", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(SdrIq, AStrongStationsMirrorImageMakesNoTextAndNoSpot) {
  constexpr int kRate = 48000;
  const std::vector<Station> st = {{7350, 24, "cq cq de s53m s53m k", 0.5, "s53m"}};
  auto tones = test::station_tones(st, amp_for(300, 40, kRate), 0.7);
  // I/Q imbalance: the image at -f, 30 dB down, its phase mirrored.
  auto image = tones[0];
  image.freq = -image.freq;
  image.phase = -image.phase;
  image.amp *= std::pow(10.0, -30.0 / 20);
  tones.push_back(image);
  auto iq = test::render(tones, test::stations_end(st) + 1, 300, 12, {}, true, kRate);
  for (auto& x : iq)
    x += 800.0f;
  TempDir dir;
  const auto wav = wav_of(dir, iq, kRate);
  const auto r =
      test::run_decode({"--iq", "--dial", "14000", "--threads", "2", "--format", "events", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> spots;
  std::string text;
  for (const auto& l : lines_of(r.out)) {
    if (!field(l, "call").empty()) {
      spots.push_back(field(l, "call"));
      // 7350 Hz over the dial: 14007.35 kHz, shown to a tenth either way.
      EXPECT_NEAR(std::stod(field(l, "freq_khz")), 14007.35, 0.051) << l;
    } else {
      const int c = std::atoi(field(l, "center_hz").c_str());
      EXPECT_LE(std::abs(c - 7350), 50) << l;
      if (c == 7350) text += field(l, "text");
    }
  }
  EXPECT_EQ(spots, std::vector<std::string>{"S53M"}) << r.out;
  EXPECT_NE(text.find("cq cq de s53m s53m k"), std::string::npos) << r.out;
}

// Two stations at 96 kHz, scaled to fit 8 bits.
std::vector<float> two_stations(int rate) {
  const std::vector<Station> st = {{-12000, 22, "cq de f5xyz k"}, {3500, 25, "cq de w1aw k", 0.8}};
  return test::render(test::station_tones(st, 9000, 0.7), test::stations_end(st) + 1, 1500, 13, {},
                      true, rate);
}

TEST(SdrIq, RtlSdrU8AndCsdrF32StreamsDecodeAsTheWavOfTheSamePairs) {
  constexpr int kRate = 96000;
  const auto iq = two_stations(kRate);
  // u8: b = 127.5 + v / 256 rounded; the WAV holds the same pairs.
  std::string u8(iq.size(), '\0');
  std::vector<float> as_u8(iq.size());
  for (std::size_t i = 0; i < iq.size(); i++) {
    const long b = std::clamp(std::lround(127.5 + iq[i] / 256.0), 0L, 255L);
    u8[i] = static_cast<char>(b);
    as_u8[i] = static_cast<float>((static_cast<double>(b) - 127.5) * 256.0);
  }
  std::string f32(4 * iq.size(), '\0');
  for (std::size_t i = 0; i < iq.size(); i++) {
    const float v = iq[i] / 32768.0f;
    std::memcpy(&f32[4 * i], &v, 4);  // little-endian on this machine
  }
  TempDir dir;
  // json from both: a stream's text lines come as each over ends, a file's at its end.
  const std::vector<std::string> args = {"--iq", "--span", "-13000-4000", "--format", "json"};
  for (const char* format : {"u8", "f32"}) {
    const bool is_u8 = std::string(format) == "u8";
    const auto wav = wav_of(dir, is_u8 ? as_u8 : iq, kRate);
    auto a = args;
    a.push_back(wav);
    const auto from_wav = test::run_decode(a);
    ASSERT_EQ(from_wav.status, 0) << from_wav.err;
    EXPECT_NE(from_wav.out.find("cq de f5xyz k"), std::string::npos) << format << from_wav.out;
    EXPECT_NE(from_wav.out.find("cq de w1aw k"), std::string::npos) << format << from_wav.out;
    test::RunOptions o;
    o.input = is_u8 ? u8 : f32;
    auto b = args;
    b.insert(b.end(), {"--iq-format", format, "--rate", "96000", "-"});
    const auto from_stream = test::run_decode(b, o);
    EXPECT_EQ(from_stream.status, 0) << from_stream.err;
    EXPECT_EQ(from_stream.out, from_wav.out) << format;
  }
}

TEST(SdrIq, RawFormatOptionsThatCannotGoTogetherAreRefused) {
  TempDir dir;
  const auto wav = wav_of(dir, std::vector<float>(2000, 0.0f), 48000);
  const struct {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"--iq-format", "u8", "-"}, "describe --iq input"},
      {{"--rate", "240000", "-"}, "describe --iq input"},
      {{"--iq", "--iq-format", "u8", wav}, "a file names its own"},
      {{"--iq", "--iq-format", "s12", "-"}, "s16, u8 or f32"},
      {{"--iq", "--rate", "44100", "-"}, "multiple of 500"},
      {{"--iq", "--rate", "0", "-"}, "multiple of 500"},
  };
  for (const auto& c : cases) {
    const auto r = test::run_decode(c.args);
    EXPECT_EQ(r.status, 2) << c.args[1];
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace talvo
