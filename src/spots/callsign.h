// Callsign recognition: whether a decoded word is shaped like an amateur
// callsign, and the call in the upper case clusters and loggers use.
//
// A base call is ITU-shaped: a prefix of one to three letters or digits with
// at least one letter, a digit, and a suffix of one to four letters (w1aw,
// dl1abc, 2e0abc, 9a2aa, 3da0rs). The digit is the last digit of the word,
// so the split is unique. A single letter outside the single-letter ITU
// blocks (B F G I K M N R W) is a prefix with the digit after it (A4A of
// Oman, C6AAB of the Bahamas, S5DX, E7X, J8NY); such a call made of e and t
// alone ("e5ee", "t5tt": noise keyed as dots and dashes) is no call. No
// prefix begins with Q (the Q codes) or 0.
//
// Around the base call a word may carry a location prefix ("hb9/dl7xyz",
// "vp2v/w1aw": one to four letters or digits with a letter) and a suffix
// ("/p", "/m", "/mm", "/am", "/qrp", "/a", "/b" of a beacon, a single digit "/1", or a
// country prefix ending in its digit, "/hb9"). Look-alikes without this
// shape (5nn, 599, 73, tu, cq, 100w, 14mhz, 5w, 1a, a1, tttt, "~") are not
// calls.
#pragma once

#include <string>
#include <string_view>

namespace talvo::spots {

// Longest word that can be a call, in characters ("vp2v/dl7xyz/qrp" is 15).
inline constexpr int kMaxCallLength = 20;

// The call in upper case when `word` (lower or upper case, no blanks) is a
// callsign, else the empty string.
std::string callsign_of(std::string_view word);

// Whether `word` is a callsign.
bool is_callsign(std::string_view word);

// Whether `spotter` may stand before "-#" in a spot line: a call of letters,
// digits and "/" (at most 12 characters), optionally with an SSID from 1 to
// 15 ("W1NT-6").
bool valid_spotter(std::string_view spotter);

// Whether an upper case call is a beacon's ("DL0ABC/B").
bool beacon_call(std::string_view call);

// Whether an upper case call is one of the NCDXF/IARU beacons (4U1UN, YV5B, ...).
bool ncdxf_beacon(std::string_view call);

}  // namespace talvo::spots
