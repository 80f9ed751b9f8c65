// The incremental call finder; see call_finder.h for the rules.
#include "spots/call_finder.h"

#include <cstring>
#include <string_view>

namespace talvo::spots {
namespace {

bool separator(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// Words that end an over, and with it any open CQ.
bool end_of_over(std::string_view w) {
  return w == "k" || w == "kn" || w == "bk" || w == "sk" || w == "ar" || w == "+" || w == "(";
}

void put(char* dst, const std::string& s) {
  std::memcpy(dst, s.c_str(), s.size() + 1);
}

}  // namespace

void CallFinder::reset() {
  len_ = 0;
  long_ = false;
  words_ = 0;
  after_de_ = false;
  cq_word_ = -1;
  cq_open_ = false;
  cq_call_[0] = '\0';
  for (Entry& e : seen_)
    e = Entry{{}, -1, SpotType::kDx};
  for (Entry& e : reported_)
    e = Entry{{}, -1, SpotType::kDx};
  seen_next_ = 0;
  reported_next_ = 0;
}

const CallFinder::Entry* CallFinder::find(const Entry* r, const char* call) const {
  const Entry* best = nullptr;
  for (int i = 0; i < kWindowWords; i++) {
    const Entry& e = r[i];
    if (e.word < 0 || words_ - e.word > kWindowWords) continue;
    if (std::strcmp(e.call, call) != 0) continue;
    if (best == nullptr || e.word > best->word) best = &e;
  }
  return best;
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

void CallFinder::end_word(std::vector<FoundCall>& found, int& n) {
  const std::string_view w(word_, long_ ? 0 : len_);
  const std::int64_t here = words_;
  const bool after_de = after_de_;
  len_ = 0;
  after_de_ = false;
  if (cq_open_ && here - cq_word_ > kCqReach) cq_open_ = false;

  const std::string call = long_ ? std::string() : callsign_of(w);
  long_ = false;
  if (w == "cq" || w == "test") {
    cq_word_ = here;
    if (!cq_open_) cq_call_[0] = '\0';
    cq_open_ = true;
  } else if (w == "de") {
    after_de_ = true;
  } else if (end_of_over(w)) {
    cq_open_ = false;
  } else if (!call.empty()) {
    // A second call closes the CQ: whoever it is, the over is now a contact.
    if (cq_open_ && cq_call_[0] != '\0' && call != cq_call_) cq_open_ = false;
    if (cq_open_ && cq_call_[0] == '\0') put(cq_call_, call);
    const SpotType type = cq_open_ ? SpotType::kCq : SpotType::kDx;
    const bool counts = after_de || cq_open_ || find(seen_, call.c_str()) != nullptr;

    Entry& s = seen_[seen_next_];
    put(s.call, call);
    s.word = here;
    seen_next_ = (seen_next_ + 1) % kWindowWords;

    if (counts) {
      const Entry* r = find(reported_, call.c_str());
      if (r == nullptr || (r->type == SpotType::kDx && type == SpotType::kCq)) {
        Entry& e = reported_[reported_next_];
        put(e.call, call);
        e.word = here;
        e.type = type;
        reported_next_ = (reported_next_ + 1) % kWindowWords;
        found.push_back(FoundCall{call, type});
        n++;
      }
    }
  }
  words_++;
}

}  // namespace talvo::spots
