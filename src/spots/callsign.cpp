// Callsign recognition by shape; see callsign.h for the rules.
#include "spots/callsign.h"

#include <string>

namespace talvo::spots {
namespace {

bool letter(char c) {
  return c >= 'a' && c <= 'z';
}
bool digit(char c) {
  return c >= '0' && c <= '9';
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool all_alnum_with_letter(std::string_view s) {
  bool any_letter = false;
  for (char c : s) {
    if (letter(c))
      any_letter = true;
    else if (!digit(c))
      return false;
  }
  return any_letter;
}

// The ITU blocks that are a whole prefix by a single letter.
bool single_letter_prefix(char c) {
  switch (c) {
    case 'b':
    case 'f':
    case 'g':
    case 'i':
    case 'k':
    case 'm':
    case 'n':
    case 'r':
    case 'w':
      return true;
    default:
      return false;
  }
}

// prefix (1-3, a letter among them) + digit + suffix (1-4 letters).
bool base_call(std::string_view s) {
  std::size_t d = s.find_last_of("0123456789");
  if (d == std::string_view::npos) return false;
  const std::string_view prefix = s.substr(0, d), suffix = s.substr(d + 1);
  if (prefix.empty() || prefix.size() > 3 || suffix.empty() || suffix.size() > 4) return false;
  for (char c : suffix)
    if (!letter(c)) return false;
  if (!all_alnum_with_letter(prefix)) return false;
  if (prefix[0] == 'q' || prefix[0] == '0') return false;
  // A single letter outside the single-letter blocks makes a prefix with
  // the digit (a4a, c6aab, e7x, s5dx, j8ny) - unless the call is nothing but
  // e and t, what noise keys as.
  if (prefix.size() == 1 && !single_letter_prefix(prefix[0]) &&
      s.find_first_not_of("et0123456789") == std::string_view::npos)
    return false;
  return true;
}

// A location prefix written before the call: hb9, f, ea8, vp2v.
bool location_prefix(std::string_view s) {
  return !s.empty() && s.size() <= 4 && all_alnum_with_letter(s) && s[0] != 'q';
}

// An indicator written after the call.
bool call_suffix(std::string_view s) {
  if (s == "p" || s == "m" || s == "mm" || s == "am" || s == "qrp" || s == "a" || s == "b")
    return true;
  if (s.size() == 1 && digit(s[0])) return true;
  // A country prefix ending in its digit: /hb9, /ea8, /w6.
  return s.size() >= 2 && s.size() <= 4 && digit(s.back()) && location_prefix(s) &&
         s.substr(0, s.size() - 1).find_first_of("0123456789") == std::string_view::npos;
}

bool shaped(std::string_view w) {
  const std::size_t a = w.find('/');
  if (a == std::string_view::npos) return base_call(w);
  const std::size_t b = w.find('/', a + 1);
  if (b == std::string_view::npos) {
    const std::string_view x = w.substr(0, a), y = w.substr(a + 1);
    return (base_call(x) && call_suffix(y)) || (location_prefix(x) && base_call(y));
  }
  if (w.find('/', b + 1) != std::string_view::npos) return false;
  return location_prefix(w.substr(0, a)) && base_call(w.substr(a + 1, b - a - 1)) &&
         call_suffix(w.substr(b + 1));
}

}  // namespace

std::string callsign_of(std::string_view word) {
  if (word.empty() || word.size() > static_cast<std::size_t>(kMaxCallLength)) return {};
  char buf[kMaxCallLength];
  for (std::size_t i = 0; i < word.size(); i++)
    buf[i] = lower(word[i]);
  const std::string_view w(buf, word.size());
  if (!shaped(w)) return {};
  std::string call(w);
  for (char& c : call)
    if (letter(c)) c = static_cast<char>(c - 'a' + 'A');
  return call;
}

bool is_callsign(std::string_view word) {
  return !callsign_of(word).empty();
}

bool valid_spotter(std::string_view spotter) {
  const std::size_t dash = spotter.find('-');
  const std::string_view call = spotter.substr(0, dash);
  if (call.empty() || call.size() > 12) return false;
  for (char c : call)
    if (!(letter(lower(c)) || digit(c) || c == '/')) return false;
  if (dash == std::string_view::npos) return true;
  // An SSID: 1 to 15, as on packet radio (W1NT-6).
  const std::string_view ssid = spotter.substr(dash + 1);
  if (ssid.empty() || ssid.size() > 2 || ssid[0] == '0') return false;
  for (char c : ssid)
    if (!digit(c)) return false;
  return std::stoi(std::string(ssid)) <= 15;
}

bool beacon_call(std::string_view call) {
  return call.size() > 2 && call.substr(call.size() - 2) == "/B";
}

bool ncdxf_beacon(std::string_view call) {
  // The International Beacon Project's eighteen stations, in time-slot order.
  static constexpr std::string_view kBeacons[] = {
      "4U1UN", "VE8AT", "W6WX", "KH6RS", "ZL6B", "VK6RBP", "JA2IGY", "RR9O", "VR2B",
      "4S7B",  "ZS6DN", "5Z4B", "4X6TU", "OH2B", "CS3B",   "LU4AA",  "OA4B", "YV5B"};
  for (std::string_view b : kBeacons)
    if (call == b) return true;
  return false;
}

}  // namespace talvo::spots
