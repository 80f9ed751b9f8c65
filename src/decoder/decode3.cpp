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
int end_of_character(const ClusterDecoder& d) {
  return static_cast<int>(static_cast<long double>(d.pausemean) *
                          static_cast<long double>(d.pausefactor));
}

void print3(ClusterDecoder& d, int q, const char* s, int textbufwidth, DecoderOutput& out) {
  // Rule E: a run of five single-element characters (word spaces do not
  // break it) means the speed estimate has lost the signal: start again
  // from 100 characters per minute.
  if (d.len <= 1) {
    if (d.etcount > 4) {
      if (d.sync_on == 1) {
        d.speed = 100;
        d.dit = d.freqmod / 100;
        d.pausemean = d.freqmod / 200;
      }
      d.etcount = 0;
    }
  } else {
    d.etcount = 0;
  }
  textline_put(d, s, textbufwidth);
  out.print(d, q, s);
  d.code = 0;
  d.len = 0;
  d.symbolstate = 0;
  d.symbolindex = 0;
  d.mark = 0;
}

// A character of two or more elements ended.
void decode_character(ClusterDecoder& d, int q, int textbufwidth, DecoderOutput& out) {
  const int len = d.symbolindex;
  d.len = len;
  const int* marks = d.marklist.data();
  if (len > 1) {
    d.markmin = 65535;
    d.markmax = 0;
    for (int i = 0; i < len; i++) {
      if (marks[i] < d.markmin) d.markmin = marks[i];
      if (marks[i] > d.markmax) d.markmax = marks[i];
    }
  }
  // Rule D: a character of three or more elements with both dits and dahs
  // (the longest more than twice and less than five times the shortest)
  // gives the dah length, and from it the speed.
  if (d.sync_on == 1 && len > 2 && 2 * d.markmin < d.markmax && d.markmax > 40 &&
      d.markmax < 5 * d.markmin) {
    d.dit = (2 * d.markmax) / 3;
    d.speed = d.freqmod / d.dit;
    d.pausemean = d.dit / 2;
  }
  int code = 0;
  for (int i = 0; i < len; i++)
    code = 2 * code + (marks[i] > d.dit ? 1 : 0);
  d.code = code;
  print3(d, q, lookup(len, code), textbufwidth, out);
}

// A character of one element ended.
void decode_single(ClusterDecoder& d, int q, int textbufwidth, DecoderOutput& out) {
  d.etcount++;
  const int first = d.marklist[0];
  const char* s = first < d.dit ? "e" : "t";
  // Rule B: a very short lone mark means the gaps were judged too short.
  if (d.sync_on == 1 && first < d.dit / 2) d.pausemean = (3 * d.pausemean) / 2;
  d.space = 0;
  print3(d, q, s, textbufwidth, out);
}

void key_down(ClusterDecoder& d) {
  switch (d.symbolstate) {
    case 0:
      // A gap that gave no word space was a gap between characters.
      if (d.space != kWordGiven) d.cgap = (d.cgap + d.gaplen) / 2;
      d.symbolstate = 1;
      d.mark = 1;
      d.symbolindex = 0;
      break;
    case 2:
      d.symbolstate = 3;
      d.mark = 1;
      break;
    case 4:
      // Rule C: the gap inside a character is one unit.
      if (d.sync_on == 1) d.pausemean = (d.pausemean + d.space) / 2;
      d.symbolstate = 3;
      d.mark = 1;
      break;
    default:  // 1, 3: the mark goes on
      if (d.mark < kMarkMax) d.mark++;
      break;
  }
}

