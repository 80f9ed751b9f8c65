// Spot lines byte for byte and column for column, UTC times, the spot
// dedup's ten minutes and the radio frequency from dial and audio.
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

// 1854Z on 2024-03-01.
constexpr std::int64_t kT1854 = 1709319240;

TEST(SpotLine, TheNetworksLinesByteForByte) {
  EXPECT_EQ(spot_line("ZF9CW", spot("K5MR", 14042600, 18, 38, SpotType::kCq, kT1854)),
            "DX de ZF9CW-#:   14042.6  K5MR           CW    18 dB  38 WPM  CQ      1854Z");
  EXPECT_EQ(spot_line("W1NT-6", spot("YV5B", 21150000, 11, 22, SpotType::kNcdxf, kT1854)),
            "DX de W1NT-6-#:  21150.0  YV5B           CW    11 dB  22 WPM  NCDXF B 1854Z");
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

// What a cluster node reading by column takes from a line, as DXSpider
// does: the frequency from column 16 up to the call, the call from 26 to
// the next blank, the type at 62-69 and the time at 70.
struct ByColumn {
  double khz;
  std::string call, type, time;
};
ByColumn read_by_column(const std::string& l) {
  ByColumn b;
  b.khz = std::stod(l.substr(16, 26 - 16));
  b.call = l.substr(26, l.find(' ', 26) - 26);
  b.type = l.substr(62, 8);
  b.type.erase(b.type.find_last_not_of(' ') + 1);
  b.time = l.substr(70, 5);
  return b;
}

TEST(SpotLine, ColumnsHoldForEveryWidthAndType) {
  const std::string lines[] = {
      spot_line("ZF9CW", spot("VE3XYZA", 14025000, 3, 5, SpotType::kDx, kT)),
      spot_line("W1NT-6", spot("W1AW", 3525100, -2, 35, SpotType::kCq, kT + 60)),
      spot_line("DL0XX", spot("G4ABC", 1830000, -12, 8, SpotType::kBeacon, 0)),
      spot_line("ZF9CW", spot("DL7XYZ/QRP", 28025500, 5, 12, SpotType::kNcdxf, kT)),
      spot_line("K", spot("HB9/DL7XYZ/QRP", 144050000, 99, 120, SpotType::kCq, kT))};
  for (const auto& l : lines) {
    EXPECT_EQ(l.size(), 75u) << l;
    EXPECT_EQ(l.substr(0, 6), "DX de ") << l;
    EXPECT_EQ(l.substr(24, 2), "  ") << l;
    EXPECT_TRUE(l[23] >= '0' && l[23] <= '9') << l;  // the frequency ends at 23
    EXPECT_EQ(l.substr(41, 2), "CW") << l;
    EXPECT_EQ(l.substr(49, 3), " dB") << l;
    EXPECT_EQ(l.substr(56, 4), " WPM") << l;
    EXPECT_EQ(l.substr(60, 2), "  ") << l;
    EXPECT_EQ(l[74], 'Z') << l;
    EXPECT_NE(l[48], ' ') << l;  // the SNR ends at 48
    EXPECT_NE(l[55], ' ') << l;  // the speed ends at 55
  }
  const ByColumn b = read_by_column(lines[1]);
  EXPECT_DOUBLE_EQ(b.khz, 3525.1);
  EXPECT_EQ(b.call, "W1AW");
  EXPECT_EQ(b.type, "CQ");
  EXPECT_EQ(b.time, "2300Z");
  EXPECT_EQ(read_by_column(lines[2]).type, "BEACON");
  EXPECT_EQ(read_by_column(lines[3]).type, "NCDXF B");
  EXPECT_EQ(read_by_column(lines[3]).call, "DL7XYZ/QRP");
  EXPECT_DOUBLE_EQ(read_by_column(lines[4]).khz, 144050.0);
  EXPECT_EQ(read_by_column(lines[4]).call, "HB9/DL7XYZ/QRP");
  EXPECT_EQ(lines[0],
            "DX de ZF9CW-#:   14025.0  VE3XYZA        CW     3 dB   5 WPM  DX      2259Z");
  EXPECT_EQ(lines[2],
            "DX de DL0XX-#:    1830.0  G4ABC          CW   -12 dB   8 WPM  BEACON  0000Z");
}

TEST(SpotLine, LongValuesStillLeaveBlanksBetweenTokens) {
  const std::string l =
      spot_line("SKIMMERCALL-12", spot("VP2V/DL7XYZ/QRP", 144050000, -100, 120, SpotType::kDx, kT));
  EXPECT_EQ(l,
            "DX de SKIMMERCALL-12-#: 144050.0  VP2V/DL7XYZ/QRP CW  -100 dB 120 WPM  DX      2259Z");
  EXPECT_EQ(tokens(l), (std::vector<std::string>{"DX", "de", "SKIMMERCALL-12-#:", "144050.0",
                                                 "VP2V/DL7XYZ/QRP", "CW", "-100", "dB", "120",
                                                 "WPM", "DX", "2259Z"}));
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
  EXPECT_TRUE(d.admit("DL1ABC", 7018300, 100.0));
  EXPECT_FALSE(d.admit("DL1ABC", 7018300, 101.0));
  EXPECT_FALSE(d.admit("DL1ABC", 7018380, 400.0));  // 80 Hz away is the same frequency
  EXPECT_FALSE(d.admit("DL1ABC", 7018200, 699.0));  // 100 Hz away too
  EXPECT_FALSE(d.admit("DL1ABC", 7018300, 699.9));  // 599.9 s after the spot
  EXPECT_TRUE(d.admit("DL1ABC", 7018300, 700.0));   // 600 s: spotted again
  EXPECT_FALSE(d.admit("DL1ABC", 7018300, 700.5));
}

TEST(SpotDedup, OtherFrequencyOrCallGoesOut) {
  SpotDedup d;
  EXPECT_TRUE(d.admit("DL1ABC", 7018300, 0.0));
  EXPECT_TRUE(d.admit("DL1ABC", 7018401, 1.0));  // 101 Hz away: it moved
  EXPECT_TRUE(d.admit("DL1ABC", 14025000, 2.0));
  EXPECT_TRUE(d.admit("W1AW", 7018300, 3.0));
  EXPECT_FALSE(d.admit("W1AW", 7018300, 4.0));
  EXPECT_FALSE(d.admit("DL1ABC", 7018450, 5.0));  // within 100 Hz of the second
  // A call two characters off is another call to the dedup (the judge
  // decides between busts).
  EXPECT_TRUE(d.admit("DL1ABD", 7018300, 6.0));
}

TEST(SpotDedup, AStationStillCallingIsSpottedEveryTenMinutes) {
  SpotDedup d;
  std::vector<double> out;
  for (double t = 0; t <= 3600; t += 30)
    if (d.admit("W1AW", 7030000, t)) out.push_back(t);
  EXPECT_EQ(out, (std::vector<double>{0, 600, 1200, 1800, 2400, 3000, 3600}));
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
    EXPECT_TRUE(d.admit(call, 7000000 + i * 1000.0, i / 2));
  }
  EXPECT_EQ(d.remembered(), 1000u);
  // 10 minutes after the last, all are gone.
  EXPECT_TRUE(d.admit("W1AW", 7030000, 499 + 600));
  EXPECT_EQ(d.remembered(), 1u);
  // Hours of distinct spots keep no more than 10 minutes' worth.
  for (int i = 0; i < 36000; i++) {
    std::string call(1, 'W');
    call += std::to_string(i);
    d.admit(call, 7000000 + 1000.0 * i, 2000 + i);
  }
  EXPECT_EQ(d.remembered(), 600u);
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
