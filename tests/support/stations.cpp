#include "support/stations.h"

#include <algorithm>

#include "support/morse.h"

namespace talvo::test {
namespace {

MorseSignal keying(const Station& s) {
  MorseSignal m;
  m.text = s.text;
  m.freq = s.hz;
  m.cpm = 5 * s.wpm;
  m.start = s.start;
  return m;
}

}  // namespace

std::vector<KeyedTone> station_tones(const std::vector<Station>& st, double amp,
                                     double phase_step) {
  std::vector<KeyedTone> tones;
  for (std::size_t i = 0; i < st.size(); i++) {
    MorseSignal m = keying(st[i]);
    m.amp = amp;
    Keyed k = morse(m);
    k.tone.phase = phase_step * static_cast<double>(i);
    tones.push_back(k.tone);
  }
  return tones;
}

double stations_end(const std::vector<Station>& st) {
  double end = 0;
  for (const auto& s : st)
    end = std::max(end, morse(keying(s)).end);
  return end;
}

}  // namespace talvo::test
