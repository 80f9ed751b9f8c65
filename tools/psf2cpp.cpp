// Turns a PSF version 1 font of 8 x 8 glyphs (read from standard input,
// already decompressed) into C++ source defining the built-in font: 256
// glyphs of 8 rows, bit 7 the leftmost pixel. Run at build time on the
// console font the system ships, so no glyph is drawn by hand.
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: psf2cpp output.cpp < font.psf\n");
    return 2;
  }
  unsigned char header[4];
  unsigned char glyphs[256 * 8];
  if (std::fread(header, 1, 4, stdin) != 4 || header[0] != 0x36 || header[1] != 0x04 ||
      header[3] != 8 || std::fread(glyphs, 1, sizeof glyphs, stdin) != sizeof glyphs) {
    std::fprintf(stderr, "psf2cpp: not a PSF version 1 font of 8 x 8 glyphs\n");
    return 1;
  }
  FILE* out = std::fopen(argv[1], "w");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  std::fprintf(out,
               "// Generated at build time from the console font Lat15-VGA8; do not edit.\n"
               "#include \"display/ggi.h\"\n\nnamespace talvo {\n\n"
               "const unsigned char kBuiltinFont[256][8] = {\n");
  for (int g = 0; g < 256; g++) {
    std::fprintf(out, "    {");
    for (int r = 0; r < 8; r++)
      std::fprintf(out, "0x%02X%s", glyphs[g * 8 + r], r < 7 ? ", " : "");
    std::fprintf(out, "},\n");
  }
  std::fprintf(out, "};\n\n}  // namespace talvo\n");
  return std::fclose(out) == 0 ? 0 : 1;
}
