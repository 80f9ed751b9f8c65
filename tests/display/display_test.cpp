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
#include "support/headless.h"
#include "support/process.h"
#include "support/screen_read.h"

namespace talvo {
namespace {

// A screen without a window, as the program has it headless.
struct Headless {
  Screen s;
  explicit Headless(int centerfreq = 700, int width = 1200) {
    s.width = width;
    test::headless();
    test::FakeFrontEnd fe(centerfreq);
    result = init_ggi(s, fe, 100);
  }
  WindowOpen result;
};

using test::read_text;

TEST(Layout, StatusTitleLabelsAndHeadings) {
  Headless h;
  EXPECT_EQ(h.result, WindowOpen::kFrameOnly);  // no display here: the frame alone
  const Visual& v = h.s.vis;
  // Each status label, up to where its value begins (the value is drawn over
  // the label's last letters), on the status line at 465.
  ASSERT_EQ(status_y(480), 465);
  for (const StatusPlace& f : kStatus) {
    std::string label = f.label;
    if (f.value_x > 0 && f.value_x < f.label_x + 8 * static_cast<int>(label.size()))
      label.resize(static_cast<std::size_t>((f.value_x - f.label_x) / 8));
    EXPECT_EQ(read_text(v, f.label_x, 465, static_cast<int>(label.size()), kStatusColour), label)
        << f.label;
  }
  EXPECT_EQ(read_text(v, kStatus[kTxSpeed].value_x, 465, 5, kStatusColour), "100  ");
  EXPECT_EQ(read_text(v, kStatus[kIngain].value_x, 465, 3, kStatusColour), "1.0");
  EXPECT_EQ(read_text(v, kStatus[kDisplayGain].value_x, 465, 3, kStatusColour), "1.0");
  EXPECT_EQ(read_text(v, kStatus[kWaterSpeed].value_x, 465, 3, kStatusColour), "100");
  // Clicks on a label or its value hit the field; the gaps between hit none.
  for (int f = 0; f < kStatusFields; f++) {
    if (kStatus[f].click_lo < 0) continue;
    EXPECT_EQ(status_field_at(kStatus[f].label_x + 1), f);
    EXPECT_EQ(status_field_at(kStatus[f].click_hi), f);
    EXPECT_EQ(status_field_at(kStatus[f].click_hi + 1), -1);
  }
  // The title and the two help texts overlap where each next one begins.
  EXPECT_EQ(read_text(v, 20, 435, 26, kHelpColour), "TALVO Morsedecoder  velqui");
  EXPECT_EQ(read_text(v, 230, 435, 27, kHelpColour), "left/right = up/down and on");
  EXPECT_EQ(read_text(v, 460, 435, 50, kHelpColour),
            "white/yellow = sync_on/off         <ESC> = stop tx");
  EXPECT_EQ(read_text(v, 5, 40, 3, kLabelColour), " Hz");
  EXPECT_EQ(read_text(v, 345, 40, 8, kLabelColour), "char/min");
  EXPECT_EQ(read_text(v, 346, 12, 5, kSendColour), "Send:");
  // The nine frequency labels, 500 at the bottom to 900 at the top, and the
  // rows a click finds them by.
  for (int q = 0; q < 9; q++) {
    EXPECT_EQ(read_text(v, 5, row_y(480, q), 3, kLabelColour), std::to_string(500 + 50 * q)) << q;
    EXPECT_EQ(cluster_at(480, strip_y(480, q) + 1), q);
    EXPECT_EQ(cluster_at(480, strip_y(480, q) + 7), q);
    EXPECT_EQ(cluster_at(480, strip_y(480, q) + 20), -1);  // between two rows
  }
  EXPECT_EQ(read_text(v, 5, 75, 3, kLabelColour), "900");
  EXPECT_EQ(read_text(v, 5, 395, 3, kLabelColour), "500");
  Headless high(800);
  EXPECT_EQ(read_text(high.s.vis, 5, 240 - 165, 4, kLabelColour), "1000");
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

// Loads with the decompressor's command line caught, and whatever lands on
// standard error meanwhile.
struct Load {
  FontLoad result;
  std::string echo, err;
};
Load load(Psf& psf, const std::string& name) {
  FILE* echo = std::tmpfile();
  ::testing::internal::CaptureStderr();
  Load l{psfloadfont(psf, name.c_str(), echo), "", ""};
  l.err = ::testing::internal::GetCapturedStderr();
  l.echo = test::written_to(echo);
  std::fclose(echo);
  return l;
}

TEST(PsfLoader, LoadsPlainAndCompressedFonts) {
  FontFiles f;
  Psf plain;
  const Load a = load(plain, f.put("font.psf", f.font(16)));
  EXPECT_TRUE(a.result.ok());
  EXPECT_EQ(a.result.message, "");
  EXPECT_EQ(a.echo, "");
  EXPECT_EQ(plain.PSF_glyphheight, 16);
  EXPECT_EQ(plain.PSF_data[5 * 16 + 3], 5 ^ 3);

  Psf packed;
  const std::string gz = f.gz("font.psf", f.font(16));
  const Load b = load(packed, gz);
  EXPECT_TRUE(b.result.ok());
  EXPECT_EQ(b.echo, "gunzip -c  " + gz + "\n");
  EXPECT_EQ(packed.PSF_data, plain.PSF_data);
  // Without a stream for it the command line is shown nowhere.
  Psf quiet;
  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(psfloadfont(quiet, gz.c_str(), nullptr).ok());
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

  // A 512-glyph font: the first 256 glyphs are used.
  Psf big;
  EXPECT_TRUE(load(big, f.put("big.psf", f.font(8, 512, 1))).result.ok());
  EXPECT_EQ(big.PSF_data.size(), 256u * 8);

  // The system's own font, as the build puts it beside the program.
  Psf shipped;
  EXPECT_TRUE(load(shipped, TALVO_FONT).result.ok());
  EXPECT_EQ(shipped.PSF_glyphheight, 16);
}

TEST(PsfLoader, EveryFailureComesBackWithItsMessageAndDrawsNothing) {
  FontFiles f;
  struct Case {
    std::string file;
    FontError error;
    std::string message;
  };
  const std::string missing = f.dir.file("none.psf");
  const Case cases[] = {
      {missing, FontError::kCannotOpen, "cannot open " + missing + "\n"},
      {f.put("short.psf", std::string("\x36\x04", 2)), FontError::kShortHeader,
       "cannot read header\n"},
      {f.put("v2.psf", std::string("\x72\xb5\x4a\x86\x00\x00\x00\x00", 8)), FontError::kWrongMagic,
       "Wrong magic number\n"},
      {f.put("empty.psf", ""), FontError::kShortHeader, "cannot read header\n"},
      {f.put("zero.psf", f.font(0)), FontError::kBadHeight, "Unusable glyph height 0\n"},
      {f.put("tall.psf", f.font(16).replace(3, 1, 1, static_cast<char>(200))),
       FontError::kBadHeight, "Unusable glyph height 200\n"},
      {f.put("cut.psf", f.font(16).substr(0, 4 + 100 * 16)), FontError::kShortFont,
       "cannot read font\n"},
      {f.gz("cutgz.psf", f.font(16).substr(0, 4 + 255 * 16)), FontError::kShortFont,
       "cannot read font\n"},
  };
  Visual v;
  v.make(64, 32);
  for (const auto& c : cases) {
    Psf psf;
    const Load l = load(psf, c.file);
    EXPECT_EQ(l.result.error, c.error) << c.file;
    EXPECT_FALSE(l.result.ok()) << c.file;
    EXPECT_EQ(l.result.message, c.message) << c.file;
    EXPECT_EQ(l.err, "") << c.file;  // the loader itself prints nothing
    EXPECT_FALSE(psf.loaded) << c.file;
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
  EXPECT_EQ(l.result.error, FontError::kShortHeader);
  EXPECT_EQ(l.result.message, "cannot read header\n");
  EXPECT_NE(l.err.find("gone.psf.gz"), std::string::npos) << l.err;  // gunzip's own word
  // Upper-case GZ and short names are opened as plain files.
  EXPECT_TRUE(load(psf, f.put("font.GZ", f.font(8))).result.ok());
  EXPECT_EQ(load(psf, "gz").result.error, FontError::kCannotOpen);
}

TEST(PsfRenderer, GlyphRowsColoursAndPositions) {
  FontFiles f;
  Psf psf;
  ASSERT_TRUE(load(psf, f.put("font.psf", f.font(16))).result.ok());
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
