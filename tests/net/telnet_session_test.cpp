// A client's session with the node, bytes in and answers out, without
// sockets: login asked again until a call comes, the commands loggers and
// cluster software send, sh/dx from the history, the CC11 format.
#include "net/telnet_session.h"

#include <gtest/gtest.h>

#include <string>

namespace talvo {
namespace {

constexpr std::int64_t kNow = 1796756052;  // 2026-12-08 18:54:12Z

struct Typed {
  TelnetSession s;
  SpotHistory h{5};
  // What the session answers to `text`.
  std::string type(const std::string& text) {
    std::string out;
    s.take(reinterpret_cast<const unsigned char*>(text.data()), text.size(), h, kNow, out);
    return out;
  }
};

std::string line(int i) {
  return "DX de TALVO-#:   14025.0  DL" + std::to_string(i) +
         "ABC         CW    19 dB  28 WPM  CQ      1854Z";
}

TEST(TelnetSession, ALoginThatIsNoCallIsAskedAgain) {
  Typed t;
  EXPECT_EQ(t.type("\r\n"), "Please enter your call: ");
  EXPECT_EQ(t.type("hello world\r\n"),
            "Sorry, 'HELLO WORLD' is not a callsign.\r\nPlease enter your call: ");
  EXPECT_EQ(t.type("abc\n"), "Sorry, 'ABC' is not a callsign.\r\nPlease enter your call: ");
  EXPECT_FALSE(t.s.logged_in());
  EXPECT_FALSE(t.s.wants_spots());
  // Telnet negotiation around it, CR NUL, and a backspace are not part of it.
  const char login[] = "\xff\xfd\x01\xff\xfa\x18\x00xterm\xff\xf0  dl1abcc\x08-2\r";
  EXPECT_EQ(t.type(std::string(login, sizeof login)),  // with the NUL that ends it
            "Hello DL1ABC-2, this is TALVO, a CW skimmer.\r\n");
  EXPECT_TRUE(t.s.logged_in());
  EXPECT_TRUE(t.s.wants_spots());
  EXPECT_EQ(t.s.call(), "DL1ABC-2");
}

TEST(TelnetSession, KeepalivesAndSkimmerCommandsAreAnswered) {
  Typed t;
  t.type("k1abc\n");
  // flcluster's keepalives and N1MM's CR.
  EXPECT_EQ(t.type("sh/time\r\n"), "08-Dec-2026 18:54:12 UTC\r\n");
  EXPECT_EQ(t.type("SHOW/TIME\n"), "08-Dec-2026 18:54:12 UTC\r\n");
  EXPECT_EQ(t.type("\r"), "K1ABC de TALVO 08-Dec-2026 1854Z >\r\n");
  EXPECT_EQ(t.type("\n"), "");  // the LF of that CR
  EXPECT_EQ(t.type("set/skimmer\n"), "Skimmer spots enabled for K1ABC\r\n");
  EXPECT_EQ(t.type("set/nofilter\n"), "No filter set for K1ABC: every spot passes\r\n");
  EXPECT_EQ(t.type("unset/skimmer\n"), "Skimmer spots disabled for K1ABC\r\n");
  EXPECT_FALSE(t.s.wants_spots());
  t.type("set/skimmer\n");
  EXPECT_TRUE(t.s.wants_spots());
  EXPECT_EQ(t.type("dir\n"), "*** unknown command: dir\r\n");
  EXPECT_EQ(t.type("sh/dx many\n"), "*** unknown command: sh/dx many\r\n");
  // Bye: answered, then nothing more is taken.
  std::string out;
  const std::string bye = "bye\r\nsh/time\r\n";
  EXPECT_FALSE(
      t.s.take(reinterpret_cast<const unsigned char*>(bye.data()), bye.size(), t.h, kNow, out));
  EXPECT_EQ(out, "73 de TALVO, K1ABC\r\n");
  EXPECT_TRUE(t.s.leaving());
  EXPECT_FALSE(t.s.wants_spots());
}

TEST(TelnetSession, ShowDxGivesTheLastSpotsOldestFirst) {
  Typed t;
  t.type("k1abc\n");
  EXPECT_EQ(t.type("sh/dx\n"), "");  // none yet
  for (int i = 0; i < 7; i++)
    t.h.add({line(i), kNow});
  // The history keeps the last five.
  EXPECT_EQ(t.type("sh/dx\n"), line(2) + "\r\n" + line(3) + "\r\n" + line(4) + "\r\n" + line(5) +
                                   "\r\n" + line(6) + "\r\n");
  EXPECT_EQ(t.type("show/dx 2\n"), line(5) + "\r\n" + line(6) + "\r\n");
  EXPECT_EQ(t.type("SH/DX 0\n"), "");
  EXPECT_EQ(t.type("sh/dx 99999999\n").size(), 5 * (line(0).size() + 2));
}

TEST(TelnetSession, Ve7ccSwitchesToCc11Lines) {
  Typed t;
  t.type("k1abc\n");
  const HeldSpot s{"DX de W1NT-6-#:  21150.0  YV5B           CW    11 dB  22 WPM  NCDXF B 1854Z",
                   kNow};
  EXPECT_EQ(t.s.render(s), s.line + "\r\n");
  EXPECT_EQ(t.type("set/ve7cc\n"), "CC11 spot format set for K1ABC\r\n");
  EXPECT_EQ(t.s.render(s),
            "CC11^21150.0^YV5B^08-Dec-2026^1854Z^CW 11 dB 22 WPM NCDXF B^W1NT-6-#^^^TALVO\r\n");
  t.type("unset/ve7cc\n");
  EXPECT_EQ(t.s.render(s), s.line + "\r\n");
  // Not a spot line: sent as it is.
  EXPECT_EQ(cc11_line("WWV de ...", kNow), "");
}

TEST(TelnetSession, LongAndBinaryInputStaysBounded) {
  Typed t;
  std::string junk(100000, 'x');
  junk += "\x01\x02\xfe\xfe";
  EXPECT_EQ(t.type(junk), "");
  const std::string out = t.type("\n");
  EXPECT_LT(out.size(), 100u) << out;
  EXPECT_FALSE(t.s.logged_in());
}

}  // namespace
}  // namespace talvo
