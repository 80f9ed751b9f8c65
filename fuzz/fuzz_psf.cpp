// The font loader and renderer on arbitrary bytes as a font file.
#include <cstdio>

#include "display/PSFinGGI.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static talvo::Visual vis;
  if (vis.width() == 0) vis.make(64, 32);
  FILE* f = fmemopen(const_cast<unsigned char*>(data), size, "r");
  if (!f) return 0;
  talvo::Psf psf;
  talvo::psf_read(psf, f);
  std::fclose(f);
  talvo::psfSetGCForeground(psf, vis, 0xFFFFFF);
  talvo::psfPuts(psf, vis, 60, 30, "\x01\x7f\x80\xff A");  // partly outside the frame
  return 0;
}
