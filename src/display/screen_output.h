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
  void print(const ClusterDecoder& d, int q, const char* s) override;

 private:
  Screen& screen_;
  FILE* out_;  // standard output
};

// Redraws cluster q's text line in its colour (after the colour changed).
void redraw_text_line(Screen& screen, const ClusterDecoder& d, int q);

// Redraws cluster q's speed figure with `cpm`.
void redraw_speed_figure(Screen& screen, const ClusterDecoder& d, int q, int cpm);

}  // namespace talvo
