// The Morse decoder: per cluster centre, the key states of the threshold
// stage become mark and gap lengths, a tracked speed, and characters.
//
// `decode3` runs on every tick sample (not while the keyer sends). At the end
// of a character it looks the element pattern up and hands the string to the
// output: the cluster's text line (part of the receiver state) and a
// `DecoderOutput`, which the program implements with standard output and the
// window, and tests and the recording decoder without them.
#pragma once

#include "rx/receiver.h"

namespace talvo {

// What becomes of a decoded string beyond the text line.
class DecoderOutput {
 public:
  virtual ~DecoderOutput() = default;
  // String `s` was decoded on cluster centre `ch`. The text line, its cursor
  // and the speed are already updated; len[ch] is the element count of the
  // character (0 for a single-element character or a word space).
  virtual void print(const Receiver& r, int ch, const char* s) = 0;
};

// One decoder step for every cluster centre that ticked on this sample.
// `textbufwidth` is the width of the text lines (characters + 1).
void decode3(Receiver& r, int textbufwidth, DecoderOutput& out);

// The string of an element pattern of `len` elements (2 to 10), first
// element in the most significant bit, dah = 1.
const char* lookup(int len, int code);

// Writes string s into the text line of channel ch: characters from the
// cursor on, wrapping at textbufwidth - 1, the two places after the cursor
// blank.
void textline_put(Receiver& r, int ch, const char* s, int textbufwidth);

}  // namespace talvo
