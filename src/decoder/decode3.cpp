// Mark/space timing and speed tracking.
//
// Each cluster centre runs a small state machine on its key states, one
// step per tick (about f ticks a second):
//   0  between characters        1  first mark of a character
//   2  gap after the first mark  3  a further mark     4  gap after it
// A mark longer than `dit` (nominally two units) is a dah. A character ends
// when its gap reaches the end-of-character length, pausemean x pausefactor
// (pausemean is nominally one unit); a word space is given once per gap.
// The speed estimate follows the marks and gaps of what is received (rules
// A to E below) while speed tracking (sync_on) is on.
//
// Word spaces: the gap count saturates at 300 ticks, which is 0.43 s at
// 700 Hz, while a word gap of seven units lasts 0.42 s at 20 words per minute:
// from there on words would run together. So besides the fixed 300 ticks, a
// word space is also given when the gap since the last mark (gaplen) reaches
// W = min(300, max(5 pausemean, 5 cgap / 3)), with cgap a running estimate of
// the gap between characters. With standard timing W settles near five
// units; with Farnsworth spacing (long gaps between characters) it stays at
// 300.
#include "decoder/decoder.h"

namespace talvo {
namespace {

constexpr int kMarkMax = 500;        // ticks: a mark saturates here
constexpr int kSpaceMax = 300;       // ticks: a gap saturates here; the word space
constexpr int kWordGiven = 301;      // space value once this gap gave its word space
constexpr int kGaplenMax = 1 << 20;  // gaplen saturates far above any word gap

// The end-of-character gap. The product is formed in 80-bit extended
// precision and truncated without rounding to double first, as the receiver
// has always done: the double 1.7 lies a hair below 1.7, so pausemean 200
// gives 339 and 40 gives 67.
int end_of_character(const Receiver& r, int ch) {
  return static_cast<int>(static_cast<long double>(r.pausemean[ch]) *
                          static_cast<long double>(r.pausefactor[ch]));
}

void print3(Receiver& r, int ch, const char* s, int textbufwidth, DecoderOutput& out) {
  // Rule E: a run of five single-element characters (word spaces do not
  // break it) means the speed estimate has lost the signal: start again
  // from 100 characters per minute.
  if (r.len[ch] <= 1) {
    if (r.etcount[ch] > 4) {
      if (r.sync_on[ch] == 1) {
        r.speed[ch] = 100;
        r.dit[ch] = r.freqmod[ch] / 100;
        r.pausemean[ch] = r.freqmod[ch] / 200;
      }
      r.etcount[ch] = 0;
    }
  } else {
    r.etcount[ch] = 0;
  }
  textline_put(r, ch, s, textbufwidth);
  out.print(r, ch, s);
  r.code[ch] = 0;
  r.len[ch] = 0;
  r.symbolstate[ch] = 0;
  r.symbolindex[ch] = 0;
  r.mark[ch] = 0;
}

// A character of two or more elements ended.
void decode_character(Receiver& r, int ch, int textbufwidth, DecoderOutput& out) {
  const int len = r.symbolindex[ch];
  r.len[ch] = len;
  const int* marks = r.marklist[ch].data();
  if (len > 1) {
    r.markmin[ch] = 65535;
    r.markmax[ch] = 0;
    for (int i = 0; i < len; i++) {
      if (marks[i] < r.markmin[ch]) r.markmin[ch] = marks[i];
      if (marks[i] > r.markmax[ch]) r.markmax[ch] = marks[i];
    }
  }
  // Rule D: a character of three or more elements with both dits and dahs
  // (the longest more than twice and less than five times the shortest)
  // gives the dah length, and from it the speed.
  if (r.sync_on[ch] == 1 && len > 2 && 2 * r.markmin[ch] < r.markmax[ch] && r.markmax[ch] > 40 &&
      r.markmax[ch] < 5 * r.markmin[ch]) {
    r.dit[ch] = (2 * r.markmax[ch]) / 3;
    r.speed[ch] = r.freqmod[ch] / r.dit[ch];
    r.pausemean[ch] = r.dit[ch] / 2;
  }
  int code = 0;
  for (int i = 0; i < len; i++)
    code = 2 * code + (marks[i] > r.dit[ch] ? 1 : 0);
  r.code[ch] = code;
  print3(r, ch, lookup(len, code), textbufwidth, out);
}

// A character of one element ended.
void decode_single(Receiver& r, int ch, int textbufwidth, DecoderOutput& out) {
  r.etcount[ch]++;
  const int first = r.marklist[ch][0];
  const char* s = first < r.dit[ch] ? "e" : "t";
  // Rule B: a very short lone mark means the gaps were judged too short.
  if (r.sync_on[ch] == 1 && first < r.dit[ch] / 2) r.pausemean[ch] = (3 * r.pausemean[ch]) / 2;
  r.space[ch] = 0;
  print3(r, ch, s, textbufwidth, out);
}

void key_down(Receiver& r, int ch) {
  switch (r.symbolstate[ch]) {
    case 0:
      // A gap that gave no word space was a gap between characters.
      if (r.space[ch] != kWordGiven) r.cgap[ch] = (r.cgap[ch] + r.gaplen[ch]) / 2;
      r.symbolstate[ch] = 1;
      r.mark[ch] = 1;
      r.symbolindex[ch] = 0;
      break;
    case 2:
      r.symbolstate[ch] = 3;
      r.mark[ch] = 1;
      break;
    case 4:
      // Rule C: the gap inside a character is one unit.
      if (r.sync_on[ch] == 1) r.pausemean[ch] = (r.pausemean[ch] + r.space[ch]) / 2;
      r.symbolstate[ch] = 3;
      r.mark[ch] = 1;
      break;
    default:  // 1, 3: the mark goes on
      if (r.mark[ch] < kMarkMax) r.mark[ch]++;
      break;
  }
}

void key_up(Receiver& r, int ch, int textbufwidth, DecoderOutput& out) {
  switch (r.symbolstate[ch]) {
    case 1:
      r.marklist[ch][0] = r.mark[ch];
      // Rule A: a first mark far longer than a dah means a slower sender.
      if (r.sync_on[ch] == 1 && r.mark[ch] > 3 * r.dit[ch]) {
        r.dit[ch] = 2 * r.dit[ch];
        r.pausemean[ch] = 2 * r.pausemean[ch];
      }
      if (r.symbolindex[ch] < 10) r.symbolindex[ch]++;
      r.symbolstate[ch] = 2;
      r.space[ch] = 1;
      r.gaplen[ch] = 1;
      break;
    case 3:
      // The list holds ten marks; further ones are not stored.
      if (r.symbolindex[ch] < 10) r.marklist[ch][r.symbolindex[ch]++] = r.mark[ch];
      r.symbolstate[ch] = 4;
      r.space[ch] = 1;
      r.gaplen[ch] = 1;
      break;
    default: {  // 0, 2, 4: the gap goes on
      if (r.space[ch] < kSpaceMax) r.space[ch]++;
      if (r.gaplen[ch] < kGaplenMax) r.gaplen[ch]++;
      const int state = r.symbolstate[ch];
      if (state == 0) {
        int w =
            5 * r.pausemean[ch] > (5 * r.cgap[ch]) / 3 ? 5 * r.pausemean[ch] : (5 * r.cgap[ch]) / 3;
        if (w > kSpaceMax) w = kSpaceMax;
        if (r.space[ch] == kSpaceMax || (r.space[ch] != kWordGiven && r.gaplen[ch] >= w)) {
          r.space[ch] = kWordGiven;
          print3(r, ch, " ", textbufwidth, out);
        }
      } else if (r.space[ch] == end_of_character(r, ch)) {
        if (state == 2)
          decode_single(r, ch, textbufwidth, out);
        else
          decode_character(r, ch, textbufwidth, out);
      }
      break;
    }
  }
}

}  // namespace

void decode3(Receiver& r, int textbufwidth, DecoderOutput& out) {
  for (int ch = -kLastCentre; ch <= kLastCentre; ch += 5) {
    if (r.newdata[ch] == 0) continue;
    if (r.valuethr[ch] != 0.0)
      key_down(r, ch);
    else
      key_up(r, ch, textbufwidth, out);
  }
}

void textline_put(Receiver& r, int ch, const char* s, int textbufwidth) {
  char* row = r.textbuffer[ch].data();
  int i = r.textbufindex[ch];
  for (; *s; s++) {
    row[i] = *s;
    i++;
    if (i >= textbufwidth - 1) {
      row[i + 1] = ' ';
      row[i + 2] = ' ';
      i = 0;
    }
  }
  r.textbufindex[ch] = i;
  // The two places after the cursor separate the new text from the old.
  row[i + 1] = ' ';
  row[i + 2] = ' ';
}

}  // namespace talvo
