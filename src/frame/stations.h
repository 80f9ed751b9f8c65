// The stations a decoding run heard (--summary): every call picked out of
// the text, with where and when it was heard, how often it was spotted, and
// its signal, printed at the end sorted by frequency.
#pragma once

#include <map>
#include <string>

#include "spots/spot.h"

namespace talvo {

struct StationHeard {
  std::string call;
  double freq_hz = 0;    // radio frequency (dial and sideband applied), Hz
  double first_t = 0;    // seconds of audio when it was first heard
  double last_t = 0;     // ... and last heard
  int heard = 0;         // times its call was decoded
  int spots = 0;         // spots that went out for it
  double snr_db = -999;  // the best signal-to-noise ratio it was heard at, dB
  int wpm = 0;           // its speed when last heard, words per minute
};

class StationLog {
 public:
  // A call heard at `t` seconds on radio frequency `freq_hz`; `spotted`
  // when a spot went out for it.
  void heard(const std::string& call, double freq_hz, double t, double snr_db, int wpm,
             bool spotted);
  // "stations heard: N" and a line per station, lowest frequency first:
  // call, frequency (kHz, or audio Hz with `audio`), first and last time,
  // spots, SNR and speed.
  std::string format(bool audio) const;
  bool empty() const { return calls_.empty(); }

 private:
  std::map<std::string, StationHeard> calls_;  // by call
};

}  // namespace talvo
