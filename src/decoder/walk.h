// The walk of a block: samples through a front end, key states and decoder.
//
// Both programs and the tests run their audio through `walk_block`: the
// front end runs over the block, then the block is walked in sample order,
// and on every sample on which anything ticked, the clusters that ticked
// hand their key states to the decoder, lowest cluster first. A program
// hooks its own steps in at their places (WalkSteps): on every sample (the
// transmit tone, the key line), on tick samples before the key states
// settle (the keyer, the waterfall) and after the decoder (the operator's
// controls).
#pragma once

#include "decoder/decoder.h"
#include "rx/frontend.h"

namespace talvo {

class WalkSteps {
 public:
  virtual ~WalkSteps() = default;
  // Whether `sample` is wanted on every sample; without it the walk goes
  // from one tick sample to the next.
  virtual bool every_sample() const { return false; }
  // Sample k of the block; `tick`: something ticked on it (every sample
  // when every_sample(), else tick samples only).
  virtual void sample(int /*k*/, bool /*tick*/) {}
  // A tick sample, before the key states settle. Returns whether the
  // decoder runs on this sample (it pauses while the keyer sends).
  virtual bool before_keys(int /*k*/) { return true; }
  // A tick sample, after the decoder.
  virtual void after_decode(int /*k*/) {}
};

// Runs in[0 .. n-1] (n <= kBlock, scaled by the input gain) through the
// front end and the decoder.
void walk_block(FrontEnd& fe, Decoder& dec, const double* in, int n, DecoderOutput& out,
                WalkSteps& steps);
void walk_block(FrontEnd& fe, Decoder& dec, const double* in, int n, DecoderOutput& out);

// A decoder for every cluster of the front end, on its time base.
Decoder decoder_for(const FrontEnd& fe, Rules rules, int textbufwidth);

}  // namespace talvo
