// One client of the spot server as a DX-cluster node sees it: the bytes it
// sends in, the answers and spot lines that go back. No sockets: the server
// feeds each client's bytes through its session, and so can a fuzzer.
//
// A client is asked "Please enter your call: " and asked again until it
// answers with a line that looks like a callsign (letters, digits and "/",
// a digit and a letter among them, an SSID such as -2 may follow; at most
// 16 characters). Telnet option negotiation (IAC ...) is skipped; lines end
// with CR, LF or both; backspace deletes. Once logged in it receives every
// spot line, and its lines are commands (any case, blanks around ignored):
//   sh/dx [N], show/dx [N]   the last N spots (30 by default), oldest first
//   set/skimmer, unset/skimmer, set/nofilter
//                            acknowledged (unset/skimmer stops the spots,
//                            set/skimmer starts them again)
//   set/ve7cc, unset/ve7cc   spots as CC11 lines (CC Cluster's format) or
//                            as DX lines again
//   sh/time, show/time       the UTC time
//   (a blank line)           answered with the node's prompt: a keepalive
//   bye, quit                "73" and the connection closes
// Anything else is answered "*** unknown command: ...".
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace talvo {

// A spot line as published, kept for clients that ask for the last spots.
struct HeldSpot {
  std::string line;       // the DX line, without line end
  std::int64_t utc = -1;  // its time, seconds since 1970 UTC (-1: unknown)
};

// The last spots published, at most `capacity`, oldest first.
class SpotHistory {
 public:
  explicit SpotHistory(std::size_t capacity) : capacity_(capacity) {}
  void add(HeldSpot s);
  const std::deque<HeldSpot>& spots() const { return spots_; }

 private:
  std::size_t capacity_;
  std::deque<HeldSpot> spots_;
};

// The CC11 line (without line end) of a spot line in the network's shape:
// CC11^freq kHz^call^date (08-Dec-2026)^time (1854Z)^comment^spotter-#^^^TALVO
// - the fields CC Cluster fills from its country data (entity numbers,
// zones) are left empty, the origin is the node. Empty when `line` is not a
// spot line.
std::string cc11_line(std::string_view line, std::int64_t utc);

class TelnetSession {
 public:
  enum class Format { kDx, kCc11 };
  static constexpr const char* kPrompt = "Please enter your call: ";
  static constexpr int kDefaultShow = 30;       // spots sh/dx gives without a number
  static constexpr std::size_t kMaxLine = 256;  // longest input line kept, bytes

  // Takes the next bytes the client sent; appends what is answered to
  // `out` (CR LF line ends). `now_utc` is the time for sh/time and the
  // prompt. Returns false once the client has asked to leave: what is in
  // `out` goes, then the connection closes; further bytes are ignored.
  bool take(const unsigned char* p, std::size_t n, const SpotHistory& history, std::int64_t now_utc,
            std::string& out);

  bool logged_in() const { return logged_in_; }
  bool leaving() const { return leaving_; }
  // Whether spots go to this client now (logged in and not unset/skimmer).
  bool wants_spots() const { return logged_in_ && skimmer_ && !leaving_; }
  Format format() const { return format_; }
  const std::string& call() const { return call_; }

  // The spot as this client receives it, with CR LF.
  std::string render(const HeldSpot& s) const;

 private:
  // Where the input stands in telnet's command sequences.
  enum class Command { kData, kAfterIac, kOption, kSubneg, kSubnegIac };

  bool telnet_byte(unsigned char b);
  void line(const SpotHistory& history, std::int64_t now_utc, std::string& out);
  void login(std::string_view text, std::string& out);
  void command(std::string_view text, const SpotHistory& history, std::int64_t now_utc,
               std::string& out);

  Command command_ = Command::kData;
  bool cr_ = false;         // the last byte was CR (a LF after it is no new line)
  std::string input_;       // the line being typed
  bool logged_in_ = false;  // it has given its call
  bool leaving_ = false;    // it said bye
  bool skimmer_ = true;     // it takes skimmer spots
  Format format_ = Format::kDx;
  std::string call_;  // its call, upper case
};

}  // namespace talvo
