// Prints TEXT as the built-in font draws it: 8 rows of '#' (set) and '.'
// (clear), 8 columns a character. Shell tests compare screenshots with it.
#include <cstdio>

#include "support/screen_read.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: glyphrows TEXT\n");
    return 2;
  }
  std::fputs(talvo::test::glyph_rows(argv[1]).c_str(), stdout);
  return 0;
}