void key_up(ClusterDecoder& d, int q, int textbufwidth, DecoderOutput& out) {
  switch (d.symbolstate) {
    case 1:
      d.marklist[0] = d.mark;
      // Rule A: a first mark far longer than a dah means a slower sender.
      if (d.sync_on == 1 && d.mark > 3 * d.dit) {
        d.dit = 2 * d.dit;
        d.pausemean = 2 * d.pausemean;
      }
      if (d.symbolindex < 10) d.symbolindex++;
      d.symbolstate = 2;
      d.space = 1;
      d.gaplen = 1;
      break;
    case 3:
      // The list holds ten marks; further ones are not stored.
      if (d.symbolindex < 10) d.marklist[d.symbolindex++] = d.mark;
      d.symbolstate = 4;
      d.space = 1;
      d.gaplen = 1;
      break;
    default: {  // 0, 2, 4: the gap goes on
      if (d.space < kSpaceMax) d.space++;
      if (d.gaplen < kGaplenMax) d.gaplen++;
      const int state = d.symbolstate;
      if (state == 0) {
        int w = 5 * d.pausemean > (5 * d.cgap) / 3 ? 5 * d.pausemean : (5 * d.cgap) / 3;
        if (w > kSpaceMax) w = kSpaceMax;
        if (d.space == kSpaceMax || (d.space != kWordGiven && d.gaplen >= w)) {
          d.space = kWordGiven;
          print3(d, q, " ", textbufwidth, out);
        }
      } else if (d.space == end_of_character(d)) {
        if (state == 2)
          decode_single(d, q, textbufwidth, out);
        else
          decode_character(d, q, textbufwidth, out);
      }
      break;
    }
  }
}

}  // namespace

void decode3(ClusterDecoder& d, int q, bool down, int textbufwidth, DecoderOutput& out) {
  if (down)
    key_down(d);
  else
    key_up(d, q, textbufwidth, out);
}

void textline_put(ClusterDecoder& d, const char* s, int textbufwidth) {
  char* row = d.textbuffer.data();
  int i = d.textbufindex;
  for (; *s; s++) {
    row[i] = *s;
    i++;
    if (i >= textbufwidth - 1) {
      row[i + 1] = ' ';
      row[i + 2] = ' ';
      i = 0;
    }
  }
  d.textbufindex = i;
  // The two places after the cursor separate the new text from the old.
  row[i + 1] = ' ';
  row[i + 2] = ' ';
}

namespace {

// The fine rules' strings into the text line and on to the output, with
// the tracked speed.
class FineSink : public TimingSink {
 public:
  FineSink(ClusterDecoder& d, int q, int textbufwidth, DecoderOutput& out)
      : d_(d), q_(q), textbufwidth_(textbufwidth), out_(out) {}
  void put(const char* s, long age) override {
    d_.speed = d_.fine->cpm();
    d_.len = 0;
    d_.age = age;
    textline_put(d_, s, textbufwidth_);
    out_.print(d_, q_, s);
    d_.age = 0;
  }

 private:
  ClusterDecoder& d_;
  int q_;
  int textbufwidth_;
  DecoderOutput& out_;
};

}  // namespace

Decoder::Decoder(Rules rules, const std::vector<int>& ticks_per_second, int textbufwidth)
    : rules_(rules), textbufwidth_(textbufwidth), cl_(ticks_per_second.size()) {
  for (std::size_t q = 0; q < cl_.size(); q++) {
    cl_[q].freqmod = 12 * ticks_per_second[q];
    if (rules == Rules::kFine) {
      FineTimingConfig c;
      c.tick_rate = ticks_per_second[q];
      // Four characters in a row at one unit before a cluster's text goes
      // out: what speech, crashes and FSK key on a cluster is not Morse.
      c.morse_chars = 4;
      cl_[q].fine = std::make_unique<FineTiming>(c);
      cl_[q].speed = cl_[q].fine->cpm();
    }
  }
}

void Decoder::step(int q, bool down, DecoderOutput& out) {
  ClusterDecoder& d = cl_[static_cast<std::size_t>(q)];
  if (d.fine) {
    FineSink sink(d, q, textbufwidth_, out);
    d.fine->step(down, sink);
  } else {
    decode3(d, q, down, textbufwidth_, out);
  }
}

void Decoder::flush(DecoderOutput& out) {
  for (std::size_t q = 0; q < cl_.size(); q++) {
    ClusterDecoder& d = cl_[q];
    if (!d.fine) continue;
    FineSink sink(d, static_cast<int>(q), textbufwidth_, out);
    d.fine->flush(sink);
    d.speed = d.fine->cpm();
  }
}

int Decoder::cpm(int q) const {
  const ClusterDecoder& d = cl_[static_cast<std::size_t>(q)];
  return d.fine ? d.fine->cpm() : d.speed;
}

}  // namespace talvo
