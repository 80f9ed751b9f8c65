// Decoded text as the operator sees it: the selected clusters' strings on
// standard output as one flushed stream, echoed in red above the waterfall,
// and every cluster's text line redrawn in the bitmap font with its speed
// figure and cursor mark.
#pragma once

#include <cstdio>

#include "decoder/decoder.h"
#include "display/screen.h"

namespace talvo {

class ScreenOutput : public DecoderOutput {
 public:
  ScreenOutput(Screen& screen, FILE* out) : screen_(screen), out_(out) {}
  void print(const Receiver& r, int ch, const char* s) override;

 private:
  Screen& screen_;
  FILE* out_;  // standard output
};

}  // namespace talvo
