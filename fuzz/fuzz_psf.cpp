// The font loader and renderer on arbitrary bytes as a font file. A load
// that fails must say why and leave the font unusable; one that succeeds
// must leave it whole.
#include <cstdio>

#include "display/PSFinGGI.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static talvo::Visual vis;
  if (vis.width() == 0) vis.make(64, 32);
  FILE* f = fmemopen(const_cast<unsigned char*>(data), size, "r");
  if (!f) return 0;
  talvo::Psf psf;
  const talvo::FontLoad loaded = talvo::psf_read(psf, f);
  std::fclose(f);
  if (loaded.ok() != psf.loaded || loaded.ok() == !loaded.message.empty()) __builtin_trap();
  if (psf.loaded && psf.PSF_data.size() != 256u * static_cast<unsigned>(psf.PSF_glyphheight))
    __builtin_trap();
  talvo::psfSetGCForeground(psf, vis, 0xFFFFFF);
  talvo::psfPuts(psf, vis, 60, 30, "\x01\x7f\x80\xff A");  // partly outside the frame
  return 0;
}
