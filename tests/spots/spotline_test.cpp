// Spot lines byte for byte and column for column, UTC times, the spot
// dedup window and the radio frequency from dial and audio.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "spots/spot.h"

namespace talvo::spots {
namespace {

// 2259Z on 2024-03-01.
constexpr std::int64_t kT = 1709333940;

Spot spot(const std::string& call, double hz, int snr, int wpm, SpotType type, std::int64_t t) {
  Spot s;
  s.call = call;
  s.freq_hz = hz;
  s.snr_db = snr;
  s.wpm = wpm;
  s.type = type;
  s.utc = t;
  return s;
}

TEST(SpotLine, TheExampleByteForByte) {
  EXPECT_EQ(spot_line("MYCALL", spot("DL1ABC", 7018300, 19, 18, SpotType::kCq, kT)),
            "DX de MYCALL-#:    7018.3  DL1ABC         CW    19 dB  18 WPM  CQ      2259Z");
}

// Start column of each blank-separated token.
std::vector<std::size_t> token_columns(const std::string& s) {
  std::vector<std::size_t> c;
  for (std::size_t i = 0; i < s.size(); i++)
    if (s[i] != ' ' && (i == 0 || s[i - 1] == ' ')) c.push_back(i);
  return c;
}

std::vector<std::string> tokens(const std::string& s) {
  std::vector<std::string> t;
  for (std::size_t i : token_columns(s))
    t.push_back(s.substr(i, s.find(' ', i) - i));
  return t;
}

TEST(SpotLine, ColumnsHoldForOtherWidths) {
  const std::string ref = spot_line("MYCALL", spot("DL1ABC", 7018300, 19, 18, SpotType::kCq, kT));
  const std::string lines[] = {
      spot_line("MYCALL", spot("VE3XYZA", 14025000, 3, 5, SpotType::kDx, kT)),
      spot_line("MYCALL", spot("W1AW", 3525100, -2, 35, SpotType::kCq, kT + 60)),
      spot_line("MYCALL", spot("G4ABC", 1830000, -12, 8, SpotType::kDx, 0)),
      spot_line("MYCALL", spot("DL7XYZ/QRP", 28025500, 5, 12, SpotType::kCq, kT))};
  for (const auto& l : lines) {
    EXPECT_EQ(l.size(), ref.size()) << l;
    // Words start where the example's do; numbers end where the example's end.
    const auto c = token_columns(l), rc = token_columns(ref);
    ASSERT_EQ(c.size(), 12u) << l;
    for (std::size_t i : {0, 1, 2, 4, 5, 7, 9, 10, 11})
      EXPECT_EQ(c[i], rc[i]) << l << " token " << i;
    const auto t = tokens(l);
    EXPECT_EQ(c[3] + t[3].size(), 25u) << l;  // the frequency
    EXPECT_EQ(c[6] + t[6].size(), 50u) << l;  // the SNR
    EXPECT_EQ(c[8] + t[8].size(), 57u) << l;  // the speed
  }
  EXPECT_EQ(lines[0],
            "DX de MYCALL-#:   14025.0  VE3XYZA        CW     3 dB   5 WPM  DX      2259Z");
  EXPECT_EQ(lines[1],
            "DX de MYCALL-#:    3525.1  W1AW           CW    -2 dB  35 WPM  CQ      2300Z");
  EXPECT_EQ(lines[2],
            "DX de MYCALL-#:    1830.0  G4ABC          CW   -12 dB   8 WPM  DX      0000Z");
  EXPECT_EQ(lines[3],
            "DX de MYCALL-#:   28025.5  DL7XYZ/QRP     CW     5 dB  12 WPM  CQ      2259Z");
}

TEST(SpotLine, LongValuesStillLeaveBlanksBetweenTokens) {
  const std::string l =
      spot_line("SKIMMERCALLSIGN", spot("HB9/DL7XYZ/QRP", 144050000, -100, 120, SpotType::kDx, kT));
  EXPECT_EQ(l,
            "DX de SKIMMERCALLSIGN-#: 144050.0  HB9/DL7XYZ/QRP CW  -100 dB 120 WPM  DX      2259Z");
  EXPECT_EQ(tokens(l), (std::vector<std::string>{"DX", "de", "SKIMMERCALLSIGN-#:", "144050.0",
                                                 "HB9/DL7XYZ/QRP", "CW", "-100", "dB", "120", "WPM",
                                                 "DX", "2259Z"}));
}

TEST(SpotLine, FrequencyRoundsToTheNearestHundredHertz) {
  auto khz = [](double hz) {
    return tokens(spot_line("X", spot("W1AW", hz, 0, 20, SpotType::kDx, 0)))[3];
  };
  EXPECT_EQ(khz(7018349), "7018.3");
  EXPECT_EQ(khz(7018350), "7018.4");
  EXPECT_EQ(khz(7018250), "7018.3");
  EXPECT_EQ(khz(7019960), "7020.0");
  EXPECT_EQ(khz(475000), "475.0");
}

TEST(SpotLine, UtcTime) {
  EXPECT_EQ(utc_hhmmz(0), "0000Z");
  EXPECT_EQ(utc_hhmmz(kT), "2259Z");
  EXPECT_EQ(utc_hhmmz(kT + 59), "2259Z");  // minutes are cut, not rounded
  EXPECT_EQ(utc_hhmmz(kT + 60), "2300Z");
  EXPECT_EQ(utc_hhmmz(86399), "2359Z");
  EXPECT_EQ(utc_hhmmz(86400), "0000Z");
  EXPECT_EQ(utc_hhmmz(9 * 3600 + 5 * 60), "0905Z");
  EXPECT_EQ(utc_hhmmz(-60), "2359Z");
}

TEST(SpotDedup, SameCallSameFrequencyOnceInTenMinutes) {
  SpotDedup d;
  EXPECT_TRUE(d.admit("DL1ABC", 7018300, kT));
  EXPECT_FALSE(d.admit("DL1ABC", 7018300, kT + 1));
  EXPECT_FALSE(d.admit("DL1ABC", 7018380, kT + 300));  // 80 Hz away is the same frequency
  EXPECT_FALSE(d.admit("DL1ABC", 7018200, kT + 599));  // 100 Hz away too
  EXPECT_FALSE(d.admit("DL1ABC", 7018300, kT + 600));
  EXPECT_TRUE(d.admit("DL1ABC", 7018300, kT + 601));
  EXPECT_FALSE(d.admit("DL1ABC", 7018300, kT + 602));
}

TEST(SpotDedup, OtherFrequencyOrCallGoesOut) {
  SpotDedup d;
  EXPECT_TRUE(d.admit("DL1ABC", 7018300, kT));
  EXPECT_TRUE(d.admit("DL1ABC", 7018401, kT + 1));  // 101 Hz away
  EXPECT_TRUE(d.admit("DL1ABC", 14025000, kT + 2));
  EXPECT_TRUE(d.admit("W1AW", 7018300, kT + 3));
  EXPECT_FALSE(d.admit("W1AW", 7018300, kT + 4));
  EXPECT_FALSE(d.admit("DL1ABC", 7018450, kT + 5));  // within 100 Hz of the second
}

TEST(SpotDedup, AMiscopyOnTheSameFrequencyIsTakenForTheCall) {
  SpotDedup d;
  EXPECT_TRUE(d.admit("G4BXE", 1470, kT));
  EXPECT_FALSE(d.admit("G4BXEE", 1500, kT + 5));  // a neighbouring cluster's copy
  EXPECT_FALSE(d.admit("G4BTE", 1450, kT + 6));
  EXPECT_FALSE(d.admit("G3BTE", 1450, kT + 7));    // two characters off
  EXPECT_TRUE(d.admit("G3BTT", 1450, kT + 8));     // three: another station
  EXPECT_TRUE(d.admit("G4BXEE", 1600, kT + 9));    // 130 Hz away: another station
  EXPECT_TRUE(d.admit("G4BXEE", 1500, kT + 700));  // ten minutes on
}

TEST(SpotDedup, HeldRepeatsDoNotPutTheNextSpotOff) {
  // A station that keeps calling is spotted every 10 minutes, not never.
  SpotDedup d;
  int out = 0;
  for (std::int64_t t = 0; t <= 3600; t += 30)
    out += d.admit("W1AW", 7030000, kT + t);
  // Spots at 0, 630, 1260, 1890, 2520, 3150 s.
  EXPECT_EQ(out, 6);
}

TEST(SpotDedup, OldSpotsAreForgotten) {
  SpotDedup d;
  // Calls built by appending: g++ 12 at -O3 warns falsely (-Wrestrict) on
  // a literal + std::string.
  for (int i = 0; i < 1000; i++) {
    std::string call(1, 'K');
    call += std::to_string(i % 10);
    call += 'A';
    call += static_cast<char>('A' + i / 10 % 26);
    EXPECT_TRUE(d.admit(call, 7000000 + i * 1000.0, kT + i / 2));
  }
  EXPECT_EQ(d.remembered(), 1000u);
  // 10 minutes and a second after the last, all are gone.
  EXPECT_TRUE(d.admit("W1AW", 7030000, kT + 499 + 601));
  EXPECT_EQ(d.remembered(), 1u);
  // Hours of distinct spots keep no more than 10 minutes' worth.
  for (int i = 0; i < 36000; i++) {
    std::string call(1, 'W');
    call += std::to_string(i);
    d.admit(call, 7000000 + 1000.0 * i, kT + 2000 + i);
  }
  EXPECT_GE(d.remembered(), 590u);
  EXPECT_LE(d.remembered(), 601u);
}

TEST(RadioFrequency, DialAndSideband) {
  Sideband sb = Sideband::kIq;
  ASSERT_TRUE(parse_sideband("usb", sb));
  EXPECT_EQ(sb, Sideband::kUsb);
  EXPECT_DOUBLE_EQ(radio_hz(7018.0, sb, 300), 7018300);
  ASSERT_TRUE(parse_sideband("lsb", sb));
  EXPECT_EQ(sb, Sideband::kLsb);
  EXPECT_DOUBLE_EQ(radio_hz(7018.0, sb, 700), 7017300);
  ASSERT_TRUE(parse_sideband("iq", sb));
  EXPECT_EQ(sb, Sideband::kIq);
  EXPECT_DOUBLE_EQ(radio_hz(14030.0, sb, -5000), 14025000);
  EXPECT_DOUBLE_EQ(radio_hz(14030.0, sb, 2500), 14032500);
  EXPECT_FALSE(parse_sideband("USB ", sb));
  EXPECT_FALSE(parse_sideband("cw", sb));
  EXPECT_EQ(sb, Sideband::kIq);
}

}  // namespace
}  // namespace talvo::spots
