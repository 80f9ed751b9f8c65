// The PSF font renderer: the decoded text lines are drawn in a bitmap font
// loaded at start-up from a PSF version 1 file (through `gunzip -c` when its
// name ends in ".gz"), 8 pixels wide, in any foreground and background
// colour. Each glyph is composed as an image of colours, packed to pixels and
// put on the visual as one box.
//
// Loading prints nothing of its own: a failure comes back as a FontLoad with
// its message, and the program decides what to print. After a failure text
// in the font simply does not appear.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "display/ggi.h"

namespace talvo {

struct Psf {
  ggi_color PSF_fgcolor;                   // colour of set glyph pixels
  ggi_color PSF_bgcolor;                   // colour of clear glyph pixels
  int PSF_glyphheight = 0;                 // rows per glyph (and bytes per glyph); 0 until loaded
  std::vector<unsigned char> PSF_data;     // glyphs 0..255, one byte a row
  std::vector<ggi_color> PSF_glyphcolbuf;  // the glyph being composed, 8 x height
  std::vector<ggi_pixel> PSF_glyphpixbuf;  // and packed to pixels
  bool loaded = false;                     // all of the above are in place: the font can be drawn
};

// Why a font did not load.
enum class FontError {
  kNone,            // loaded
  kNoDecompressor,  // gunzip cannot be started
  kCannotOpen,      // the file cannot be opened
  kShortHeader,     // fewer than 4 header bytes
  kWrongMagic,      // not a PSF version 1 header
  kBadHeight,       // glyph height 0, or 128 and more
  kNoColourBuffer,  // no memory for the glyph being composed
  kNoPixelBuffer,   // no memory for it packed to pixels
  kNoFontSpace,     // no memory for the glyphs
  kShortFont,       // fewer glyph bytes than 256 x height
};

// The outcome of loading a font.
struct [[nodiscard]] FontLoad {
  FontError error = FontError::kNone;
  std::string message;  // the text for standard error, newline included; empty when loaded
  bool ok() const { return error == FontError::kNone; }
};

// Loads the font file. For a ".gz" name the decompressor's command line is
// written to `echo` (and flushed) before it starts, so that whatever the
// decompressor says follows it; a null `echo` shows it nowhere.
FontLoad psfloadfont(Psf& psf, const char* font, std::FILE* echo);

// The loading itself, from an open stream (from kShortHeader on).
FontLoad psf_read(Psf& psf, std::FILE* f);

// 0xRRGGBB to the 16-bit components (each byte into the high byte).
int psfSetGCForeground(Psf& psf, Visual& vis, ggi_pixel color);
int psfSetGCBackground(Psf& psf, Visual& vis, ggi_pixel color);

// Glyph c with its top left corner at (x, y), and a string from there on,
// 8 pixels a character.
int psfPutc(Psf& psf, Visual& vis, int x, int y, char c);
int psfPuts(Psf& psf, Visual& vis, int x, int y, const char* str);

}  // namespace talvo
