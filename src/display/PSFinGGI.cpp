#include "display/PSFinGGI.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace talvo {
namespace {

// The file name as one shell word: unchanged when it holds only characters
// the shell passes as they are, else single-quoted.
std::string shell_word(const char* s) {
  bool plain = *s != '\0';
  for (const char* p = s; *p; p++) {
    const char c = *p;
    plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::strchr("-_./+,:@%", c) != nullptr);
  }
  if (plain) return s;
  std::string q = "'";
  for (const char* p = s; *p; p++)
    q += *p == '\'' ? std::string("'\\''") : std::string(1, *p);
  return q + "'";
}

// Sets r, g, b of `g` from 0xRRGGBB, each byte into the high byte; a stays.
void set_color(ggi_color& g, ggi_pixel c) {
  g.r = static_cast<uint16_t>(((c >> 16) & 0xFF) << 8);
  g.g = static_cast<uint16_t>(((c >> 8) & 0xFF) << 8);
  g.b = static_cast<uint16_t>((c & 0xFF) << 8);
}

// Sizes `v` to n elements; false when there is no memory for them.
template <typename T>
bool sized(std::vector<T>& v, std::size_t n) {
  try {
    v.resize(n);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

// The messages are the system's own texts, kept byte for byte as it has
// always written them: hence "Wrong magic number" with its capital, and the
// American "color" where the code says colour.
FontLoad psf_read(Psf& psf, FILE* f) {
  unsigned char header[4];
  if (std::fread(header, 1, 4, f) < 4) return {FontError::kShortHeader, "cannot read header\n"};
  if (header[0] != 0x36 || header[1] != 0x04)
    return {FontError::kWrongMagic, "Wrong magic number\n"};
  const int height = header[3];
  if (height == 0 || height >= 128)
    return {FontError::kBadHeight, "Unusable glyph height " + std::to_string(height) + "\n"};
  std::vector<ggi_color> colbuf;
  std::vector<ggi_pixel> pixbuf;
  std::vector<unsigned char> data;
  const auto h = static_cast<std::size_t>(height);
  if (!sized(colbuf, 8 * h))
    return {FontError::kNoColourBuffer, "cannot allocate glyph color buffer\n"};
  if (!sized(pixbuf, 8 * h))
    return {FontError::kNoPixelBuffer, "cannot allocate glyph pixel buffer\n"};
  if (!sized(data, 256 * h)) return {FontError::kNoFontSpace, "cannot allocate font space\n"};
  if (std::fread(data.data(), 1, data.size(), f) < data.size())
    return {FontError::kShortFont, "cannot read font\n"};
  // Only a font that loaded whole is used; a 512-glyph font gives its first
  // 256 glyphs, and whatever follows them is not read.
  psf.PSF_glyphheight = height;
  psf.PSF_glyphcolbuf = std::move(colbuf);
  psf.PSF_glyphpixbuf = std::move(pixbuf);
  psf.PSF_data = std::move(data);
  psf.loaded = true;
  return {};
}

FontLoad psfloadfont(Psf& psf, const char* font, FILE* echo) {
  const std::size_t len = strnlen(font, 1000);
  const bool gz = len >= 3 && std::strcmp(font + len - 3, ".gz") == 0;
  FILE* f;
  if (gz) {
    // The command line with its two blanks is the system's own, shown byte
    // for byte as it always was.
    const std::string cmd = std::string("gunzip -c  ") + shell_word(font);
    if (echo) {
      std::fprintf(echo, "%s\n", cmd.c_str());
      std::fflush(echo);
    }
    f = popen(cmd.c_str(), "r");
    if (!f) return {FontError::kNoDecompressor, "cannot open " + std::string(font) + "\n"};
  } else {
    f = std::fopen(font, "r");
    if (!f) return {FontError::kCannotOpen, "cannot open " + std::string(font) + "\n"};
  }
  FontLoad result = psf_read(psf, f);
  if (gz) {
    // Read what the decompressor still has, so that it ends quietly.
    char sink[4096];
    while (std::fread(sink, 1, sizeof sink, f) > 0) {
    }
    pclose(f);
  } else {
    std::fclose(f);
  }
  return result;
}

int psfSetGCForeground(Psf& psf, Visual& /*vis*/, ggi_pixel color) {
  set_color(psf.PSF_fgcolor, color);
  return 0;
}

int psfSetGCBackground(Psf& psf, Visual& /*vis*/, ggi_pixel color) {
  set_color(psf.PSF_bgcolor, color);
  return 0;
}

int psfPutc(Psf& psf, Visual& vis, int x, int y, char c) {
  if (!psf.loaded) return 0;
  const int h = psf.PSF_glyphheight;
  const unsigned char* glyph = psf.PSF_data.data() + static_cast<unsigned char>(c) * h;
  for (int r = 0; r < h; r++) {
    const unsigned char glrow = glyph[r];
    for (int k = 0; k < 8; k++) {
      const unsigned mask = 0x80u >> k;
      psf.PSF_glyphcolbuf[8 * r + k] = (glrow & mask) ? psf.PSF_fgcolor : psf.PSF_bgcolor;
    }
  }
  Visual::PackColors(psf.PSF_glyphpixbuf.data(), psf.PSF_glyphcolbuf.data(), 8 * h);
  vis.PutBox(x, y, 8, h, psf.PSF_glyphpixbuf.data());
  vis.Flush();
  return 0;
}

int psfPuts(Psf& psf, Visual& vis, int x, int y, const char* str) {
  for (; *str; str++, x += 8)
    psfPutc(psf, vis, x, y, *str);
  return 0;
}

}  // namespace talvo
