#include "support/morse.h"

#include <algorithm>
#include <cctype>
#include <random>

#include "util/textdiff.h"

namespace talvo::test {

std::string morse_of(char c) {
  static const char* const letters[26] = {".-",   "-...", "-.-.", "-..",  ".",    "..-.", "--.",
                                          "....", "..",   ".---", "-.-",  ".-..", "--",   "-.",
                                          "---",  ".--.", "--.-", ".-.",  "...",  "-",    "..-",
                                          "...-", ".--",  "-..-", "-.--", "--.."};
  static const char* const digits[10] = {"-----", ".----", "..---", "...--", "....-",
                                         ".....", "-....", "--...", "---..", "----."};
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'z') return letters[c - 'a'];
  if (c >= '0' && c <= '9') return digits[c - '0'];
  switch (c) {
    case '.':
      return ".-.-.-";
    case ',':
      return "--..--";
    case '/':
      return "-..-.";
    case '?':
      return "..--..";
    default:
      return "";
  }
}

Keyed morse(const MorseSignal& m) {
  Keyed k;
  k.tone.freq = m.freq;
  k.tone.amp = m.amp;
  const double unit = 6.0 / m.cpm;
  const double gap_unit = m.farnsworth > 0 ? 6.0 / m.farnsworth : unit;
  std::mt19937 gen(m.seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  auto len = [&](double units) {
    const double j = m.jitter > 0 ? m.jitter * gauss(gen) : 0;
    return std::max(0.3, units + j) * unit;
  };
  double t = m.start;
  bool first_in_word = true;
  for (std::size_t i = 0; i < m.text.size(); i++) {
    const char c = m.text[i];
    if (c == ' ') {
      // A word gap is seven units; three of them follow every character.
      if (!first_in_word) t += 4 * gap_unit;
      first_in_word = true;
      continue;
    }
    const std::string el = morse_of(c);
    if (el.empty()) continue;
    for (std::size_t e = 0; e < el.size(); e++) {
      const double on = len(el[e] == '-' ? 3 : 1);
      k.tone.on.push_back({t, t + on});
      t += on;
      if (e + 1 < el.size()) t += len(1);
    }
    k.char_ends.push_back(t);
    k.end = t;
    t += 3 * gap_unit;
    first_in_word = false;
  }
  return k;
}

std::string normalise(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return out;
}

std::string after_first_word(const std::string& s) {
  std::string n = normalise(s);
  while (!n.empty() && n.front() == ' ')
    n.erase(0, 1);
  const std::size_t gap = n.find(' ');
  n = gap == std::string::npos ? "" : n.substr(gap + 1);
  while (!n.empty() && n.back() == ' ')
    n.pop_back();
  return n;
}

int edit_distance(const std::string& a, const std::string& b) {
  return talvo::edit_distance(a, b);
}

}  // namespace talvo::test
