// The Morse decoder: per cluster, the key states a front end delivers at
// each tick become mark and gap lengths, a tracked speed, and characters.
//
// A front end (rx/frontend.h) says, per cluster, whether the key is down at
// each of the cluster's ticks; the decoder knows nothing else of the signal.
// Each cluster has its own ClusterDecoder: the timing state, the speed, and
// the cluster's text line with its colours and role, which the display reads.
//
// Two sets of rules sit behind `Decoder::step`:
//   classic  the mark/space state machine `decode3` (decode3.cpp), tick
//            counts as the receiver has always used them;
//   fine     the timing decoder FineTiming (fine_timing.h), which weighs
//            every length against the tracked speed, for the fine front end.
// Both write the same text lines and hand their strings to a DecoderOutput.
//
// Glossary of the classic names kept here (they come from the receiver's
// first author and are kept so that its description still reads):
//   decode3      the mark/space state machine (its third version)
//   print3       the output step at the end of a character
//   mark/space   ticks of the current key-down / key-up run
//   dit          the dot/dash threshold, ticks (two Morse units)
//   pausemean    the gap between elements, ticks (one Morse unit)
//   freqmod      12 x ticks per second: freqmod / dit is characters per minute
//   decchannel   the cluster's role: shown, or shown and selected
//   hilfbuffer   "helper buffer": scratch text of the output step
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "decoder/fine_timing.h"

namespace talvo {

// A cluster's role on the screen and on standard output.
enum Role : int {
  kSelected = 1,  // shown, its text also on standard output and echoed above the waterfall
  kShown = 2,     // decoded and shown
};

// Text-line colours, 0xRRGGBB.
inline constexpr int kColourTracking = 0xFFFFFF;     // white: speed tracking on
inline constexpr int kColourFixedSpeed = 0xFFFF00;   // yellow: speed tracking off
inline constexpr int kColourSpeedFigure = 0x0080FF;  // the speed figure

inline constexpr int kTextRow = 512;  // chars in a text row, its NUL included

// One cluster's decoder: timing, speed, and the text line.
struct ClusterDecoder {
  // --- classic timing --------------------------------------------------------
  int mark = 0;         // ticks of the current mark, saturates at 500
  int space = 0;        // ticks of the current gap, saturates at 300; 301: word space given
  int markmin = 10000;  // shortest mark of the last long character, ticks
  int markmax = 0;      // longest mark of the last long character, ticks
  std::array<int, 10> marklist{};  // mark lengths of the character being received, ticks
  int dit = 80;                    // dot/dash threshold, ticks (two Morse units)
  int code = 0;                    // element pattern, first element most significant, dah = 1
  int len = 0;                     // element count of the character being output
  int sync_on = 1;                 // 1: speed tracking on
  int symbolstate = 0;             // state of the mark/space machine, 0 .. 4
  int symbolindex = 0;             // marks stored in marklist, 0 .. 10
  int pausemean = 200;             // gap between elements, ticks (one Morse unit)
  int etcount = 0;                 // single-element characters in a row
  double pausefactor = 1.7;        // end-of-character gap / pausemean
  int speed = 100;                 // speed estimate, characters per minute
  int freqmod = 0;                 // 12 x ticks per second: freqmod / dit is characters per minute
  int gaplen = 0;                  // ticks since the end of the last mark
  int cgap = 300;                  // estimate of the gap between characters, ticks

  // --- fine timing (none with the classic rules) -------------------------------
  std::unique_ptr<FineTiming> fine;

  // --- text line ---------------------------------------------------------------
  std::array<char, kTextRow> textbuffer{};  // the text row, NUL-terminated
  int textbufindex = 0;                     // cursor in the text row
  int textcolor = kColourTracking;          // 0xRRGGBB of the text line
  int textspeedcolor = kColourSpeedFigure;  // 0xRRGGBB of the speed figure
  int decchannel = kShown;                  // the cluster's Role
  // Ticks since the string being printed was decoded: 0, except for the
  // strings the fine rules held back until the cluster was judged Morse.
  long age = 0;
};

class Decoder;

// What becomes of a decoded string beyond the text line.
class DecoderOutput {
 public:
  virtual ~DecoderOutput() = default;
  // String `s` was decoded on cluster q. The text line, its cursor and the
  // speed are already updated; d.len is the element count of the character
  // (0 for a single-element character or a word space), and d.age the ticks
  // since it was decoded (its characters were keyed that much earlier than
  // this tick).
  virtual void print(const ClusterDecoder& d, int q, const char* s) = 0;
};

enum class Rules { kClassic, kFine };

// Every cluster's decoder.
class Decoder {
 public:
  // `ticks_per_second` per cluster (the decoder's time base); text rows of
  // `textbufwidth` - 1 characters (at most kTextRow - 3).
  Decoder(Rules rules, const std::vector<int>& ticks_per_second, int textbufwidth);

  Rules rules() const { return rules_; }
  int clusters() const { return static_cast<int>(cl_.size()); }
  int textbufwidth() const { return textbufwidth_; }
  ClusterDecoder& operator[](int q) { return cl_[static_cast<std::size_t>(q)]; }
  const ClusterDecoder& operator[](int q) const { return cl_[static_cast<std::size_t>(q)]; }

  // One tick of cluster q with its key state.
  void step(int q, bool down, DecoderOutput& out);
  // The input has ended: close what the rules hold back (the fine rules
  // close the character in progress; the classic ones end a character only
  // on silence, which the caller feeds them).
  void flush(DecoderOutput& out);
  // Speed in characters per minute as shown beside the text line.
  int cpm(int q) const;

 private:
  Rules rules_;
  int textbufwidth_;
  std::vector<ClusterDecoder> cl_;
};

// The classic rules: one decoder step of a cluster on its tick.
void decode3(ClusterDecoder& d, int q, bool down, int textbufwidth, DecoderOutput& out);

// The string of an element pattern of `len` elements (2 to 10), first
// element in the most significant bit, dah = 1.
const char* lookup(int len, int code);

// Writes string s into a text line: characters from the cursor on, wrapping
// at textbufwidth - 1, the two places after the cursor blank.
void textline_put(ClusterDecoder& d, const char* s, int textbufwidth);

}  // namespace talvo
