// The PSF font renderer: the decoded text lines are drawn in a bitmap font
// loaded at start-up from a PSF version 1 file (through `gunzip -c` when its
// name ends in ".gz"), 8 pixels wide, in any foreground and background
// colour. Each glyph is composed as an image of colours, packed to pixels and
// put on the visual as one box.
#pragma once

#include <cstdio>
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

// Loads the font file; returns 0, or on failure writes its message to
// standard error and returns: 1 the decompressor cannot be started, 2 the
// file cannot be opened, 3 fewer than 4 header bytes, 4 not a PSF version 1
// header or an unusable glyph height (0, or 128 and more), 5..7 no memory,
// 8 fewer glyph bytes than 256 x height. After a failure text in the font
// simply does not appear.
int psfloadfont(Psf& psf, const char* font);

// The loading itself, from an open stream (codes 3 to 8).
int psf_read(Psf& psf, FILE* f);

// 0xRRGGBB to the 16-bit components (each byte into the high byte).
int psfSetGCForeground(Psf& psf, Visual& vis, ggi_pixel color);
int psfSetGCBackground(Psf& psf, Visual& vis, ggi_pixel color);

// Glyph c with its top left corner at (x, y), and a string from there on,
// 8 pixels a character.
int psfPutc(Psf& psf, Visual& vis, int x, int y, char c);
int psfPuts(Psf& psf, Visual& vis, int x, int y, const char* str);

}  // namespace talvo
