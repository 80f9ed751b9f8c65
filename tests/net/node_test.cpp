// The spot server as a cluster node, with real clients on 127.0.0.1: a
// Python client that logs in late and walks through the commands loggers
// send (reading every answer against a deadline), and nc. The spot lines it
// receives are read by column as DXSpider and the loggers read them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/telnet_server.h"
#include "spots/spot.h"
#include "support/loopback.h"
#include "support/piped_child.h"
#include "support/stopwatch.h"

namespace talvo {
namespace {

using Child = test::PipedChild;

// argv: port, seconds. Steps through a session; before each step prints
// "== NAME", then what the server answered up to the step's marker (or
// "TIMEOUT"). The spot lines of sh/dx are also parsed by column and printed
// as "col SPOTTER|FREQ|CALL|SNR|WPM|TYPE|TIME".
const char* const kSession = R"PY(
import socket, sys, time
port, secs = int(sys.argv[1]), float(sys.argv[2])
deadline = time.time() + secs
s = socket.create_connection(('127.0.0.1', port), timeout=secs)
buf = b''
def until(marker, count=1):
    global buf
    while buf.count(marker) < count:
        s.settimeout(max(0.05, deadline - time.time()))
        try:
            d = s.recv(4096)
        except socket.timeout:
            return 'TIMEOUT\n'
        if not d:
            got, buf = buf, b''
            return got.decode() + 'EOF\n'
        buf += d
    end = 0
    for _ in range(count):
        end = buf.index(marker, end) + len(marker)
    got, buf = buf[:end], buf[end:]
    return got.decode()
def step(name, send, marker, count=1):
    sys.stdout.write('== %s\n' % name)
    sys.stdout.flush()
    if send is not None:
        s.sendall(send)
    got = until(marker, count)
    sys.stdout.write(got.replace('\r\n', '\n'))
    sys.stdout.flush()
    return got
step('prompt', None, b'call: ')
step('not a call', b'hello there\r\n', b'call: ')
step('login', b'k1abc\r\n', b'skimmer.\r\n')
got = step('sh/dx 5', b'sh/dx 5\r\n', b'\r\n', 5)
for l in got.split('\r\n'):
    if l.startswith('DX de '):
        print('col %s|%s|%s|%s|%s|%s|%s' % (l[6:l.index(':')], l[15:24].strip(), l[26:41].strip(),
              l[41:43], l[43:49].strip(), l[62:70].strip(), l[70:75]))
step('sh/dx', b'sh/dx\r\n', b'\r\n', 30)
step('blank', b'\r\n', b'>\r\n')
step('sh/time', b'sh/time\r\n', b'UTC\r\n')
step('set/skimmer', b'set/skimmer\r\n', b'\r\n')
step('unknown', b'rm -rf /\r\n', b'\r\n')
step('set/ve7cc', b'set/ve7cc\r\n', b'\r\n')
step('cc11 spot', None, b'\r\n')
step('bye', b'bye\r\n', b'\r\n')
step('closed', None, b'never')
)PY";

// The i-th spot line, as the skimmer makes it.
std::string spot(int i) {
  spots::Spot s;
  s.call = "DL" + std::to_string(i) + "ABC";
  s.freq_hz = 14000000.0 + 1000 * i;
  s.snr_db = i;
  s.wpm = 28;
  s.type = spots::SpotType::kCq;
  s.utc = 1796756040;  // 2026-12-08 18:54Z
  return spots::spot_line("DL0TST", s);
}

// What one step of the session printed.
std::string step(const std::string& out, const std::string& name) {
  const std::size_t a = out.find("== " + name + "\n");
  if (a == std::string::npos) return "(no step " + name + ")";
  const std::size_t b = out.find("== ", a + 4 + name.size());
  const std::size_t from = a + 4 + name.size();
  return out.substr(from, b == std::string::npos ? std::string::npos : b - from);
}

TEST(TelnetNode, ALateClientGetsTheBandAndItsCommandsAnswered) {
  TelnetOptions o;
  o.port = 0;
  auto started = TelnetServer::start(o);
  ASSERT_TRUE(started) << started.error;
  TelnetServer& srv = *started.source;
  // Forty spots before anyone connects.
  for (int i = 0; i < 40; i++)
    srv.publish(spot(i), 1796756052 + i);
  ASSERT_EQ(srv.stats().spots, 40u);
  Child c(test::python_script(kSession, {std::to_string(srv.port()), "20"}));
  ASSERT_TRUE(c.read_until_has("== cc11 spot\n", 20)) << c.out;
  srv.publish(spot(40), 1796756052 + 40);
  ASSERT_TRUE(c.read_until_has("== closed\n", 20)) << c.out;
  ASSERT_TRUE(c.read_until_has("EOF\n", 10)) << c.out;
  const std::string& out = c.out;
  EXPECT_EQ(step(out, "prompt"), "Please enter your call: ");
  EXPECT_EQ(step(out, "not a call"),
            "Sorry, 'HELLO THERE' is not a callsign.\nPlease enter your call: ");
  EXPECT_EQ(step(out, "login"), "Hello K1ABC, this is TALVO, a CW skimmer.\n");
  // The last five, oldest first, and every column where a parser looks.
  std::string want;
  for (int i = 35; i < 40; i++)
    want += spot(i) + "\n";
  EXPECT_EQ(step(out, "sh/dx 5"), want + "col DL0TST-#|14035.0|DL35ABC|CW|35|CQ|1854Z\n" +
                                      "col DL0TST-#|14036.0|DL36ABC|CW|36|CQ|1854Z\n" +
                                      "col DL0TST-#|14037.0|DL37ABC|CW|37|CQ|1854Z\n" +
                                      "col DL0TST-#|14038.0|DL38ABC|CW|38|CQ|1854Z\n" +
                                      "col DL0TST-#|14039.0|DL39ABC|CW|39|CQ|1854Z\n");
  // Thirty by default: 10 .. 39.
  want.clear();
  for (int i = 10; i < 40; i++)
    want += spot(i) + "\n";
  EXPECT_EQ(step(out, "sh/dx"), want);
  const std::string prompt = step(out, "blank");
  EXPECT_EQ(prompt.rfind("K1ABC de TALVO ", 0), 0u) << prompt;
  EXPECT_EQ(prompt.substr(prompt.size() - 4), "Z >\n") << prompt;
  EXPECT_EQ(step(out, "sh/time").substr(step(out, "sh/time").size() - 5), " UTC\n");
  EXPECT_EQ(step(out, "set/skimmer"), "Skimmer spots enabled for K1ABC\n");
  EXPECT_EQ(step(out, "unknown"), "*** unknown command: rm -rf /\n");
  EXPECT_EQ(step(out, "set/ve7cc"), "CC11 spot format set for K1ABC\n");
  EXPECT_EQ(step(out, "cc11 spot"),
            "CC11^14040.0^DL40ABC^08-Dec-2026^1854Z^CW 40 dB 28 WPM CQ^DL0TST-#^^^TALVO\n");
  EXPECT_EQ(step(out, "bye"), "73 de TALVO, K1ABC\n");
  EXPECT_EQ(step(out, "closed"), "EOF\n");
}

TEST(TelnetNode, NetcatIsAskedAgainAndAnsweredLikeALogger) {
  TelnetOptions o;
  o.port = 0;
  auto started = TelnetServer::start(o);
  ASSERT_TRUE(started) << started.error;
  TelnetServer& srv = *started.source;
  srv.publish(spot(1));
  Child nc(test::netcat(srv.port()));
  ASSERT_TRUE(nc.read_until_has("call: ", 10)) << nc.out;
  nc.write_in("-\n");
  ASSERT_TRUE(nc.read_until_has("Sorry, '-' is not a callsign.\r\nPlease enter your call: ", 10))
      << nc.out;
  nc.write_in("n1mm\n");
  ASSERT_TRUE(nc.read_until_has("Hello N1MM,", 10)) << nc.out;
  nc.write_in("sh/dx 1\n");
  ASSERT_TRUE(nc.read_until_has(spot(1) + "\r\n", 10)) << nc.out;
  // A spot published now comes as it is made.
  srv.publish(spot(2));
  ASSERT_TRUE(nc.read_until_has(spot(2) + "\r\n", 10)) << nc.out;
  nc.write_in("\r");  // N1MM's keepalive
  ASSERT_TRUE(nc.read_until_has("N1MM de TALVO ", 10)) << nc.out;
  nc.write_in("quit\n");
  ASSERT_TRUE(nc.read_until_has("73 de TALVO, N1MM\r\n", 10)) << nc.out;
  // The server closes the connection, and forgets the client.
  const auto t0 = test::Clock::now();
  while (srv.stats().connected != 0 && test::since(t0) < 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(srv.stats().connected, 0);
}

}  // namespace
}  // namespace talvo
