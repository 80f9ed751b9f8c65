#include "support/screen_read.h"

namespace talvo::test {
namespace {

// Whether the cell at (x, y) shows glyph c in `fg` on black; a cell not
// wholly inside the frame shows none.
bool cell_shows(const Visual& v, int x, int y, unsigned char c, ggi_pixel fg) {
  if (x < 0 || y < 0 || x + 8 > v.width() || y + 8 > v.height()) return false;
  for (int r = 0; r < 8; r++)
    for (int k = 0; k < 8; k++) {
      const bool set = kBuiltinFont[c][r] & (0x80 >> k);
      if (v.pixel(x + k, y + r) != (set ? fg : 0)) return false;
    }
  return true;
}

}  // namespace

std::string read_text(const Visual& v, int x, int y, int chars, ggi_pixel fg) {
  std::string s;
  for (int i = 0; i < chars; i++) {
    char found = '\0';
    for (int c = 32; c < 127 && found == '\0'; c++)
      if (cell_shows(v, x + 8 * i, y, static_cast<unsigned char>(c), fg))
        found = static_cast<char>(c);
    s.push_back(found);
  }
  return s;
}

std::string glyph_rows(const std::string& text) {
  std::string rows;
  for (int r = 0; r < 8; r++) {
    for (char ch : text)
      for (int k = 0; k < 8; k++)
        rows.push_back(kBuiltinFont[static_cast<unsigned char>(ch)][r] & (0x80 >> k) ? '#' : '.');
    rows.push_back('\n');
  }
  return rows;
}

}  // namespace talvo::test
