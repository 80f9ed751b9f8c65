// The spot server with real clients on 127.0.0.1: Python socket clients and
// nc, run as separate processes. Every wait is bounded by a deadline, and
// every client process is killed when its test ends.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/telnet_server.h"
#include "support/loopback.h"
#include "support/piped_child.h"
#include "support/stopwatch.h"

namespace talvo {
namespace {

using test::Clock;
using test::since;
using Child = test::PipedChild;

// A Python client. argv: port, connections, lines to wait for on each,
// seconds, mode. It opens the connections, checks each prompt, answers
// with a call wrapped in telnet negotiation bytes and prints "ready"; in
// mode "leave" it then closes them and exits, in mode "stall" (small
// receive buffer) it waits for a line on its standard input before
// reading. It reads every connection until it has the given number of
// "DX de" lines (0: until the server closes), or the bytes given as a sixth
// argument, or the seconds are up, and
// prints each connection's bytes as "=== N STATE" and the bytes.
const char* const kClient = R"PY(
import select, socket, sys, time
port, conns, want, secs, mode = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), sys.argv[5]
until = sys.argv[6].encode() if len(sys.argv) > 6 else None
deadline = time.time() + secs
socks, bufs = [], []
for i in range(conns):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if mode == 'stall':
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.settimeout(max(0.1, deadline - time.time()))
    s.connect(('127.0.0.1', port))
    b = b''
    while b'call: ' not in b:
        d = s.recv(4096)
        if not d:
            break
        b += d
    s.sendall(b'\xff\xfd\x01\xff\xfb\x18\xff\xfa\x18\x00xterm\xff\xf0' + b'k%dxyz\r\n' % i)
    socks.append(s)
    bufs.append(b)
print('ready', flush=True)
if mode == 'leave':
    for s in socks:
        s.close()
    sys.exit(0)
if mode == 'stall':
    sys.stdin.readline()
state = ['open'] * conns
def done(i):
    return (state[i] != 'open' or (want > 0 and bufs[i].count(b'DX de') >= want)
            or (until is not None and until in bufs[i]))
while not all(done(i) for i in range(conns)) and time.time() < deadline:
    live = [socks[i] for i in range(conns) if not done(i)]
    r, _, _ = select.select(live, [], [], max(0, deadline - time.time()))
    for s in r:
        i = socks.index(s)
        try:
            d = s.recv(65536)
        except ConnectionResetError:
            state[i] = 'reset'
            continue
        if not d:
            state[i] = 'eof'
        bufs[i] += d
out = sys.stdout.buffer
for i in range(conns):
    out.write(b'=== %d %s\n' % (i, state[i].encode()))
    out.write(bufs[i])
out.write(b'=== end\n')
out.flush()
)PY";

std::vector<std::string> client_args(int port, int conns, int want, double secs,
                                     const std::string& mode, const std::string& until = "") {
  std::vector<std::string> a = {std::to_string(port), std::to_string(conns), std::to_string(want),
                                std::to_string(secs), mode};
  if (!until.empty()) a.push_back(until);
  return test::python_script(kClient, a);
}

struct Connection {
  std::string state;  // open, eof or reset
  std::string bytes;  // all it received
};

// The connections in a Python client's finished output.
std::vector<Connection> connections(const std::string& out) {
  std::vector<Connection> r;
  std::size_t p = 0;
  while ((p = out.find("=== ", p)) != std::string::npos) {
    const std::size_t eol = out.find('\n', p);
    const std::string head = out.substr(p + 4, eol - p - 4);
    if (head == "end") break;
    const std::size_t next = out.find("=== ", eol);
    r.push_back({head.substr(head.find(' ') + 1), out.substr(eol + 1, next - eol - 1)});
    p = next;
  }
  return r;
}

bool finished(const std::string& o) {
  return o.find("=== end\n") != std::string::npos;
}

// The CR LF ended lines of a byte stream that start with "DX de".
std::vector<std::string> spot_lines(const std::string& bytes) {
  return test::dx_lines(bytes, "\r\n");
}

std::string spot(int i) {
  char buf[96];
  std::snprintf(buf, sizeof buf,
                "DX de MYCALL-#:    7018.3  DL%dABC         CW    19 dB  18 WPM  CQ      2259Z", i);
  return buf;
}

std::unique_ptr<TelnetServer> server(TelnetOptions o = {}) {
  o.port = 0;
  auto s = TelnetServer::start(o);
  EXPECT_TRUE(s) << s.error;
  EXPECT_EQ(s.error, "");
  return std::move(s.source);
}

