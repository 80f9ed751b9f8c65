// The spot server: loggers and DX cluster software connect to it as to any
// skimmer or cluster node and receive the spot lines.
//
// A client that connects is asked "Please enter your call: " until it
// answers with a callsign; it is greeted and receives every line published
// from then on, each ended by CR LF, and may use a node's commands (sh/dx
// for the last spots, kept in a history of `history` spots, set/skimmer,
// sh/time, set/ve7cc, bye; see telnet_session.h).
//
// One server thread serves all clients with poll() on non-blocking sockets;
// publish() only hands the line over under a short lock and never waits for
// a client. A client that reads slowly has at most queue_lines lines or
// queue_bytes bytes waiting: beyond that its oldest lines are dropped, and
// before the next line it receives it is told
//   *** N spots dropped: your connection is too slow
// A client that takes no byte at all for stall_seconds while lines wait is
// disconnected. A client that goes away is closed and forgotten.
//
// The server listens on 127.0.0.1 unless told another address (numeric IPv4
// or IPv6); port 0 takes any free port, which port() tells. Failures come
// back as a message, never printed. stop() gives the queued lines up to
// drain_seconds to go out, then closes every connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "net/telnet_session.h"
#include "util/opened.h"

namespace talvo {

struct TelnetOptions {
  std::string address = "127.0.0.1";     // numeric address to listen on
  int port = 7300;                       // TCP port; 0 takes any free port
  int max_clients = 64;                  // connections at once; more are told so and closed
  std::size_t queue_lines = 1000;        // lines waiting per client, at most
  std::size_t queue_bytes = 256 * 1024;  // bytes of lines waiting per client, at most
  double stall_seconds = 60;             // seconds a client may take nothing while lines wait
  double drain_seconds = 2;              // seconds stop() lets queued lines go out
  int send_buffer = 0;                   // kernel send buffer per client, bytes (0: the system's)
  std::size_t history = 1000;            // spots kept for sh/dx
};

struct TelnetStats {
  int connected = 0;              // connections open
  int logged_in = 0;              // of them, those that gave their call
  std::uint64_t dropped = 0;      // lines dropped for slow clients, all told
  std::uint64_t stalled_out = 0;  // clients disconnected for taking nothing
  std::size_t spots = 0;          // lines published, all told
};

class TelnetServer {
 public:
  // Listens and starts serving, or says why it cannot.
  static Opened<TelnetServer> start(const TelnetOptions& o);
  ~TelnetServer();  // stops
  TelnetServer(const TelnetServer&) = delete;
  TelnetServer& operator=(const TelnetServer&) = delete;

  // The port it listens on.
  int port() const;

  // Queues `line` (without line end; CR and LF in it are dropped) for every
  // logged-in client and keeps it for sh/dx; `utc` is the spot's time
  // (seconds since 1970; -1 unknown), for the CC11 format's date. Never
  // waits for a client; does nothing once stopped.
  void publish(std::string_view line, std::int64_t utc = -1);

  TelnetStats stats() const;

  // Lets queued lines go out for up to drain_seconds, then closes every
  // connection and the listening socket. Further calls do nothing.
  void stop();

 private:
  struct Impl;
  explicit TelnetServer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace talvo
