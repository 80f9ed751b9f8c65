// The picture in the frame: layout, waterfall, overload box, and the PSF
// font renderer with its loader.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "decoder/walk.h"
#include "display/colours.h"
#include "display/geometry.h"
#include "display/screen.h"
#include "support/fake_frontend.h"
#include "support/process.h"

namespace talvo {
namespace {

// A screen without a window, as the program has it headless.
struct Headless {
  Screen s;
  explicit Headless(int centerfreq = 700, int width = 1200) {
    s.width = width;
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("SDL_VIDEODRIVER");
    test::FakeFrontEnd fe(centerfreq);
    result = init_ggi(s, fe, 100);
  }
  int result;
};

// True when the frame shows `text` in the built-in font at (x, y) in colour
// `fg` on black.
::testing::AssertionResult shows(const Visual& v, int x, int y, const std::string& text,
                                 ggi_pixel fg) {
  for (std::size_t i = 0; i < text.size(); i++) {
    const unsigned char* glyph = kBuiltinFont[static_cast<unsigned char>(text[i])];
    for (int r = 0; r < 8; r++)
      for (int k = 0; k < 8; k++) {
        const int px = x + 8 * static_cast<int>(i) + k;
        const ggi_pixel want = (glyph[r] & (0x80 >> k)) ? fg : 0;
        if (v.pixel(px, y + r) != want)
          return ::testing::AssertionFailure()
                 << "'" << text << "' at (" << x << "," << y << "): pixel (" << px << "," << y + r
                 << ") is " << std::hex << v.pixel(px, y + r) << ", not " << want;
      }
  }
  return ::testing::AssertionSuccess();
}

TEST(Layout, StatusTitleLabelsAndHeadings) {
  Headless h;
  EXPECT_EQ(h.result, 2);  // no display here: the frame alone
  const Visual& v = h.s.vis;
  // Each status label, up to where its value begins (the value is drawn over
  // the label's last letters), on the status line at 465.
  ASSERT_EQ(status_y(480), 465);
  for (const StatusPlace& f : kStatus) {
    std::string label = f.label;
    if (f.value_x > 0 && f.value_x < f.label_x + 8 * static_cast<int>(label.size()))
      label.resize(static_cast<std::size_t>((f.value_x - f.label_x) / 8));
    EXPECT_TRUE(shows(v, f.label_x, 465, label, kStatusColour)) << f.label;
  }
  EXPECT_TRUE(shows(v, kStatus[kTxSpeed].value_x, 465, "100  ", kStatusColour));
  EXPECT_TRUE(shows(v, kStatus[kIngain].value_x, 465, "1.0", kStatusColour));
  EXPECT_TRUE(shows(v, kStatus[kDisplayGain].value_x, 465, "1.0", kStatusColour));
  EXPECT_TRUE(shows(v, kStatus[kWaterSpeed].value_x, 465, "100", kStatusColour));
  // Clicks on a label or its value hit the field; the gaps between hit none.
  for (int f = 0; f < kStatusFields; f++) {
    if (kStatus[f].click_lo < 0) continue;
    EXPECT_EQ(status_field_at(kStatus[f].label_x + 1), f);
    EXPECT_EQ(status_field_at(kStatus[f].click_hi), f);
    EXPECT_EQ(status_field_at(kStatus[f].click_hi + 1), -1);
  }
  // The title and the two help texts overlap where each next one begins.
  EXPECT_TRUE(shows(v, 20, 435, "TALVO Morsedecoder  velqui", 0x004080));
  EXPECT_TRUE(shows(v, 230, 435, "left/right = up/down and on", 0x004080));
  EXPECT_TRUE(shows(v, 460, 435, "white/yellow = sync_on/off         <ESC> = stop tx", 0x004080));
  EXPECT_TRUE(shows(v, 5, 40, " Hz", 0x0050FF));
  EXPECT_TRUE(shows(v, 345, 40, "char/min", 0x0050FF));
  EXPECT_TRUE(shows(v, 346, 12, "Send:", 0x00FF00));
  // The nine frequency labels, 500 at the bottom to 900 at the top, and the
  // rows a click finds them by.
  for (int q = 0; q < 9; q++) {
    EXPECT_TRUE(shows(v, 5, row_y(480, q), std::to_string(500 + 50 * q), 0x0050FF)) << q;
    EXPECT_EQ(cluster_at(480, strip_y(480, q) + 1), q);
    EXPECT_EQ(cluster_at(480, strip_y(480, q) + 7), q);
    EXPECT_EQ(cluster_at(480, strip_y(480, q) + 20), -1);  // between two rows
  }
  EXPECT_TRUE(shows(v, 5, 75, "900", 0x0050FF));
  EXPECT_TRUE(shows(v, 5, 395, "500", 0x0050FF));
  Headless high(800);
  EXPECT_TRUE(shows(high.s.vis, 5, 240 - 165, "1000", 0x0050FF));
}

TEST(Waterfall, ColumnColoursByKeyStateAndRole) {
  Headless h;
  test::FakeFrontEnd fe;
  Decoder dec = decoder_for(fe, Rules::kClassic, 100);
  dec[6].decchannel = kSelected;  // cluster 10: red
  fe.keys[4] = 1500;              // key down: 0.1 * 1500 + 30 = 180
  fe.keys[6] = 3000;              // saturates at 255
  fe.keys[0] = 0;                 // key up: 30
  EXPECT_EQ(h.s.x, 70);
  wasserfall(h.s, dec, fe);
  const Visual& v = h.s.vis;
  for (int k = 0; k <= 5; k++) {
    EXPECT_EQ(v.pixel(70, 240 + k), 180u << 8);        // cluster 0, green
    EXPECT_EQ(v.pixel(70, 240 - 80 + k), 255u << 16);  // cluster 10, red
    EXPECT_EQ(v.pixel(70, 240 + 160 + k), 30u << 8);   // cluster -20, key up
  }
  EXPECT_EQ(v.pixel(70, 240 + 6), 0u);  // six pixels a strip
  // The selected cluster's key state, yellow while down, and the cleared band.
  for (int y = 3; y <= 6; y++)
    EXPECT_EQ(v.pixel(68, y), 0xFFFF00u);
  EXPECT_EQ(h.s.x, 71);

  // Display gain: at 0.5 the same key-down value gives 0.05 * 1500 + 30 = 105.
  h.s.wgain = 0.5;
  fe.keys[6] = 0;
  wasserfall(h.s, dec, fe);
  EXPECT_EQ(v.pixel(71, 240), 105u << 8);
  for (int y = 3; y <= 6; y++)
    EXPECT_EQ(v.pixel(69, y), 0u);  // key up: black tick
}

TEST(Waterfall, ClearsTheEchoBandAndWrapsToColumn40) {
  Headless h;
  test::FakeFrontEnd fe;
  Decoder dec = decoder_for(fe, Rules::kClassic, 100);
  Visual& v = h.s.vis;
  v.SetGCForeground(0xFF0000);
  v.DrawBox(0, 7, 350, 34);  // an echo across the band
  int columns = 0;
  while (h.s.x != 339 && columns < 1000) {
    wasserfall(h.s, dec, fe);
    columns++;
  }
  EXPECT_EQ(columns, 339 - 70);
  for (int y = 7; y <= 40; y++)
    EXPECT_EQ(v.pixel(100, y), 0u) << y;
  EXPECT_EQ(v.pixel(69, 20), 0xFF0000u);  // left of the first sweep: untouched so far
  wasserfall(h.s, dec, fe);               // draws column 339, the last
  EXPECT_EQ(h.s.x, 40);
  EXPECT_EQ(v.pixel(339, 240), 30u << 8);
  wasserfall(h.s, dec, fe);
  EXPECT_EQ(v.pixel(40, 240), 30u << 8);
  EXPECT_EQ(v.pixel(40, 20), 0u);
}

TEST(OverloadBox, RedAfterAnOverloadElseBlack) {
  Headless h;
  overload_box(h.s, true);
  EXPECT_EQ(h.s.vis.pixel(115, 465), 0xFF0000u);
  EXPECT_EQ(h.s.vis.pixel(124, 474), 0xFF0000u);
  EXPECT_EQ(h.s.vis.pixel(125, 474), 0u);
  overload_box(h.s, false);
  EXPECT_EQ(h.s.vis.pixel(115, 465), 0u);
}

// --- the PSF font -----------------------------------------------------------

struct FontFiles {
  test::TempDir dir;
  // A PSF version 1 font of 256 glyphs of `height` rows, glyph g row r = g ^ r,
  // with `extra` bytes after the header's four and glyph 'A' row 0 = 0x81.
  std::string font(int height, int glyphs = 256, int mode = 0) {
    std::string f = {0x36, 0x04, static_cast<char>(mode), static_cast<char>(height)};
    for (int g = 0; g < glyphs; g++)
      for (int r = 0; r < height; r++)
        f.push_back(static_cast<char>(g ^ r));
    f[4 + 'A' * height] = static_cast<char>(0x81);
    return f;
  }
  std::string put(const std::string& name, const std::string& content) {
    dir.write(name, content);
    return dir.file(name);
  }
  std::string gz(const std::string& name, const std::string& content) {
    put(name, content);
    test::run({"/bin/gzip", "-f", dir.file(name)});
    return dir.file(name + ".gz");
  }
};

// Loads with standard output and error caught; returns the result.
struct Load {
  int result;
  std::string out, err;
};
Load load(Psf& psf, const std::string& name) {
  std::fflush(stdout);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  Load l;
  l.result = psfloadfont(psf, name.c_str());
  l.out = ::testing::internal::GetCapturedStdout();
  l.err = ::testing::internal::GetCapturedStderr();
  return l;
}

TEST(PsfLoader, LoadsPlainAndCompressedFonts) {
  FontFiles f;
  Psf plain;
  const Load a = load(plain, f.put("font.psf", f.font(16)));
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.out, "");
  EXPECT_EQ(plain.PSF_glyphheight, 16);
  EXPECT_EQ(plain.PSF_data[5 * 16 + 3], 5 ^ 3);