// Waits until the server's stats satisfy `ok`, at most `seconds`.
bool wait_for(const TelnetServer& s, const std::function<bool(const TelnetStats&)>& ok,
              double seconds) {
  const auto t0 = Clock::now();
  while (!ok(s.stats())) {
    if (since(t0) > seconds) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Waits until `n` clients are logged in, or connected, at most `seconds`.
bool logged_in(const TelnetServer& s, int n, double seconds = 10) {
  return wait_for(
      s, [n](const TelnetStats& t) { return t.logged_in == n; }, seconds);
}
bool connected(const TelnetServer& s, int n, double seconds = 10) {
  return wait_for(
      s, [n](const TelnetStats& t) { return t.connected == n; }, seconds);
}

TEST(Telnet, PromptThenSpotLinesInOrder) {
  auto srv = server();
  ASSERT_TRUE(srv);
  EXPECT_GT(srv->port(), 0);
  srv->publish(spot(999));  // before anyone is there: nobody gets it
  Child c(client_args(srv->port(), 1, 5, 10, "read"));
  ASSERT_TRUE(c.read_until_has("ready\n", 10));
  ASSERT_TRUE(logged_in(*srv, 1));
  for (int i = 0; i < 5; i++)
    srv->publish(spot(i));
  ASSERT_TRUE(c.read_until(finished, 15));
  const auto conns = connections(c.out);
  ASSERT_EQ(conns.size(), 1u);
  const std::string& b = conns[0].bytes;
  // The negotiation bytes around the answer are not part of the call; the
  // spot published before the login is not sent.
  std::string expected = "Please enter your call: Hello K0XYZ, this is TALVO, a CW skimmer.\r\n";
  for (int i = 0; i < 5; i++)
    expected += spot(i) + "\r\n";
  EXPECT_EQ(b, expected);
}

TEST(Telnet, NetcatClient) {
  auto srv = server();
  ASSERT_TRUE(srv);
  Child nc(test::netcat(srv->port()));
  ASSERT_TRUE(nc.started());
  ASSERT_TRUE(nc.read_until_has("Please enter your call: ", 10)) << nc.out;
  // An empty answer is asked again.
  nc.write_in("\n");
  ASSERT_TRUE(nc.read_until(
      [](const std::string& o) { return o == "Please enter your call: Please enter your call: "; },
      10))
      << nc.out;
  nc.write_in("dl1abc\n");
  ASSERT_TRUE(nc.read_until_has("Hello DL1ABC", 10)) << nc.out;
  ASSERT_TRUE(logged_in(*srv, 1));
  srv->publish(spot(1));
  srv->publish(spot(2) + "\r\n");  // a line end of its own is not doubled
  srv->publish(spot(3));
  ASSERT_TRUE(nc.read_until_has(spot(3) + "\r\n", 10)) << nc.out;
  EXPECT_EQ(nc.out.substr(nc.out.find("DX de")),
            spot(1) + "\r\n" + spot(2) + "\r\n" + spot(3) + "\r\n");
}

TEST(Telnet, TwentyClientsAllReceiveEverySpot) {
  auto srv = server();
  ASSERT_TRUE(srv);
  Child a(client_args(srv->port(), 12, 200, 20, "read"));
  Child b(client_args(srv->port(), 10, 200, 20, "read"));
  ASSERT_TRUE(a.read_until_has("ready\n", 10));
  ASSERT_TRUE(b.read_until_has("ready\n", 10));
  ASSERT_TRUE(logged_in(*srv, 22));
  EXPECT_EQ(srv->stats().connected, 22);
  std::vector<std::string> sent;
  for (int i = 0; i < 200; i++) {
    sent.push_back(spot(i));
    srv->publish(sent.back());
  }
  ASSERT_TRUE(a.read_until(finished, 25));
  ASSERT_TRUE(b.read_until(finished, 25));
  auto all = connections(a.out);
  for (auto& c : connections(b.out))
    all.push_back(c);
  ASSERT_EQ(all.size(), 22u);
  for (const auto& c : all) {
    EXPECT_EQ(c.state, "open");
    EXPECT_EQ(spot_lines(c.bytes), sent);
  }
  EXPECT_EQ(srv->stats().dropped, 0u);
}

TEST(Telnet, ClientsThatLeaveAreForgotten) {
  auto srv = server();
  ASSERT_TRUE(srv);
  {
    Child gone(client_args(srv->port(), 3, 0, 10, "leave"));
    ASSERT_TRUE(gone.read_until_has("ready\n", 10));
  }
  ASSERT_TRUE(connected(*srv, 0)) << srv->stats().connected;
  EXPECT_EQ(srv->stats().logged_in, 0);
  for (int i = 0; i < 10; i++)
    srv->publish(spot(i));
  // Someone who leaves before answering.
  {
    Child nc(test::netcat(srv->port()));
    ASSERT_TRUE(nc.read_until_has("call: ", 10));
  }
  ASSERT_TRUE(connected(*srv, 0));
  // The server goes on serving.
  Child c(client_args(srv->port(), 1, 3, 10, "read"));
  ASSERT_TRUE(c.read_until_has("ready\n", 10));
  ASSERT_TRUE(logged_in(*srv, 1));
  for (int i = 10; i < 13; i++)
    srv->publish(spot(i));
  ASSERT_TRUE(c.read_until(finished, 15));
  const auto conns = connections(c.out);
  ASSERT_EQ(conns.size(), 1u);
  EXPECT_EQ(spot_lines(conns[0].bytes), (std::vector<std::string>{spot(10), spot(11), spot(12)}));
}

// Publishes n spots at about 5000 a second (a reader keeps up with that
// easily) and returns the seconds spent inside publish().
double publish_paced(TelnetServer& s, int n) {
  double in_publish = 0;
  for (int i = 0; i < n; i++) {
    const auto t0 = Clock::now();
    s.publish(spot(i));
    in_publish += since(t0);
    if (i % 100 == 99) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return in_publish;
}

TEST(Telnet, StalledClientLosesItsOldestLinesAndIsTold) {
  TelnetOptions o;
  o.send_buffer = 4096;
  o.stall_seconds = 60;
  auto srv = server(o);
  ASSERT_TRUE(srv);
  Child stalled(client_args(srv->port(), 1, 0, 30, "stall", spot(4999) + "\r\n"));
  Child reader(client_args(srv->port(), 1, 5000, 30, "read"));
  ASSERT_TRUE(stalled.read_until_has("ready\n", 10));
  ASSERT_TRUE(reader.read_until_has("ready\n", 10));
  ASSERT_TRUE(logged_in(*srv, 2));

  // publish() does not wait for the stalled client: 5000 calls take far
  // less than a second (waiting for it would take until the test's end).
  EXPECT_LT(publish_paced(*srv, 5000), 1.0);
  ASSERT_TRUE(reader.read_until(finished, 25));
  const auto r = connections(reader.out);
  ASSERT_EQ(r.size(), 1u);
  const auto got = spot_lines(r[0].bytes);
  ASSERT_EQ(got.size(), 5000u);
  for (int i = 0; i < 5000; i++)
    ASSERT_EQ(got[i], spot(i));
  EXPECT_EQ(r[0].bytes.find("***"), std::string::npos);
  const std::uint64_t dropped = srv->stats().dropped;
  EXPECT_GT(dropped, 3000u);  // 1000 lines waiting, a few kB in the kernel

  // The stalled client reads at last: the newest lines, in order, with the
  // gap announced where it is; every line is delivered or counted dropped.
  stalled.write_in("go\n");
  ASSERT_TRUE(stalled.read_until(finished, 25));
  const auto s = connections(stalled.out);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].state, "open");
  const std::string& b = s[0].bytes;
  std::uint64_t told = 0;
  int delivered = 0, last = -1;
  for (std::size_t p = b.find("Hello K0XYZ"); p < b.size();) {
    const std::size_t e = b.find("\r\n", p);
    ASSERT_NE(e, std::string::npos);
    const std::string line = b.substr(p, e - p);
    p = e + 2;
    if (line.rfind("Hello", 0) == 0) continue;
    unsigned long long n = 0;
    char tail[64] = {};
    if (std::sscanf(line.c_str(), "*** %llu spots dropped: %63[^\n]", &n, tail) == 2) {
      EXPECT_STREQ(tail, "your connection is too slow");
      EXPECT_GT(n, 0u);
      told += n;
      continue;
    }
    int i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "DX de MYCALL-#:    7018.3  DL%dABC", &i), 1) << line;
    // A spot follows the last one, or the last one plus what was told dropped.
    EXPECT_GT(i, last);
    EXPECT_EQ(static_cast<std::uint64_t>(i), static_cast<std::uint64_t>(delivered) + told) << line;
    last = i;
    delivered++;
  }
  EXPECT_EQ(last, 4999);
  EXPECT_EQ(static_cast<std::uint64_t>(delivered) + told, 5000u);
  EXPECT_EQ(told, dropped);
  EXPECT_LE(delivered, 1500);
  std::printf("stalled client: %d spots delivered, %llu dropped\n", delivered,
              static_cast<unsigned long long>(told));
}

