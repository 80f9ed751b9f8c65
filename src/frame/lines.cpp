#include "frame/lines.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace talvo {
namespace {

std::string trimmed(const std::string& s) {
  const std::size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// True when the text ends with a whole word that hands the frequency over,
// followed by the word space that completes it.
bool over_ends(const std::string& raw) {
  if (raw.empty() || raw.back() != ' ') return false;
  const std::size_t e = raw.find_last_not_of(' ');
  if (e == std::string::npos) return false;
  const std::size_t space = raw.find_last_of(' ', e);
  const std::size_t b = space == std::string::npos ? 0 : space + 1;
  const std::string word = raw.substr(b, e - b + 1);
  // "bk" hands over too, unless it opens the over ("bk ur 599 ...").
  const bool first = raw.find_first_not_of(' ') == b;
  return word == "k" || word == "kn" || word == "sk" || (word == "bk" && !first);
}

}  // namespace

std::string clock_time(double t) {
  const long tenths = std::lround(std::max(t, 0.0) * 10);
  char b[32];
  std::snprintf(b, sizeof b, "[%02ld:%02ld:%02ld.%ld]", tenths / 36000, tenths / 600 % 60,
                tenths / 10 % 60, tenths % 10);
  return b;
}

OverLines::OverLines(int rate, std::function<void(const TextLine&)> done)
    : rate_(rate), done_(std::move(done)) {}

void OverLines::text(const EngineEvent& e) {
  if (e.is_call || e.text.empty()) return;
  if (e.cluster >= static_cast<int>(open_.size()))
    open_.resize(static_cast<std::size_t>(e.cluster) + 1);
  Open& o = open_[static_cast<std::size_t>(e.cluster)];
  // Strings held back until the cluster was judged Morse come together but
  // keep their times: a pause between them ends the line as it would have.
  if (o.open && e.sample - o.last >= static_cast<long long>(kPauseSeconds * rate_)) end(o);
  if (!o.open) {
    // Blanks before the first character start nothing.
    if (e.text.find_first_not_of(' ') == std::string::npos) return;
    o.open = true;
    o.raw.clear();
    o.line = TextLine{};
    o.line.t = static_cast<double>(e.sample) / rate_;
    o.line.cluster = e.cluster;
    o.line.center_hz = e.center_hz;
  }
  o.raw += e.text;
  o.last = e.sample;
  o.line.cpm = e.cpm;
  o.line.wpm = e.wpm;
  o.line.snr_db = e.snr_db;
  o.line.tone_hz = e.tone_hz;
  if (over_ends(o.raw))
    end(o);
  else if (trimmed(o.raw).size() > kWidth)
    wrap(o, e);
}

void OverLines::wrap(Open& o, const EngineEvent& e) {
  // Break at the last word space within the width; a word longer than the
  // whole line breaks where it stands.
  const std::size_t a = o.raw.find_first_not_of(' ');
  std::size_t cut = o.raw.find_last_of(' ', a + kWidth);
  if (cut == std::string::npos || cut <= a) cut = a + kWidth;
  const std::string rest = o.raw.substr(cut);
  o.raw.erase(cut);
  end(o);
  if (rest.find_first_not_of(' ') == std::string::npos) return;
  EngineEvent next = e;
  next.text = rest;
  text(next);
}

void OverLines::end(Open& o) {
  if (!o.open) return;
  o.open = false;
  o.line.text = trimmed(o.raw);
  o.raw.clear();
  if (!o.line.text.empty()) done_(o.line);
}

void OverLines::advanced(long long frames) {
  const auto pause = static_cast<long long>(kPauseSeconds * rate_);
  for (Open& o : open_)
    if (o.open && frames - o.last >= pause) end(o);
}

void OverLines::finish() {
  for (Open& o : open_)
    end(o);
}

}  // namespace talvo
