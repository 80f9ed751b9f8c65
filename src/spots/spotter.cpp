// The spotter: calls heard, judged, published; see spotter.h.
#include "spots/spotter.h"

#include <cmath>

namespace talvo::spots {

int Spotter::heard(const Heard& h, std::vector<Made>& out) {
  made_.clear();
  double hz = 0;
  if (s_.dial) {
    const std::optional<Tuning> t = s_.dial->tuning();
    if (!t) return 0;
    hz = radio_hz(*t, h.tone_hz);
  } else {
    hz = radio_hz(s_.dial_khz, s_.sideband, h.tone_hz);
  }
  audio_hz_[h.call.call] = h.tone_hz;
  judge_.hear(h.call, hz, h.snr_db, h.wpm, h.t, made_);
  return emit(out);
}

int Spotter::tick(double t, std::vector<Made>& out) {
  made_.clear();
  judge_.tick(t, made_);
  return emit(out);
}

int Spotter::emit(std::vector<Made>& out) {
  for (Spot& sp : made_) {
    Made m;
    m.spot = std::move(sp);
    const auto tone = audio_hz_.find(m.spot.call);
    if (tone != audio_hz_.end()) m.spot.audio_hz = tone->second;
    m.line = spot_line(s_.spotter, m.spot);
    if (s_.publisher) s_.publisher->publish_spot(m.line, m.spot);
    if (s_.sink) s_.sink->spotted(m);
    out.push_back(std::move(m));
  }
  return static_cast<int>(made_.size());
}

}  // namespace talvo::spots
