// Country file and call list; see call_book.h.
#include "spots/call_book.h"

#include <algorithm>
#include <cstdlib>

namespace talvo::spots {
namespace {

std::string_view trim(std::string_view s) {
  const std::size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string_view::npos) return {};
  const std::size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

// An indicator after a call that does not change where it is.
bool indicator(std::string_view s) {
  return s == "P" || s == "M" || s == "MM" || s == "AM" || s == "QRP" || s == "A" || s == "B" ||
         (s.size() == 1 && s[0] >= '0' && s[0] <= '9');
}

// The parts of a call with an indicator at its end set aside: "DL/G4ABC/P"
// gives "DL" and "G4ABC"; "G4ABC" gives "G4ABC" and "".
void split(std::string_view call, std::string_view& a, std::string_view& b) {
  std::size_t last = call.rfind('/');
  if (last != std::string_view::npos && indicator(call.substr(last + 1))) {
    call = call.substr(0, last);
    last = call.rfind('/');
  }
  if (last == std::string_view::npos) {
    a = call;
    b = {};
    return;
  }
  a = call.substr(0, last);
  b = call.substr(last + 1);
  const std::size_t first = a.find('/');
  if (first != std::string_view::npos) a = a.substr(0, first);
}

// The side of a portable call that says where it is: the shorter ("DL" of
// "DL/G4ABC" or "G4ABC/DL"), the first on a tie ("VP2V/W1AW").
std::string_view location(std::string_view a, std::string_view b) {
  if (b.empty()) return a;
  return b.size() < a.size() ? b : a;
}

}  // namespace

std::string_view home_call(std::string_view call) {
  std::string_view a, b;
  split(call, a, b);
  if (b.empty()) return a;
  return location(a, b) == a ? b : a;
}

std::string CountryFile::parse(std::string_view text) {
  entities_.clear();
  prefixes_.clear();
  exact_.clear();
  longest_ = 0;
  int line_no = 0;
  bool in_record = false;
  std::size_t pos = 0;
  const auto fail = [&](const char* what) {
    entities_.clear();
    prefixes_.clear();
    exact_.clear();
    return "cty.dat line " + std::to_string(line_no) + ": " + what;
  };
  while (pos < text.size()) {
    const std::size_t end = std::min(text.find('\n', pos), text.size());
    const std::string_view raw = text.substr(pos, end - pos);
    pos = end + 1;
    line_no++;
    const std::string_view line = trim(raw);
    if (line.empty()) continue;
    if (!in_record) {
      if (raw[0] == ' ' || raw[0] == '\t') return fail("prefixes before an entity");
      // name: cq: itu: continent: lat: lon: offset: prefix:
      std::string_view f[8];
      std::size_t at = 0;
      for (auto& field : f) {
        const std::size_t colon = line.find(':', at);
        if (colon == std::string_view::npos) return fail("an entity line needs eight fields");
        field = trim(line.substr(at, colon - at));
        at = colon + 1;
      }
      Entity e;
      e.name = std::string(f[0]);
      e.cq_zone = std::atoi(std::string(f[1]).c_str());
      e.itu_zone = std::atoi(std::string(f[2]).c_str());
      e.continent = std::string(f[3]);
      e.prefix = std::string(f[7].substr(!f[7].empty() && f[7][0] == '*' ? 1 : 0));
      if (e.name.empty() || e.prefix.empty()) return fail("an entity needs a name and a prefix");
      entities_.push_back(std::move(e));
      in_record = true;
      continue;
    }
    // Prefixes and calls of the entity, up to ";".
    const int index = static_cast<int>(entities_.size()) - 1;
    std::size_t at = 0;
    while (at < line.size()) {
      std::size_t stop = line.find_first_of(",;", at);
      if (stop == std::string_view::npos) stop = line.size();
      std::string_view item = trim(line.substr(at, stop - at));
      item = item.substr(0, item.find_first_of("([<{~"));  // the overrides
      const bool whole = !item.empty() && item[0] == '=';
      if (whole) item.remove_prefix(1);
      if (!item.empty()) {
        if (whole) {
          exact_.emplace(std::string(item), index);
        } else {
          prefixes_.emplace(std::string(item), index);
          longest_ = std::max(longest_, item.size());
        }
      }
      if (stop < line.size() && line[stop] == ';') in_record = false;
      at = stop + 1;
    }
  }
  if (in_record) return fail("the last entity has no \";\"");
  if (entities_.empty()) return fail("no entity");
  return {};
}

const Entity* CountryFile::longest_prefix(std::string_view part) const {
  for (std::size_t n = std::min(part.size(), longest_); n > 0; n--) {
    const auto it = prefixes_.find(std::string(part.substr(0, n)));
    if (it != prefixes_.end()) return &entities_[static_cast<std::size_t>(it->second)];
  }
  return nullptr;
}

const Entity* CountryFile::entity_of(std::string_view call) const {
  if (call.empty() || entities_.empty()) return nullptr;
  auto it = exact_.find(std::string(call));
  if (it != exact_.end()) return &entities_[static_cast<std::size_t>(it->second)];
  std::string_view a, b;
  split(call, a, b);
  if (b.empty()) {
    it = exact_.find(std::string(a));
    if (it != exact_.end()) return &entities_[static_cast<std::size_t>(it->second)];
  }
  return longest_prefix(location(a, b));
}

std::string CallList::parse(std::string_view text) {
  calls_.clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = std::min(text.find('\n', pos), text.size());
    const std::string_view line = trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == '#') continue;
    std::string call(line);
    for (char& c : call)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    calls_.insert(std::move(call));
  }
  if (calls_.empty()) return "MASTER.SCP: no call in it";
  return {};
}

bool CallList::contains(std::string_view call) const {
  return calls_.count(std::string(call)) != 0;
}

std::string CallBook::load(const std::string* cty_text, const std::string* scp_text) {
  std::string notice;
  has_cty_ = false;
  has_scp_ = false;
  if (cty_text == nullptr) {
    notice = "no country file (cty.dat): calls are checked by their shape alone";
  } else if (std::string e = cty_.parse(*cty_text); !e.empty()) {
    notice = e + ": calls are checked by their shape alone";
  } else {
    has_cty_ = true;
  }
  std::string scp_notice;
  if (scp_text == nullptr) {
    scp_notice = "no call list (MASTER.SCP): every call is taken as unknown";
  } else if (std::string e = scp_.parse(*scp_text); !e.empty()) {
    scp_notice = e + ": every call is taken as unknown";
  } else {
    has_scp_ = true;
  }
  if (!notice.empty() && !scp_notice.empty()) return notice + "; " + scp_notice;
  return notice.empty() ? scp_notice : notice;
}

bool CallBook::valid(std::string_view call) const {
  return !has_cty_ || cty_.entity_of(call) != nullptr;
}

const Entity* CallBook::entity_of(std::string_view call) const {
  return has_cty_ ? cty_.entity_of(call) : nullptr;
}

bool CallBook::known(std::string_view call) const {
  return has_scp_ && (scp_.contains(call) || scp_.contains(home_call(call)));
}

}  // namespace talvo::spots