TEST(Telnet, ClientThatStaysStalledIsDisconnected) {
  TelnetOptions o;
  o.send_buffer = 4096;
  o.stall_seconds = 1;
  o.queue_lines = 100;
  auto srv = server(o);
  ASSERT_TRUE(srv);
  Child stalled(client_args(srv->port(), 1, 0, 30, "stall"));
  Child reader(client_args(srv->port(), 1, 0, 30, "read"));
  ASSERT_TRUE(stalled.read_until_has("ready\n", 10));
  ASSERT_TRUE(reader.read_until_has("ready\n", 10));
  ASSERT_TRUE(logged_in(*srv, 2));
  const auto t0 = Clock::now();
  int i = 0;
  while (srv->stats().stalled_out == 0 && since(t0) < 10) {
    srv->publish(spot(i++));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(srv->stats().stalled_out, 1u);
  EXPECT_GE(since(t0), 1.0);  // not before it had a second to take something
  ASSERT_TRUE(connected(*srv, 1, 5));
  // The server closed the stalled connection; the reader still gets spots.
  stalled.write_in("go\n");
  ASSERT_TRUE(stalled.read_until(finished, 15));
  const auto s = connections(stalled.out);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_NE(s[0].state, "open");
  srv->publish(spot(100000));
  srv->stop();
  ASSERT_TRUE(reader.read_until(finished, 15));
  const auto r = connections(reader.out);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].state, "eof");
  const auto got = spot_lines(r[0].bytes);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back(), spot(100000));
}

