// The incremental call finder; see call_finder.h for the rules.
#include "spots/call_finder.h"

#include <cstring>
#include <string_view>

namespace talvo::spots {
namespace {

bool separator(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// A signal report: "5nn", "599", "559", "5nnn", "enn" (cut numbers).
bool report(std::string_view w) {
  if (w.size() < 3 || w.size() > 4) return false;
  if (!(w[0] >= '1' && w[0] <= '5') && w[0] != 'e') return false;
  for (std::size_t i = 1; i < w.size(); i++)
    if (!(w[i] >= '1' && w[i] <= '9') && w[i] != 'n') return false;
  return true;
}

// Characters the decoder prints for what it could not read.
bool garbled(std::string_view w) {
  return w.find_first_of("~_*#") != std::string_view::npos;
}

void put(char* dst, const std::string& s) {
  std::memcpy(dst, s.c_str(), s.size() + 1);
}

}  // namespace

void CallFinder::reset() {
  len_ = 0;
  long_ = false;
  words_ = 0;
  for (Word& w : history_)
    w = Word{Kind::kOther, {}};
  held_ = Held{false, {}, Reason::kNone, SpotType::kDx, 0, true};
}

const CallFinder::Word& CallFinder::before(int back) const {
  return history_[back - 1];
}

void CallFinder::remember(const Word& w) {
  for (int i = kHistory - 1; i > 0; i--)
    history_[i] = history_[i - 1];
  history_[0] = w;
}

int CallFinder::feed(const char* s, std::vector<FoundCall>& found) {
  int n = 0;
  for (; *s != '\0'; s++) {
    const char c = *s;
    if (separator(c)) {
      if (len_ > 0 || long_) end_word(found, n);
      continue;
    }
    if (len_ < kMaxCallLength)
      word_[len_++] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    else
      long_ = true;
  }
  return n;
}

int CallFinder::flush(std::vector<FoundCall>& found) {
  int n = 0;
  if (len_ > 0 || long_) end_word(found, n);
  if (held_.active) decide(nullptr, found, n);
  return n;
}

void CallFinder::hold(const char* call) {
  const Word &h1 = before(1), &h2 = before(2), &h3 = before(3);
  const auto cue = [](const Word& w) { return w.kind == Kind::kCq || w.kind == Kind::kTest; };
  const auto beacon = [](const Word& w) { return w.kind == Kind::kVvv; };
  Held& h = held_;
  h.active = true;
  std::strcpy(h.call, call);
  h.copies = 1;
  h.clean = h1.kind != Kind::kGarbled && h2.kind != Kind::kGarbled;
  h.type = SpotType::kCq;
  if (h1.kind == Kind::kDe) {
    h.reason = Reason::kDe;
    // "cq de", "cq dx de", "cq cq de": a CQ; "vvv de", "vvv vvv de": a beacon.
    if (beacon(h2) || beacon(h3))
      h.type = SpotType::kBeacon;
    else if (!(cue(h2) || (cue(h3) && h2.kind != Kind::kCall)))
      h.type = SpotType::kDx;
  } else if (cue(h1) || (cue(h2) && h1.kind != Kind::kCall && h1.kind != Kind::kDe)) {
    h.reason = Reason::kCue;
    if (beacon(h2) || beacon(h3)) h.type = SpotType::kBeacon;
  } else if (h1.kind == Kind::kTu) {
    h.reason = Reason::kTu;
  } else if (beacon(h1)) {
    h.reason = Reason::kCue;  // "vvv dl0abc/b"
    h.type = SpotType::kBeacon;
  } else {
    h.reason = Reason::kNone;
  }
  if (beacon_call(call)) h.type = SpotType::kBeacon;
  if (ncdxf_beacon(call)) {
    h.type = SpotType::kNcdxf;
    if (h.reason == Reason::kNone) h.reason = Reason::kNcdxf;
  }
}

void CallFinder::report_now(const Word& w, std::vector<FoundCall>& found, int& n) {
  found.push_back(FoundCall{w.call, held_.type, 1, held_.clean});
  n++;
}

void CallFinder::decide(const Word* next, std::vector<FoundCall>& found, int& n) {
  Held& h = held_;
  h.active = false;
  if (h.reason == Reason::kDe) return;  // reported copy by copy
  bool sender = h.reason != Reason::kNone;
  SpotType type = h.type;
  if (next != nullptr) {
    switch (next->kind) {
      case Kind::kToCall:
      case Kind::kTu:
        // "dk9iw 5nn", "dl1abc tu": sent to that call - unless after "de".
        if (h.reason != Reason::kDe) sender = false;
        break;
      case Kind::kDe:
        // "w1aw de dl1abc": W1AW is the one called.
        if (h.reason != Reason::kDe && h.reason != Reason::kNcdxf) sender = false;
        break;
      case Kind::kTest:
        // "s53xm test": the runner calls again.
        sender = true;
        if (type == SpotType::kDx) type = SpotType::kCq;
        break;
      default:
        break;
    }
  }
  if (!sender) return;
  const bool clean = h.clean && (next == nullptr || next->kind != Kind::kGarbled);
  found.push_back(FoundCall{h.call, type, h.copies, clean});
  n++;
}

void CallFinder::end_word(std::vector<FoundCall>& found, int& n) {
  std::string_view w(word_, long_ ? 0 : len_);
  const bool was_long = long_;
  len_ = 0;
  long_ = false;
  if (w.size() > 1 && w.back() == '?') w.remove_suffix(1);  // "qrz?"

  Word word{Kind::kOther, {}};
  const std::string call = was_long ? std::string() : callsign_of(w);
  if (was_long)
    word.kind = Kind::kOther;
  else if (w == "cq" || w == "qrz")
    word.kind = Kind::kCq;
  else if (w == "test")
    word.kind = Kind::kTest;
  else if (w == "de")
    word.kind = Kind::kDe;
  else if (w == "tu")
    word.kind = Kind::kTu;
  else if (w == "vvv" || w == "beacon")
    word.kind = Kind::kVvv;
  else if (report(w) || w == "r" || w == "rr" || w == "ur" || w == "tnx" || w == "tks")
    word.kind = Kind::kToCall;
  else if (!call.empty()) {
    word.kind = Kind::kCall;
    put(word.call, call);
  } else if (garbled(w))
    word.kind = Kind::kGarbled;

  if (held_.active) {
    if (word.kind == Kind::kCall && std::strcmp(word.call, held_.call) == 0) {
      held_.copies++;  // "g3xyz g3xyz": the same sending
      if (held_.reason == Reason::kDe) report_now(word, found, n);
      remember(word);
      words_++;
      return;
    }
    decide(&word, found, n);
  }
  if (word.kind == Kind::kCall) {
    hold(word.call);
    if (held_.reason == Reason::kDe) report_now(word, found, n);
  }
  remember(word);
  words_++;
}

}  // namespace talvo::spots
