#include "frame/report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <optional>

#include "decoder/speed.h"

namespace talvo {
namespace {

std::string json_escape(const std::string& s) {
  std::string e;
  for (char c : s) {
    if (c == '"' || c == '\\') e.push_back('\\');
    e.push_back(c);
  }
  return e;
}

// What the engine decodes as it comes: in events format one JSON line per
// string; the calls found become spots (once per call and frequency in ten
// minutes), as lines on standard output, to the spot server, and as events.
// With a TextOutput, the text is cut into lines, printed as they end or
// gathered, and the stations heard are gathered.
class EventPrinter : public EngineSink {
 public:
  EventPrinter(const DecodeSettings& s, FILE* out, const TextOutput& t, Gathered& g)
      : s_(s),
        out_(out),
        t_(t),
        g_(g),
        start_utc_(static_cast<std::int64_t>(std::time(nullptr))),
        spotter_(s.spots),
        lines_(s.rate, [this](const TextLine& l) { line(l); }) {}
  void event(const EngineEvent& e) override {
    const double t = static_cast<double>(e.sample) / s_.rate;
    if (e.is_call) {
      spot(e, t);
      return;
    }
    if (t_.stream || t_.timestamps) lines_.text(e);
    if (s_.format != DecodeSettings::kEvents) return;
    if (s_.receiver == ReceiverKind::kClassic) {
      std::fprintf(out_, "{\"t\": %.3f, \"center_hz\": %d, \"cpm\": %d, \"text\": \"%s\"}\n", t,
                   e.center_hz, e.cpm, json_escape(e.text).c_str());
    } else {
      std::fprintf(out_,
                   "{\"t\": %.3f, \"center_hz\": %d, \"cpm\": %d, \"wpm\": %d, \"snr_db\": %.0f, "
                   "\"text\": \"%s\"}\n",
                   t, e.center_hz, e.cpm, e.wpm, e.snr_db, json_escape(e.text).c_str());
    }
    std::fflush(out_);
  }
  void advanced(long long frames) override { lines_.advanced(frames); }
  // The input ended: the open lines end.
  void finish() { lines_.finish(); }

 private:
  void line(const TextLine& l) {
    if (!t_.stream) {
      g_.lines.push_back(l);
      return;
    }
    // A station keyed into a neighbouring cluster too shows where its tone
    // lies: within 25 Hz of the cluster's centre.
    if (s_.receiver == ReceiverKind::kFine && l.tone_hz > 0 &&
        std::fabs(l.tone_hz - l.center_hz) > 25)
      return;
    std::fputs(format_line(l, s_).c_str(), out_);
    std::fflush(out_);
  }

  void spot(const EngineEvent& e, double t) {
    spots::Heard h;
    h.call = e.call;
    h.tone_hz = e.tone_hz;
    h.snr_db = e.snr_db;
    h.wpm = e.wpm;
    // The time of the audio: the start plus how far into it the call was
    // heard, so that a recording decoded faster than real time keeps its
    // ten-minute windows (for a live stream this is the clock).
    h.utc = start_utc_ + static_cast<std::int64_t>(t);
    const std::optional<spots::Made> made = spotter_.heard(h);
    if (t_.summary)
      g_.stations.heard(h.call.call,
                        made ? made->spot.freq_hz
                             : spots::radio_hz(s_.spots.dial_khz, s_.spots.sideband, h.tone_hz),
                        t, h.snr_db, h.wpm, made.has_value());
    if (!made) return;
    const spots::Spot& sp = made->spot;
    const std::string& line = made->line;
    if (s_.format == DecodeSettings::kEvents) {
      std::fprintf(out_,
                   "{\"t\": %.3f, \"center_hz\": %d, \"freq_khz\": %.1f, \"call\": \"%s\", "
                   "\"spot_type\": \"%s\", \"snr_db\": %d, \"wpm\": %d}\n",
                   t, e.center_hz, sp.freq_hz / 1000.0, json_escape(sp.call).c_str(),
                   spots::type_name(sp.type), sp.snr_db, sp.wpm);
      std::fflush(out_);
    } else if (s_.spots.print && s_.format == DecodeSettings::kText) {
      std::fprintf(out_, "%s\n", line.c_str());
      std::fflush(out_);
    }
  }

