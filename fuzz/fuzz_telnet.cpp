// A spot server client's input, cut into reads of arbitrary lengths, through
// its session with a history of spots: the session never throws, what it
// answers stays bounded per read, every line it sends ends with CR LF (but
// the login prompts), a client that has left takes nothing more, and the
// spots it receives are the history's lines or their CC11 forms.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/telnet_session.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  talvo::SpotHistory history(40);
  for (int i = 0; i < 40; i++)
    history.add({"DX de TALVO-#:   14025.0  DL" + std::to_string(i) +
                     "ABC         CW    19 dB  28 WPM  CQ      1854Z",
                 1796756052 + i});
  talvo::TelnetSession s;
  std::size_t i = 0;
  while (i < size) {
    // The first byte of each piece gives its length.
    const std::size_t len = std::min<std::size_t>(data[i] % 64 + 1, size - i - 1);
    const unsigned char* p = data + i + 1;
    i += 1 + len;
    std::string out;
    const bool was_leaving = s.leaving();
    const bool more = s.take(p, len, history, 1796756052, out);
    if (was_leaving && !out.empty()) std::abort();
    if (more == s.leaving()) std::abort();
    // At most every byte a line: each answer is under 40 spots of 90 bytes.
    if (out.size() > (len + 1) * 40 * 90) std::abort();
    std::size_t from = 0;
    for (std::size_t e; (e = out.find('\n', from)) != std::string::npos; from = e + 1)
      if (e == 0 || out[e - 1] != '\r') std::abort();
    // After the last line end: nothing, or the prompt (once per empty answer).
    const std::string prompt = talvo::TelnetSession::kPrompt;
    for (std::size_t r = from; r < out.size(); r += prompt.size())
      if (out.compare(r, prompt.size(), prompt) != 0) std::abort();
    if (!s.logged_in() && s.wants_spots()) std::abort();
  }
  const std::string spot = s.render(history.spots().back());
  if (spot.rfind("DX de ", 0) != 0 && spot.rfind("CC11^", 0) != 0) std::abort();
  return 0;
}
