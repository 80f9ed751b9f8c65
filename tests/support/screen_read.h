// Reading the frame back: the text a row of 8 x 8 cells shows in the built-in
// font, and the built-in font's glyphs as rows of characters for the shell
// tests, which read their screenshots the same way.
#pragma once

#include <string>

#include "display/ggi.h"

namespace talvo::test {

// The text shown from (x, y) in `chars` cells of the built-in font, each cell
// read as the printable character whose glyph it shows in colour `fg` on
// black, pixel for pixel. A cell that shows no such glyph reads as '\0'.
std::string read_text(const Visual& v, int x, int y, int chars, ggi_pixel fg);

// `text` as the built-in font draws it: 8 lines of '#' (set) and '.'
// (clear), 8 columns a character.
std::string glyph_rows(const std::string& text);

}  // namespace talvo::test