TEST(Telnet, StopSendsWhatIsQueuedThenCloses) {
  auto srv = server();
  ASSERT_TRUE(srv);
  Child c(client_args(srv->port(), 3, 0, 20, "read"));
  ASSERT_TRUE(c.read_until_has("ready\n", 10));
  ASSERT_TRUE(logged_in(*srv, 3));
  std::vector<std::string> sent;
  for (int i = 0; i < 900; i++) {
    sent.push_back(spot(i));
    srv->publish(sent.back());
  }
  srv->stop();
  srv->publish(spot(5000));  // after the stop: goes nowhere
  ASSERT_TRUE(c.read_until(finished, 25));
  const auto conns = connections(c.out);
  ASSERT_EQ(conns.size(), 3u);
  for (const auto& k : conns) {
    EXPECT_EQ(k.state, "eof");
    EXPECT_EQ(spot_lines(k.bytes), sent);
  }
}

TEST(Telnet, StopIsBoundedWithAStalledClient) {
  TelnetOptions o;
  o.send_buffer = 4096;
  o.drain_seconds = 1;
  auto srv = server(o);
  ASSERT_TRUE(srv);
  Child stalled(client_args(srv->port(), 1, 0, 30, "stall"));
  ASSERT_TRUE(stalled.read_until_has("ready\n", 10));
  ASSERT_TRUE(logged_in(*srv, 1));
  for (int i = 0; i < 900; i++)
    srv->publish(spot(i));
  const auto t0 = Clock::now();
  srv->stop();
  const double took = since(t0);
  EXPECT_GE(took, 0.9);  // it did try to send
  EXPECT_LT(took, 3.0);
  EXPECT_EQ(srv->stats().connected, 0);
}

TEST(Telnet, TooManyClientsAreToldSo) {
  TelnetOptions o;
  o.max_clients = 2;
  auto srv = server(o);
  ASSERT_TRUE(srv);
  Child ok(client_args(srv->port(), 2, 0, 10, "stall"));
  ASSERT_TRUE(ok.read_until_has("ready\n", 10));
  Child nc(test::netcat(srv->port()));
  ASSERT_TRUE(nc.read_until_has("*** Too many connections, try again later\r\n", 10)) << nc.out;
  EXPECT_EQ(nc.out.find("call:"), std::string::npos);
  EXPECT_EQ(srv->stats().connected, 2);
}

TEST(Telnet, ErrorsComeBackAsMessages) {
  auto first = server();
  ASSERT_TRUE(first);
  TelnetOptions o;
  o.port = first->port();
  std::string error = TelnetServer::start(o).error;
  EXPECT_NE(error.find("Address already in use"), std::string::npos) << error;
  EXPECT_NE(error.find("127.0.0.1 port " + std::to_string(o.port)), std::string::npos) << error;

  for (const char* bad : {"127.0.0.256", "localhost", "example.org", "", "1.2.3.4.5", "::g"}) {
    o.address = bad;
    o.port = 0;
    const auto refused = TelnetServer::start(o);
    EXPECT_FALSE(refused) << bad;
    error = refused.error;
    EXPECT_NE(error.find("bad listen address"), std::string::npos) << bad << ": " << error;
  }
  o.address = "127.0.0.1";
  for (int port : {-1, 65536}) {
    o.port = port;
    const auto refused = TelnetServer::start(o);
    EXPECT_FALSE(refused);
    error = refused.error;
    EXPECT_NE(error.find("bad port"), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace talvo