  const DecodeSettings& s_;
  FILE* out_;
  const TextOutput& t_;
  Gathered& g_;
  std::int64_t start_utc_;  // when decoding began, seconds since 1970 UTC
  spots::Spotter spotter_;
  OverLines lines_;
};

template <typename Source>
std::vector<ClusterResult> decode(Source& src, const DecodeSettings& s, FILE* out,
                                  const TextOutput& t, Gathered& g) {
  EventPrinter printer(s, out, t, g);
  std::vector<ClusterResult> r = run_decode(src, s, printer);
  printer.finish();
  return r;
}

// The clusters the summary shows: a station in two neighbouring clusters
// once (fine), and only those that decoded something.
std::vector<ClusterResult> shown(const std::vector<ClusterResult>& all, const DecodeSettings& s) {
  std::vector<ClusterResult> res = all;
  if (s.receiver == ReceiverKind::kFine) drop_neighbour_copies(res);
  std::erase_if(res, [](const ClusterResult& c) { return c.text.empty(); });
  return res;
}

}  // namespace

std::vector<ClusterResult> decode_recording(AudioSource& src, const DecodeSettings& s, FILE* out) {
  Gathered g;
  return decode(src, s, out, {}, g);
}

std::vector<ClusterResult> decode_iq(IqSource& src, const DecodeSettings& s, FILE* out) {
  Gathered g;
  return decode(src, s, out, {}, g);
}

std::vector<ClusterResult> decode_recording(AudioSource& src, const DecodeSettings& s, FILE* out,
                                            const TextOutput& t, Gathered& g) {
  return decode(src, s, out, t, g);
}

std::vector<ClusterResult> decode_iq(IqSource& src, const DecodeSettings& s, FILE* out,
                                     const TextOutput& t, Gathered& g) {
  return decode(src, s, out, t, g);
}

std::string format_line(const TextLine& l, const DecodeSettings& s) {
  char buf[80];
  if (s.receiver == ReceiverKind::kFine)
    std::snprintf(buf, sizeof buf, "%6d Hz %3d wpm %3.0f dB  ", l.center_hz, l.wpm, l.snr_db);
  else
    std::snprintf(buf, sizeof buf, "%5d Hz %4d cpm  ", l.center_hz, l.cpm);
  return clock_time(l.t) + " " + buf + l.text + "\n";
}

std::string format_lines(const std::vector<TextLine>& lines, const std::vector<ClusterResult>& r,
                         const DecodeSettings& s) {
  std::string o;
  for (const ClusterResult& c : shown(r, s))
    for (const TextLine& l : lines)
      if (l.center_hz == c.center_hz) o += format_line(l, s);
  return o;
}

std::string format_results(const std::vector<ClusterResult>& all, const DecodeSettings& s,
                           bool timestamps) {
  std::string o;
  char buf[200];
  const bool fine = s.receiver == ReceiverKind::kFine;
  const std::vector<ClusterResult> res = fine ? shown(all, s) : all;
  if (s.format == DecodeSettings::kJson) {
    o = "{\"clusters\": [";
    for (std::size_t i = 0; i < res.size(); i++) {
      if (fine)
        std::snprintf(
            buf, sizeof buf,
            "%s{\"center_hz\": %d, \"cpm\": %d, \"wpm\": %d, \"snr_db\": %.0f, \"text\": \"",
            i ? ", " : "", res[i].center_hz, res[i].cpm, res[i].wpm, res[i].snr_db);
      else
        std::snprintf(buf, sizeof buf,
                      "%s{\"center_hz\": %d, \"cpm\": %d, \"wpm\": %d, \"text\": \"", i ? ", " : "",
                      res[i].center_hz, res[i].cpm,
                      words_per_minute(res[i].cpm, WpmRounding::kDown));
      o += buf + json_escape(res[i].text) + "\"}";
    }
    return o + "]}\n";
  }
  for (const auto& c : res) {
    if (c.text.empty()) continue;
    if (timestamps) o += clock_time(c.first_t) + " ";
    if (fine)
      std::snprintf(buf, sizeof buf, "%6d Hz %3d wpm %3.0f dB  ", c.center_hz, c.wpm, c.snr_db);
    else
      std::snprintf(buf, sizeof buf, "%5d Hz %4d cpm  ", c.center_hz, c.cpm);
    o += buf + c.text + "\n";
  }
  return o;
}

}  // namespace talvo
