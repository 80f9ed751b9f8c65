#include "frame/stations.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "frame/lines.h"

namespace talvo {

void StationLog::heard(const std::string& call, double freq_hz, double t, double snr_db, int wpm,
                       bool spotted) {
  StationHeard& s = calls_[call];
  if (s.heard == 0) {
    s.call = call;
    s.first_t = t;
  }
  s.heard++;
  s.freq_hz = freq_hz;
  s.last_t = t;
  s.snr_db = std::max(s.snr_db, snr_db);
  s.wpm = wpm;
  if (spotted) s.spots++;
}

std::string StationLog::format(bool audio) const {
  std::vector<StationHeard> v;
  for (const auto& [call, s] : calls_)
    v.push_back(s);
  std::stable_sort(v.begin(), v.end(), [](const StationHeard& a, const StationHeard& b) {
    return a.freq_hz < b.freq_hz;
  });
  std::string o = "stations heard: " + std::to_string(v.size()) + "\n";
  char b[200];
  for (const auto& s : v) {
    char freq[40];
    if (audio)
      std::snprintf(freq, sizeof freq, "%7.0f Hz", s.freq_hz);
    else
      std::snprintf(freq, sizeof freq, "%10.1f kHz", s.freq_hz / 1000);
    const std::string first = clock_time(s.first_t), last = clock_time(s.last_t);
    std::snprintf(b, sizeof b, "  %-12s %s  %s-%s  %3d heard %3d spots  %3.0f dB %3d wpm\n",
                  s.call.c_str(), freq, first.substr(1, first.size() - 2).c_str(),
                  last.substr(1, last.size() - 2).c_str(), s.heard, s.spots, s.snr_db, s.wpm);
    o += b;
  }
  return o;
}

}  // namespace talvo
