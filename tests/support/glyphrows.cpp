// Prints TEXT as the built-in font draws it: 8 rows of '#' (set) and '.'
// (clear), 8 columns a character. Shell tests compare screenshots with it.
#include <cstdio>
#include <cstring>

#include "display/ggi.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: glyphrows TEXT\n");
    return 2;
  }
  for (int r = 0; r < 8; r++) {
    for (const char* p = argv[1]; *p; p++)
      for (int k = 0; k < 8; k++)
        std::putchar(talvo::kBuiltinFont[static_cast<unsigned char>(*p)][r] & (0x80 >> k) ? '#'
                                                                                          : '.');
    std::putchar('\n');
  }
  return 0;
}
