// Speed in words per minute from the decoder's characters per minute: five
// characters make a word (PARIS, with its spaces, is 50 dots: a word at
// 12 wpm is 60 characters a minute).
#pragma once

namespace talvo {

enum class WpmRounding {
  kNearest,  // to the nearest whole word (what talvo-decode prints)
  kDown,     // whole words only (the classic receiver's json summary)
};

constexpr int words_per_minute(int cpm, WpmRounding r = WpmRounding::kNearest) {
  return r == WpmRounding::kNearest ? (cpm + 2) / 5 : cpm / 5;
}

}  // namespace talvo
