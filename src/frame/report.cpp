#include "frame/report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <optional>
#include <unordered_map>

#include "decoder/speed.h"

namespace talvo {
namespace {

// "2026-12-08T18:54:00Z" of seconds since 1970.
std::string iso_utc(std::int64_t utc) {
  const std::time_t tt = static_cast<std::time_t>(utc);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char b[32];
  std::strftime(b, sizeof b, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return b;
}

std::string json_escape(const std::string& s) {
  std::string e;
  for (char c : s) {
    if (c == '"' || c == '\\') e.push_back('\\');
    e.push_back(c);
  }
  return e;
}

// What the engine decodes as it comes: in events format one JSON line per
// string; the calls found go to the spotter, whose spots (a call confirmed
// by enough copies, once per call and frequency in ten minutes, again while
// it still calls) become lines on standard output, go to the spot server,
// and become events with their copies and confidence. With a TextOutput,
// the text is cut into lines, printed as they end or gathered, and the
// stations heard are gathered.
class EventPrinter : public EngineSink {
 public:
  EventPrinter(const DecodeSettings& s, FILE* out, const TextOutput& t, Gathered& g)
      : s_(s),
        out_(out),
        t_(t),
        g_(g),
        spotter_(s.spots),
        lines_(s.rate, [this](const TextLine& l) { line(l); }) {}
  void event(const EngineEvent& e) override {
    const double t = static_cast<double>(e.sample) / s_.rate;
    respots(t);
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
  // The input has been decoded this far: lines whose station fell silent
  // end, and re-spots due by now go out even when no station is heard.
  void advanced(long long frames) override {
    lines_.advanced(frames);
    respots(static_cast<double>(frames) / s_.rate);
  }
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
    // Audio time: the spot's UTC is the start plus how far into the audio
    // it was heard, so that a recording decoded faster than real time keeps
    // its ten-minute windows (for a live stream this is the clock).
    h.t = t;
    made_.clear();
    spotter_.heard(h, made_);
    if (t_.summary)
      g_.stations.heard(h.call.call,
                        !made_.empty()
                            ? made_.front().spot.freq_hz
                            : spots::radio_hz(s_.spots.dial_khz, s_.spots.sideband, h.tone_hz),
                        t, h.snr_db, h.wpm, !made_.empty());
    emit(e, t);
  }

  // The re-spots due by audio time t, on their own call's cluster.
  void respots(double t) {
    made_.clear();
    spotter_.tick(t, made_);
    for (const spots::Made& m : made_) {
      EngineEvent e;
      const auto c = cluster_.find(m.spot.call);
      e.center_hz = c == cluster_.end() ? 0 : c->second;
      print(e, t, m);
    }
  }

  // Prints the spots in made_, made of what `e` heard, as events or spot lines.
  void emit(const EngineEvent& e, double t) {
    for (const spots::Made& m : made_) {
      if (cluster_.size() >= kMaxRemembered) cluster_.clear();
      cluster_[m.spot.call] = e.center_hz;
      print(e, t, m);
    }
  }

  void print(const EngineEvent& e, double t, const spots::Made& m) {
    const spots::Spot& sp = m.spot;
    if (s_.format == DecodeSettings::kEvents) {
      std::fprintf(out_,
                   "{\"t\": %.3f, \"center_hz\": %d, \"freq_khz\": %.1f, \"call\": \"%s\", "
                   "\"spot_type\": \"%s\", \"snr_db\": %d, \"wpm\": %d, \"copies\": %d, "
                   "\"known\": %s, \"confidence\": %.2f, \"utc\": \"%s\"}\n",
                   t, e.center_hz, sp.freq_hz / 1000.0, json_escape(sp.call).c_str(),
                   spots::type_name(sp.type), sp.snr_db, sp.wpm, sp.copies,
                   sp.known ? "true" : "false", sp.confidence, iso_utc(sp.utc).c_str());
      std::fflush(out_);
    } else if (s_.spots.print && s_.format == DecodeSettings::kText) {
      std::fprintf(out_, "%s\n", m.line.c_str());
      std::fflush(out_);
    }
  }

  static constexpr std::size_t kMaxRemembered = 10000;  // calls whose cluster is kept at most

  const DecodeSettings& s_;
  FILE* out_;
  const TextOutput& t_;
  Gathered& g_;
  spots::Spotter spotter_;
  OverLines lines_;
  std::vector<spots::Made> made_;                 // the spots of the event being handled
  std::unordered_map<std::string, int> cluster_;  // spotted call -> its cluster's centre, Hz
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
