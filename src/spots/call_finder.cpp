// The incremental call finder; see call_finder.h for the rules.
#include "spots/call_finder.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "util/textdiff.h"

namespace talvo::spots {
namespace {

bool separator(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// Whether three characters are one character off "5nn" or "599", or an RST.
bool report3(std::string_view w) {
  int nn = 0, nines = 0;
  for (std::size_t i = 0; i < 3; i++) {
    nn += w[i] == "5nn"[i];
    nines += w[i] == "599"[i];
  }
  if (nn >= 2 || nines >= 2 || w == "enn") return true;
  const auto rst = [](char c) { return (c >= '1' && c <= '9') || c == 'n'; };
  return w[0] >= '1' && w[0] <= '5' && rst(w[1]) && rst(w[2]);
}

// A signal report as copied: "5nn", "599", "559", "enn" (cut numbers), one
// character off ("5mn", "~nn"), a character short ("nn", "5n"), with the
// serial run on ("5nn267", "5ng1382", "nn127"), or run on to the call
// ("w3zx5nn").
bool report(std::string_view w) {
  if (w == "5n" || w == "59" || w == "99") return true;
  if (w.substr(0, 2) == "nn" && w.find_first_not_of("0123456789", 2) == std::string_view::npos)
    return true;  // "nn", "nn127"
  if (w.find("5nn") != std::string_view::npos || w.find("599") != std::string_view::npos)
    return true;
  if (w.size() < 3 || !report3(w.substr(0, 3))) return false;
  for (char c : w.substr(3))
    if (c < '0' || c > '9') return false;
  return true;
}

// Characters the decoder prints for what it could not read.
bool garbled(std::string_view w) {
  return w.find_first_of("~_*#") != std::string_view::npos;
}

// Short words that end or fill an over, never a garbled report.
bool over_word(std::string_view w) {
  for (std::string_view v : {"kn", "bk", "sk", "ar", "pse", "es",  "gl",  "gm",  "ge", "ga", "gd",
                             "om", "dr", "hw", "fb", "agn", "qrl", "qsl", "qsy", "hi", "73", "88",
                             "up", "dx", "na", "eu", "as",  "af",  "oc",  "sa",  "ok", "bcn"})
    if (w == v) return true;
  return false;
}

// A serial number as copied: digits, perhaps in cut numbers or garbled
// ("1160", "2~4", "1t5").
bool serial(std::string_view w) {
  if (w.find_first_of("0123456789") == std::string_view::npos) return false;
  return w.find_first_not_of("0123456789tnaeo~") == std::string_view::npos;
}

bool call_shaped(std::string_view w) {
  return !callsign_of(w).empty();
}

// The words of a word the decoder ran together: a call twice, the word
// space between lost or copied as a dit or a dah ("bh4wpnebh4wpn"), or a
// cue and a call with the word space lost ("testdl1abc", "tudl1abc",
// "dl1abctest", "cqtest"). Fills `parts`; returns how many (0: not such a word). A
// word space copied as a character next to a single call is not taken
// apart: "testedl1abc" may as well be "test edl1abc".
int split_run_on(std::string_view w, std::string_view parts[2]) {
  if (w.size() < 5 || call_shaped(w) || w.find_first_of("~_*#") != std::string_view::npos) return 0;
  const std::size_t half = w.size() / 2;
  const std::string_view a = w.substr(0, half);
  const bool odd = w.size() % 2 == 1;
  if (w.substr(w.size() - half) == a && (!odd || w[half] == 'e' || w[half] == 't') &&
      call_shaped(a)) {
    parts[0] = parts[1] = a;
    return 2;
  }
  for (std::string_view cue : {"test", "cq", "tu"}) {
    if (w.size() > cue.size() && w.substr(0, cue.size()) == cue &&
        call_shaped(w.substr(cue.size()))) {
      parts[0] = cue;
      parts[1] = w.substr(cue.size());
      return 2;
    }
  }
  // "cq test" with the word space lost and one of the two letters misread
  // ("catest", "kqtest"): the cue the runner sent.
  const auto letter = [](char c) { return c >= 'a' && c <= 'z'; };
  if (w.size() == 6 && w.substr(2) == "test" && (w[0] == 'c' || w[1] == 'q') && letter(w[0]) &&
      letter(w[1])) {
    parts[0] = "cq";
    parts[1] = w.substr(2);
    return 2;
  }
  if (w.substr(w.size() - 4) == "test" && call_shaped(w.substr(0, w.size() - 4))) {
    parts[0] = w.substr(0, w.size() - 4);
    parts[1] = w.substr(w.size() - 4);
    return 2;
  }
  return 0;
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
  held_ = Held{false, Reason::kNone, SpotType::kDx, true, false, {}, 0, false};
  doubt_ = Word{Kind::kOther, {}};
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
  if (held_.active) {
    const bool doubt = held_.doubt;
    held_.doubt = false;
    decide(doubt ? &doubt_ : nullptr, found, n);
  }
  return n;
}

bool CallFinder::Held::cq_twice() const {
  if (reason != Reason::kCue || !after_cq) return false;
  for (int i = 0; i < nv; i++)
    if (v[i].copies >= 2) return true;
  return false;
}

bool CallFinder::waiting() const {
  const Held& h = held_;
  return h.active && !h.doubt && len_ == 0 && !long_ && h.cq_twice();
}

int CallFinder::quiet(std::vector<FoundCall>& found) {
  int n = 0;
  if (waiting()) decide(nullptr, found, n);
  return n;
}

// Whether the word w between a cue and `call` is another call copied
// badly ("cq test sphhedg ja1kzh": the runner's own, before a caller's): a
// word of five characters or more, no known word, more than half of it
// unlike the call (a bad copy of the call itself, "sphhedg sp5dzg", is
// nearer).
bool CallFinder::other_call(const Word& w, const char* call) {
  if (w.kind != Kind::kOther && w.kind != Kind::kGarbled) return false;
  const std::size_t n = std::strlen(w.call), m = std::strlen(call);
  if (n < 5) return false;
  return 2 * edit_distance(w.call, call) > static_cast<int>(std::max(n, m)) + 1;
}

void CallFinder::hold(const char* call) {
  const Word &h1 = before(1), &h2 = before(2), &h3 = before(3);
  const auto cue = [](const Word& w) { return w.kind == Kind::kCq || w.kind == Kind::kTest; };
  const auto beacon = [](const Word& w) { return w.kind == Kind::kVvv; };
  Held& h = held_;
  h.active = true;
  std::strcpy(h.v[0].call, call);
  h.v[0].copies = 1;
  h.nv = 1;
  h.clean = h1.kind != Kind::kGarbled && h2.kind != Kind::kGarbled;
  const auto cq = [](const Word& w) { return w.kind == Kind::kCq; };
  h.after_cq = cq(h1) || (cq(h2) && h1.kind != Kind::kCall);
  h.type = SpotType::kCq;
  if (h1.kind == Kind::kDe) {
    h.reason = Reason::kDe;
    // "cq de", "cq dx de", "cq cq de": a CQ; "vvv de", "vvv vvv de": a beacon.
    if (beacon(h2) || beacon(h3))
      h.type = SpotType::kBeacon;
    else if (!(cue(h2) || (cue(h3) && h2.kind != Kind::kCall)))
      h.type = SpotType::kDx;
  } else if (h1.kind == Kind::kTest && h2.kind == Kind::kCall &&
             edit_distance(h2.call, call) > kVariantEdits) {
    // "tu s53xm test ag5dt": the runner's "test", then a caller's call.
    h.reason = Reason::kNone;
  } else if (cue(h1) ||
             (cue(h2) && h1.kind != Kind::kCall && h1.kind != Kind::kDe && !other_call(h1, call))) {
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

void CallFinder::report_now(const Word& w, std::vector<FoundCall>& found, int& n) const {
  found.push_back(FoundCall{w.call, held_.type, 1, held_.clean, held_.after_cq, {}, 0});
  n++;
}

bool CallFinder::same_sending(const char* call) {
  Held& h = held_;
  for (int i = 0; i < h.nv; i++) {
    if (std::strcmp(h.v[i].call, call) == 0) {
      h.v[i].copies++;  // "g3xyz g3xyz": another copy
      return true;
    }
  }
  // "kf7f kf7h": the same call copied another way, while there is room.
  if (h.nv == kVariants || !near(call)) return false;
  std::strcpy(h.v[h.nv].call, call);
  h.v[h.nv].copies = 1;
  h.nv++;
  return true;
}

bool CallFinder::near(const char* word) const {
  const std::size_t n = std::strlen(word), m = std::strlen(held_.v[0].call);
  if (n < 3 || (n > m ? n - m : m - n) > static_cast<std::size_t>(kVariantEdits)) return false;
  char upper[kMaxCallLength + 1];
  for (std::size_t i = 0; i <= n; i++)
    upper[i] = word[i] >= 'a' && word[i] <= 'z' ? static_cast<char>(word[i] - 'a' + 'A') : word[i];
  return edit_distance(held_.v[0].call, upper) <= kVariantEdits;
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
        // "dk9iw 5nn": sent to that call - unless after "de" (a caller's
        // call sent twice after a CQ whose own call was lost is one too).
        if (h.reason != Reason::kDe) sender = false;
        break;
      case Kind::kTu:
        // "dl1abc tu": sent to that call - unless after "de", or the end of
        // a CQ before the runner's next over ("cq test dl1abc dl1abc tu
        // dl1abc test"), which a silence long enough would have decided
        // (quiet()).
        if (h.reason != Reason::kDe && !h.cq_twice()) sender = false;
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
  for (int i = 0; i < h.nv; i++) {
    found.push_back(FoundCall{h.v[i].call, type, h.v[i].copies, clean, h.after_cq, {}, 0});
    for (int j = 0; j < h.nv; j++)
      if (j != i && h.v[j].copies > found.back().near_copies &&
          edit_distance(h.v[i].call, h.v[j].call) == 1) {
        found.back().near_call = h.v[j].call;
        found.back().near_copies = h.v[j].copies;
      }
    n++;
  }
}

void CallFinder::end_word(std::vector<FoundCall>& found, int& n) {
  const std::string_view w(word_, long_ ? 0 : len_);
  const bool was_long = long_;
  len_ = 0;
  long_ = false;
  std::string_view parts[2];
  const int np = was_long ? 0 : split_run_on(w, parts);
  if (np == 0) {
    take_word(w, was_long, found, n);
    return;
  }
  for (int i = 0; i < np; i++)
    take_word(parts[i], false, found, n);
}

void CallFinder::take_word(std::string_view w, bool was_long, std::vector<FoundCall>& found,
                           int& n) {
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
  else if (report(w) || w == "r" || w == "rr" || w == "ur" || w == "nr" || w == "tnx" || w == "tks")
    word.kind = Kind::kToCall;
  else if (!call.empty()) {
    word.kind = Kind::kCall;
    put(word.call, call);
  } else if (garbled(w))
    word.kind = Kind::kGarbled;
  if (word.kind == Kind::kOther || word.kind == Kind::kGarbled) {
    std::size_t i = 0;
    for (; i < w.size() && i < kMaxCallLength; i++)
      word.call[i] = w[i] >= 'a' && w[i] <= 'z' ? static_cast<char>(w[i] - 'a' + 'A') : w[i];
    word.call[i] = '\0';
  }

  if (held_.active && held_.doubt) {
    // "yo3wu nm 730": a report too garbled to tell, then a serial - an
    // exchange sent to the held call; anything else, and the short word
    // was an ordinary word.
    held_.doubt = false;
    if (serial(w) && word.kind != Kind::kCall)
      held_.active = false;
    else
      decide(&doubt_, found, n);
  }
  if (held_.active) {
    if (word.kind == Kind::kCall && same_sending(word.call)) {
      if (held_.reason == Reason::kDe) report_now(word, found, n);
      remember(word);
      words_++;
      return;
    }
    // "dlzat", "kc3t~u": a copy of the held call too garbled to be a call.
    if ((word.kind == Kind::kOther || word.kind == Kind::kGarbled) && !was_long &&
        near(std::string(w).c_str())) {
      remember(word);
      words_++;
      return;
    }
    // A short word, or four characters after a report's "5" ("5see" for
    // "5nn"), may be a report copied too badly to tell.
    const bool short_word = (w.size() >= 2 && w.size() <= 3) || (w.size() == 4 && w[0] == '5');
    if ((held_.reason == Reason::kCue || held_.reason == Reason::kTu) &&
        (word.kind == Kind::kOther || word.kind == Kind::kGarbled) && short_word && !over_word(w)) {
      held_.doubt = true;  // the word after decides
      doubt_ = word;
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