  Psf packed;
  const std::string gz = f.gz("font.psf", f.font(16));
  const Load b = load(packed, gz);
  EXPECT_EQ(b.result, 0);
  EXPECT_EQ(b.out, "gunzip -c  " + gz + "\n");
  EXPECT_EQ(packed.PSF_data, plain.PSF_data);

  // A 512-glyph font: the first 256 glyphs are used.
  Psf big;
  EXPECT_EQ(load(big, f.put("big.psf", f.font(8, 512, 1))).result, 0);
  EXPECT_EQ(big.PSF_data.size(), 256u * 8);

  // The system's own font, as the build puts it beside the program.
  Psf shipped;
  EXPECT_EQ(load(shipped, TALVO_FONT).result, 0);
  EXPECT_EQ(shipped.PSF_glyphheight, 16);
}

TEST(PsfLoader, EveryFailureSaysWhyAndDrawsNothing) {
  FontFiles f;
  struct Case {
    std::string file;
    int result;
    std::string err;
  };
  const std::string missing = f.dir.file("none.psf");
  const Case cases[] = {
      {missing, 2, "cannot open " + missing + "\n"},
      {f.put("short.psf", std::string("\x36\x04", 2)), 3, "cannot read header\n"},
      {f.put("v2.psf", std::string("\x72\xb5\x4a\x86\x00\x00\x00\x00", 8)), 4,
       "Wrong magic number\n"},
      {f.put("empty.psf", ""), 3, "cannot read header\n"},
      {f.put("zero.psf", f.font(0)), 4, "Unusable glyph height 0\n"},
      {f.put("tall.psf", f.font(16).replace(3, 1, 1, static_cast<char>(200))), 4,
       "Unusable glyph height 200\n"},
      {f.put("cut.psf", f.font(16).substr(0, 4 + 100 * 16)), 8, "cannot read font\n"},
      {f.gz("cutgz.psf", f.font(16).substr(0, 4 + 255 * 16)), 8, "cannot read font\n"},
  };
  Visual v;
  v.make(64, 32);
  for (const auto& c : cases) {
    Psf psf;
    const Load l = load(psf, c.file);
    EXPECT_EQ(l.result, c.result) << c.file;
    EXPECT_EQ(l.err, c.err) << c.file;
    psfSetGCForeground(psf, v, 0xFFFFFF);
    EXPECT_EQ(psfPuts(psf, v, 0, 0, "AB"), 0);
    for (ggi_pixel p : v.frame())
      ASSERT_EQ(p, 0u) << c.file;
  }
  // A compressed file that does not exist: the decompressor complains, the
  // loader sees no header.
  Psf psf;
  const std::string gone = f.dir.file("gone.psf.gz");
  const Load l = load(psf, gone);
  EXPECT_EQ(l.result, 3);
  EXPECT_NE(l.err.find("cannot read header\n"), std::string::npos);
  // Upper-case GZ and short names are opened as plain files.
  EXPECT_EQ(load(psf, f.put("font.GZ", f.font(8))).result, 0);
  EXPECT_EQ(load(psf, "gz").result, 2);
}

TEST(PsfRenderer, GlyphRowsColoursAndPositions) {
  FontFiles f;
  Psf psf;
  ASSERT_EQ(load(psf, f.put("font.psf", f.font(16))).result, 0);
  Visual v;
  v.make(100, 40);
  psfSetGCForeground(psf, v, 0xFFFFFF);
  psfSetGCBackground(psf, v, 0);
  EXPECT_EQ(psf.PSF_fgcolor.r, 0xFF00);
  psfSetGCForeground(psf, v, 0xFFFF00);
  EXPECT_EQ(psf.PSF_fgcolor.g, 0xFF00);
  EXPECT_EQ(psf.PSF_fgcolor.b, 0);
  psfSetGCForeground(psf, v, 0xFFFFFF);

  // Row 0 of 'A' is 0x81: white at both ends, black between.
  psfPutc(psf, v, 10, 5, 'A');
  EXPECT_EQ(v.pixel(10, 5), 0xFFFFFFu);
  for (int k = 1; k <= 6; k++)
    EXPECT_EQ(v.pixel(10 + k, 5), 0u);
  EXPECT_EQ(v.pixel(17, 5), 0xFFFFFFu);

  // n characters land at x, x + 8, ...; the empty string draws nothing.
  Visual w;
  w.make(100, 40);
  psfSetGCForeground(psf, w, 0x00FF00);
  EXPECT_EQ(psfPuts(psf, w, 3, 2, ""), 0);
  for (ggi_pixel p : w.frame())
    ASSERT_EQ(p, 0u);
  psfPuts(psf, w, 3, 2, "\x01\x02\x03");
  for (int i = 0; i < 3; i++) {
    const int g = i + 1;
    for (int r = 0; r < 16; r++)
      for (int k = 0; k < 8; k++) {
        const bool set = ((g ^ r) & (0x80 >> k)) != 0;
        ASSERT_EQ(w.pixel(3 + 8 * i + k, 2 + r), set ? 0x00FF00u : 0u) << i << " " << r;
      }
  }
}

}  // namespace
}  // namespace talvo
