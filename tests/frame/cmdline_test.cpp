// The command line, the layout that follows from it, and txtext.asc.
#include "frame/cmdline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "frame/startup.h"

namespace talvo {
namespace {

std::string parse(std::vector<const char*> args, Settings& s) {
  args.insert(args.begin(), "talvo");
  return parse_command_line(static_cast<int>(args.size()), args.data(), s).value_or("");
}

TEST(CommandLine, UsageTextIsTheTenLines) {
  EXPECT_EQ(usage_text("./talvo"),
            "Usage: ./talvo [--receiver fine|classic] centerfrequency [width] "
            "[notone|rxtone|txtone] [stdin|pipe] [serial device]  \n"
            "\tDetects and transmits cw.\n"
            "\tWindow width default 1200\n"
            "\tInput from pipe with\n"
            "\tarecord -D sysdefault -t raw -c 1 -r 48000 -f S16_LE\n"
            "\tor from stdin.\n"
            "\tWith option rxtone the audio input goes also to the audio output.\n"
            "\tWith option txtone the tx signal is piped into aplay -r 48000 -t raw -f S16_LE -c "
            "1 \n"
            "\toptional key output on RTS of serial TTY device\n"
            "\tVersion velquin36v1\n");
}

TEST(CommandLine, PositionalArguments) {
  Settings s;
  EXPECT_EQ(parse({"700"}, s), "");
  EXPECT_EQ(s.centerfreq, 700);
  EXPECT_EQ(s.width, 1200);
  EXPECT_EQ(s.height, 480);
  EXPECT_EQ(s.sidetone, notone);
  EXPECT_FALSE(s.from_stdin);
  EXPECT_EQ(s.rtsout, 0);

  Settings t;
  EXPECT_EQ(parse({"800", "900", "rxtone", "stdin", "/dev/ttyUSB0", "ignored"}, t), "");
  EXPECT_EQ(t.centerfreq, 800);
  EXPECT_EQ(t.width, 900);
  EXPECT_EQ(t.height, 480);
  EXPECT_EQ(t.sidetone, rxtone);
  EXPECT_TRUE(t.from_stdin);
  EXPECT_EQ(t.rtsout, 1);
  EXPECT_EQ(t.seroutdev, "/dev/ttyUSB0");

  // The words are compared exactly; anything else means notone and the pipe.
  for (const char* word : {"notone", "TXTONE", "tone", ""}) {
    Settings u;
    EXPECT_EQ(parse({"700", "1200", word, "STDIN"}, u), "");
    EXPECT_EQ(u.sidetone, notone) << word;
    EXPECT_FALSE(u.from_stdin);
  }
  Settings v;
  EXPECT_EQ(parse({"700", "1200", "txtone", "pipe"}, v), "");
  EXPECT_EQ(v.sidetone, txtone);
  EXPECT_FALSE(v.from_stdin);
}

TEST(CommandLine, RefusesWhatTheChannelPlanAndLayoutCannotServe) {
  for (const char* f : {"0", "abc", "-700", "459", "100000", "23790"}) {
    Settings s;
    const std::string m = parse({f}, s);
    EXPECT_EQ(m, std::string("centre frequency ") + f + " out of range: use 460 to 23789 Hz\n");
  }
  for (const char* f : {"460", "23789"}) {
    Settings s;
    EXPECT_EQ(parse({f}, s), "") << f;
  }
  for (const char* w : {"10", "445", "2494", "99999", "wide"}) {
    Settings s;
    EXPECT_EQ(parse({"700", w}, s),
              std::string("window width ") + w + " out of range: use 446 to 2493 pixels\n");
  }
  for (const char* w : {"446", "2493"}) {
    Settings s;
    EXPECT_EQ(parse({"700", w}, s), "") << w;
  }
}

TEST(Layout, TextRowWidthFollowsTheWindowWidth) {
  Station st;
  fix_layout(st);
  EXPECT_EQ(st.textbufwidth, 100);
  st.set.width = 800;
  fix_layout(st);
  EXPECT_EQ(st.textbufwidth, 50);
  EXPECT_EQ(st.wasserwidth, 350);
  EXPECT_EQ(st.Xatxtext, 390);
}

struct Rows {
  char r[16][255];
};

Rows read(const std::string& text, int limit = 100) {
  Rows rows;
  std::memset(rows.r, 'x', sizeof rows.r);
  FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  if (text.empty()) f = std::fopen("/dev/null", "r");
  read_txtext(f, limit, rows.r);
  std::fclose(f);
  return rows;
}

TEST(Txtext, LinesGoToRowsWithoutTheirNewline) {
  const Rows a = read("cq cq de dl1abc\n73\n\ntest\n");
  EXPECT_STREQ(a.r[0], "cq cq de dl1abc");
  EXPECT_STREQ(a.r[1], "73");
  EXPECT_STREQ(a.r[2], "");
  EXPECT_STREQ(a.r[3], "test");
  for (int i = 4; i < 16; i++)
    EXPECT_STREQ(a.r[i], "") << i;

  // A last line without a newline keeps its last character.
  EXPECT_STREQ(read("first\nlast").r[1], "last");
  EXPECT_STREQ(read("").r[0], "");
}

TEST(Txtext, SixteenRowsAtMostAndLongLinesSplitAtTheReadLimit) {
  std::string many;
  for (int i = 1; i <= 20; i++)
    many += "line " + std::to_string(i) + "\n";
  const Rows a = read(many);
  EXPECT_STREQ(a.r[0], "line 1");
  EXPECT_STREQ(a.r[15], "line 16");

  // At most limit - 1 characters per read: the rest of the line follows.
  const Rows b = read("abcdefghij\nk\n", 5);
  EXPECT_STREQ(b.r[0], "abcd");
  EXPECT_STREQ(b.r[1], "efgh");
  EXPECT_STREQ(b.r[2], "ij");
  EXPECT_STREQ(b.r[3], "k");

  // A wide window's read limit is bounded by the 255-byte row.
  const std::string longline(400, 'q');
  const Rows c = read(longline + "\n", 261);
  EXPECT_EQ(std::strlen(c.r[0]), 254u);
  EXPECT_EQ(std::strlen(c.r[1]), 146u);
}

}  // namespace
}  // namespace talvo
