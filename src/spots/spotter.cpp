#include "spots/spotter.h"

#include <cmath>

namespace talvo::spots {

std::optional<Made> Spotter::heard(const Heard& h) {
  Made m;
  m.spot.call = h.call.call;
  if (s_.dial) {
    const std::optional<Tuning> t = s_.dial->tuning();
    if (!t) return std::nullopt;
    m.spot.freq_hz = radio_hz(*t, h.tone_hz);
  } else {
    m.spot.freq_hz = radio_hz(s_.dial_khz, s_.sideband, h.tone_hz);
  }
  m.spot.snr_db = static_cast<int>(std::lround(h.snr_db));
  m.spot.wpm = h.wpm;
  m.spot.type = h.call.type;
  m.spot.utc = h.utc;
  if (!dedup_.admit(m.spot.call, m.spot.freq_hz, m.spot.utc)) return std::nullopt;
  m.line = spot_line(s_.spotter, m.spot);
  if (s_.publisher) s_.publisher->publish(m.line);
  if (s_.sink) s_.sink->spotted(h, m);
  return m;
}

}  // namespace talvo::spots
