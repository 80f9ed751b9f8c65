// The call finder and the spot judge on arbitrary text, cut into decoder
// strings of arbitrary lengths: every call reported is call-shaped with at
// least one copy, and every spot line keeps its columns.
#include <cstdint>
#include <string>
#include <vector>

#include "spots/call_finder.h"
#include "spots/callsign.h"
#include "spots/judge.h"
#include "spots/spot.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  talvo::spots::CallFinder finder;
  talvo::spots::SpotJudge judge(nullptr, 0);
  std::vector<talvo::spots::FoundCall> found;
  std::vector<talvo::spots::Spot> spots;
  double t = 0;
  std::size_t i = 0;
  while (i < size) {
    // The first byte of a piece is its length (1 to 8), the rest its text.
    const std::size_t n = std::min<std::size_t>(1 + data[i] % 8, size - i - 1);
    const std::string piece(reinterpret_cast<const char*>(data) + i + 1, n);
    i += 1 + n;
    if (piece.find('\0') != std::string::npos) continue;
    found.clear();
    const int got = finder.feed(piece.c_str(), found);
    if (got != static_cast<int>(found.size())) __builtin_trap();
    if (i >= size) finder.flush(found);
    for (const auto& c : found) {
      if (!talvo::spots::is_callsign(c.call) || c.copies < 1) __builtin_trap();
      judge.hear(c, 14025000 + 37.0 * (c.call.size() % 5), 10, 25, t, spots);
    }
    t += 0.5;
  }
  for (const auto& s : spots) {
    const std::string line = talvo::spots::spot_line("W1NT-6", s);
    if (s.call.size() < 15 && line.size() != 75) __builtin_trap();
    if (line.compare(26, s.call.size(), s.call) != 0) __builtin_trap();
    if (s.confidence < 0 || s.confidence > 1) __builtin_trap();
  }
  return 0;
}
