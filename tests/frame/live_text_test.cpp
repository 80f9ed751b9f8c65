// talvo-decode as an operator watching a band meets it: text on the screen
// as it is decoded, a line per over with its time, the stations heard at the
// end, MP3 and non-audio piped in, every option either doing what it says or
// refused with the reason, and the README's sample commands printing what
// the README shows.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/lines.h"
#include "input/diagnosis.h"
#include "input/sniff.h"
#include "support/loopback.h"
#include "support/piped_child.h"
#include "support/process.h"
#include "support/render.h"
#include "support/run_decode.h"
#include "support/stations.h"
#include "support/write_audio.h"

namespace talvo {
namespace {

using test::lines_of;
using test::run;
using test::TempDir;

// "[hh:mm:ss.s]" as seconds; -1 when the line has none.
double line_time(const std::string& l) {
  int h = 0, m = 0;
  double s = 0;
  return std::sscanf(l.c_str(), "[%d:%d:%lf]", &h, &m, &s) == 3 ? h * 3600 + m * 60 + s : -1;
}

// The stations keyed into raw S16LE 48 kHz audio, `seconds` long, each of
// amplitude 4000 with noise for 15 dB SNR.
std::string band(const std::vector<test::Station>& st, double seconds) {
  return test::s16le(
      test::render(test::station_tones(st, 4000, 0.7), seconds, test::noise_for_snr(4000, 15)));
}

// A decoded string of cluster 0 (700 Hz) at `t` seconds of 48 kHz audio.
EngineEvent text_at(double t, const std::string& s) {
  EngineEvent e;
  e.sample = static_cast<long long>(t * 48000);
  e.center_hz = 700;
  e.cpm = 100;
  e.wpm = 20;
  e.text = s;
  return e;
}

TEST(OverLines, ALineEndsWithTheOverAPauseOrItsWidth) {
  std::vector<TextLine> got;
  OverLines lines(48000, [&](const TextLine& l) { got.push_back(l); });
  // "k" and the word space after it end the over; "kn" inside a word does not.
  double t = 1.0;
  for (const char* s : {" ", "c", "q", " ", "k", "n", "o", "w", " ", "k"}) {
    lines.text(text_at(t, s));
    t += 0.1;
  }
  EXPECT_TRUE(got.empty());
  lines.text(text_at(t, " "));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].text, "cq know k");
  EXPECT_NEAR(got[0].t, 1.1, 1e-4);  // its first character, not the blank before it
  // Silence: 4.9 s after the last string the line is open, at 5 s it ends.
  lines.text(text_at(10.0, "d"));
  lines.text(text_at(10.1, "e"));
  lines.advanced(static_cast<long long>(15.0 * 48000) - 1);
  EXPECT_EQ(got.size(), 1u);
  lines.advanced(static_cast<long long>(15.1 * 48000));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].text, "de");
  // "bk" hands over at the end of an over, not where it opens one.
  for (const char* str : {"b", "k", " ", "u", "r", " ", "b", "k", " "})
    lines.text(text_at(16.0, str));
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[2].text, "bk ur bk");
  got.pop_back();
  // Past 80 characters the line breaks at its last word space and the word
  // in progress starts the next one, at the time it grew too long.
  const std::string word = "abcdefghi ";  // ten characters a word
  t = 20.0;
  for (int w = 0; w < 8; w++)
    for (char c : word) {
      lines.text(text_at(t, std::string(1, c)));
      t += 0.01;
    }
  EXPECT_EQ(got.size(), 2u);  // 80 characters with the last blank: not yet
  for (char c : std::string("xy")) {
    lines.text(text_at(t, std::string(1, c)));
    t += 0.01;
  }
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[2].text.size(), 79u);
  EXPECT_EQ(got[2].text.substr(70), "abcdefghi");
  lines.finish();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[3].text, "xy");
  EXPECT_NEAR(got[3].t, 20.80, 1e-4);  // when "x" came
  EXPECT_EQ(clock_time(3723.45), "[01:02:03.5]");
}

TEST(OverLines, StringsHandedOutTogetherKeepTheirTimesAndPauses) {
  // A cluster's first strings come out together once it is judged Morse,
  // each with the time it was keyed: the line starts at the first one, and a
  // pause of 5 s between two of them ends it as it would have live.
  std::vector<TextLine> got;
  OverLines lines(48000, [&](const TextLine& l) { got.push_back(l); });
  lines.text(text_at(2.0, "c"));
  lines.text(text_at(2.4, "q"));
  lines.text(text_at(7.5, "d"));
  lines.text(text_at(7.7, "e"));
  lines.advanced(static_cast<long long>(9.0 * 48000));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].text, "cq");
  EXPECT_NEAR(got[0].t, 2.0, 1e-4);
  lines.finish();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].text, "de");
  EXPECT_NEAR(got[1].t, 7.5, 1e-4);
}

TEST(LiveText, ALineAppearsWhileTheSoundCardStillRuns) {
  // The fake arecord plays the band at the pace of a sound card (96000
  // bytes a second) and then keeps its pipe open; its over ends with "k"
  // some 6 s in (141 dot lengths at 30 wpm), and 6 s of band noise follow.
  TempDir bin;
  bin.write("rec.raw", band({{700, 30, "cq de dl1abc k", 0.3}}, 12.0));
  bin.write("arecord",
            "#!/bin/sh\npv -qL 96000 " + bin.file("rec.raw") + "\ntouch " + bin.file("played") +
                "\nexec sleep 60\n",
            true);
  test::PipedChild prog({TALVO_DECODE, "--live", "--span", "600-800"}, {true, false, bin.path()});
  ASSERT_TRUE(prog.read_until_has(" k\n", 11)) << prog.out;
  EXPECT_FALSE(bin.exists("played"));  // before the stream ended
  const auto l = lines_of(prog.out);
  ASSERT_EQ(l.size(), 1u) << prog.out;
  EXPECT_GT(line_time(l[0]), 0.3);
  EXPECT_LT(line_time(l[0]), 3.0);
  EXPECT_NE(l[0].find("]    700 Hz  "), std::string::npos) << l[0];
  EXPECT_NE(l[0].find(" dB  cq de dl1abc k"), std::string::npos) << l[0];
  kill(-prog.pid(), SIGINT);
  EXPECT_EQ(prog.wait(10), 130);
  EXPECT_EQ(lines_of(prog.out).size(), 1u) << prog.out;  // no summary after it
}

TEST(LiveText, TimestampsCutARecordingByOver) {
  // One station, two overs some 7 s apart, neither ended with "k": the
  // pause ends the first line (its over, 125 dot lengths at 25 wpm, ends
  // near 6.5 s).
  TempDir dir;
  const std::string wav = dir.file("two.wav");
  const std::vector<test::Station> st = {{700, 25, "cq de dl1abc", 0.5},
                                         {700, 25, "dl1abc de g4abc", 14.0}};
  ASSERT_EQ(test::write_float_wav(wav, test::render(test::station_tones(st, 4000, 0.7), 22.0,
                                                    test::noise_for_snr(4000, 15))),
            "");
  const auto r = test::run_decode({"--timestamps", "--span", "600-800", wav});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto l = lines_of(r.out);
  ASSERT_EQ(l.size(), 2u) << r.out;
  EXPECT_NE(l[0].find("  cq de dl1abc"), std::string::npos) << l[0];
  EXPECT_NE(l[1].find("  dl1abc de g4abc"), std::string::npos) << l[1];
  EXPECT_GT(line_time(l[0]), 0.5);
  EXPECT_LT(line_time(l[0]), 3.0);
  EXPECT_GT(line_time(l[1]), 14.0);
  EXPECT_LT(line_time(l[1]), 16.5);
  // Without --timestamps a recording gives one line per cluster, as always.
  const auto plain = test::run_decode({"--span", "600-800", wav});
  ASSERT_EQ(lines_of(plain.out).size(), 1u) << plain.out;
  EXPECT_NE(plain.out.find("dl1abc dl1abc de g4abc\n"), std::string::npos) << plain.out;
}

TEST(Summary, ListsTheStationsHeardByFrequency) {
  const auto r = test::run_decode({"--summary", "--dial", "7000", TALVO_SAMPLE});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::size_t at = r.out.find("stations heard: 5\n");
  ASSERT_NE(at, std::string::npos) << r.out;
  const auto l = lines_of(r.out.substr(at));
  ASSERT_EQ(l.size(), 6u) << r.out;
  const char* calls[] = {"OK1XYZ", "G4ABC", "DL1ABC", "DK9ZZ", "VE3XYZ"};
  const int wpms[] = {12, 16, 20, 24, 30};
  for (int i = 0; i < 5; i++) {
    char call[20] = {}, first[20] = {}, last[20] = {};
    double f = 0, snr = 0;
    int heard = 0, spots = 0, wpm = 0;
    ASSERT_EQ(std::sscanf(l[static_cast<std::size_t>(i) + 1].c_str(),
                          " %19s %lf kHz %10[0-9:.]-%10[0-9:.] %d heard %d spots %lf dB %d wpm",
                          call, &f, first, last, &heard, &spots, &snr, &wpm),
              8)
        << l[static_cast<std::size_t>(i) + 1];
    EXPECT_STREQ(call, calls[i]);
    EXPECT_NEAR(f, 7000.5 + 0.1 * i, 0.01);  // sorted by frequency
    // The sample sends each call twice: enough for a call in the list of
    // active calls, one short of the three copies any other call needs.
    EXPECT_EQ(spots, 0);
    EXPECT_GT(snr, 15);
    EXPECT_EQ(wpm, wpms[i]);
  }
  // A live or piped input lists them on Ctrl-C too.
  const auto piped = test::run_until_signal({TALVO_DECODE, "--summary", "--span", "600-800", "-"},
                                            band({{700, 30, "cq de dl1abc k", 0.3}}, 8.0), SIGINT);
  EXPECT_EQ(piped.status, 130);
  EXPECT_NE(piped.out.find("stations heard: 1\n  DL1ABC "), std::string::npos) << piped.out;
}

TEST(Options, CombinationsThatWouldDoNothingAreRefusedWithTheReason) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--timestamps", "--spots", "x.wav"}, "--timestamps times the text lines"},
      {{"--spots", "--format", "json", "x.wav"}, "--spots prints spot lines in the text format"},
      {{"--spots", "--format", "events", "x.wav"}, "--spots prints spot lines in the text"},
      {{"--timestamps", "--format", "json", "x.wav"}, "--timestamps is for the text format"},
      {{"--listen", "0.0.0.0", "x.wav"}, "--listen sets the spot server's address: it needs"},
      {{"--receiver", "classic", "--summary", "x.wav"}, "--summary, --spotter, --dial and"},
      {{"--receiver", "classic", "--sideband", "lsb", "x.wav"}, "--summary, --spotter, --dial"},
      {{"--dial", "7000", "x.wav"}, "--spotter, --dial and --sideband shape the spots: they"},
      {{"--spotter", "dl0xx", "--format", "json", "x.wav"}, "--spotter, --dial and --sideband"},
      {{"--summary", "--format", "json", "x.wav"}, "--summary is for the text format"},
      {{"--gain", "2", "x.wav"}, "--gain and --auto-gain are for --receiver classic"},
      {{"--auto-gain", "x.wav"}, "--gain and --auto-gain are for --receiver classic"},
      {{"--raw", "x.wav"}, "--raw is for standard input (-)"},
      {{"--live", "--channel", "1"}, "--channel picks a channel of a file"},
  };
  for (const auto& [args, why] : cases) {
    const auto r = test::run_decode(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.err.rfind("talvo-decode: " + why, 0), 0u) << r.err;
    EXPECT_NE(r.err.find("\nTry 'talvo-decode --help'.\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST(Listen, AHostNameIsResolved) {
  const int port = test::free_port();
  ASSERT_GT(port, 0);
  test::PipedChild prog(
      {TALVO_DECODE, "--spots", "--telnet", std::to_string(port), "--listen", "localhost", "-"},
      {true, true, ""});
  // nc retries until the server listens, within the deadline.
  std::string got;
  for (int i = 0; i < 20 && got.find("call:") == std::string::npos; i++) {
    test::RunOptions o;
    o.seconds = 2;
    got = run({"/bin/sh", "-c",
               "printf 'dl0tst\\r\\n' | nc -q 1 -w 1 127.0.0.1 " + std::to_string(port)},
              o)
              .out;
  }
  EXPECT_NE(got.find("Please enter your call:"), std::string::npos) << got << prog.out;
  prog.close_in();
  EXPECT_EQ(prog.wait(10), 0) << prog.out;
  // A name that names nothing is refused before anything is read.
  const auto bad = test::run_decode(
      {"--spots", "--telnet", std::to_string(port), "--listen", "no-such-host.invalid", "-"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err,
            "talvo-decode: spot server: --listen no-such-host.invalid: no such host or address\n");
}

TEST(Stdin, Mp3IsDecodedPipedAndAsAFile) {
  TempDir dir;
  dir.write("t.txt", "cq de dl1abc dl1abc k\n");
  ASSERT_EQ(run({"/bin/sh", "-c",
                 "cd " + dir.path() + " && ebook2cw -w 20 -f 700 -s 44100 -b 64 -o cw t.txt"})
                .status,
            0);
  const std::string mp3 = dir.file("cw0000.mp3");
  ASSERT_TRUE(dir.exists("cw0000.mp3"));
  const std::string bytes = TempDir::contents(mp3);
  EXPECT_EQ(sniff(reinterpret_cast<const unsigned char*>(bytes.data()),
                  std::min(bytes.size(), kHeadBytes)),
            StreamKind::kMp3);
  for (const bool piped : {true, false}) {
    test::RunOptions o;
    if (piped) o.input = bytes;
    const auto r = test::run_decode({"--span", "650-750", piped ? "-" : mp3}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("   700 Hz  20 wpm "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("de dl1abc dl1abc k\n"), std::string::npos) << piped << r.out;
  }
}

TEST(Stdin, TextAndOtherFilesAreNotAudio) {
  const std::string text = "cq cq de dl1abc\n73 es gl\n" + std::string(600, 'x');
  test::RunOptions o;
  o.input = text;
  const auto r = test::run_decode({"-"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "talvo-decode: -: not audio: it starts like text (--raw reads it as raw S16LE all "
            "the same)\n");
  EXPECT_EQ(test::run_decode({"--raw", "-"}, o).status, 0);  // as asked
  const auto u = [](const std::string& s) {
    return sniff(reinterpret_cast<const unsigned char*>(s.data()), s.size());
  };
  EXPECT_EQ(u("caf\xc3\xa9 " + std::string(40, 'a')), StreamKind::kNotAudio);  // UTF-8 text
  EXPECT_EQ(u(std::string("\x1f\x8b\x08\0", 4)), StreamKind::kNotAudio);
  EXPECT_EQ(u("%PDF-1.4"), StreamKind::kNotAudio);
  EXPECT_EQ(u("ID3\x04"), StreamKind::kMp3);
  // Raw audio: silence, quiet noise, a text-like start cut short.
  EXPECT_EQ(u(std::string(512, '\0')), StreamKind::kRaw);
  EXPECT_EQ(u(test::s16le(test::render({}, 0.01, 300))), StreamKind::kRaw);
  EXPECT_EQ(u(std::string(31, 'a')), StreamKind::kRaw);
  // One MPEG frame header alone (a sample of -7169 and what follows) is not MP3: the
  // next header must sit where the frame ends (417 bytes on at 128 kbps, 44.1 kHz).
  std::string frame(600, '\x11');
  frame[0] = '\xff', frame[1] = '\xfb', frame[2] = '\x90', frame[3] = '\x00';
  EXPECT_EQ(u(frame), StreamKind::kRaw);
  frame[417] = '\xff', frame[418] = '\xfb', frame[419] = '\x90';
  EXPECT_EQ(u(frame), StreamKind::kMp3);
}

TEST(Diagnosis, LoudAudioWithoutAToneIsSignalsWithoutMorse) {
  LoudestTone loud;
  loud.silent = false;
  loud.hz = 1234;
  loud.dbfs = -22;
  loud.above_floor_db = 8;  // no tone stands out
  const std::string said =
      "signals found but no Morse decoded: the loudest, at 1234 Hz and \u221222 dBFS, stands "
      "only 8 dB above the rest (speech, music or noise, not a keyed tone)";
  EXPECT_EQ(diagnose_span(loud, 300, 2700), said);
  EXPECT_EQ(diagnose(loud, 700, 1.0, false), said);
  // At -35 dBFS still loud; below it the quiet of an empty input.
  loud.dbfs = -35;
  EXPECT_EQ(diagnose_span(loud, 300, 2700).rfind("signals found but no Morse", 0), 0u);
  loud.dbfs = -35.5;
  EXPECT_EQ(diagnose_span(loud, 300, 2700),
            "no signal found: the loudest tone was at \u221236 dBFS");
  // A tone that stands out, but among sound as loud over 650 Hz (speech):
  // no keyed tone either. Over 150 Hz (five stations side by side) it is.
  loud.dbfs = -16;
  loud.hz = 417;
  loud.above_floor_db = 40;
  loud.wide_hz = 650;
  EXPECT_EQ(diagnose(loud, 700, 1.0, false),
            "signals found but no Morse decoded: the loudest, at 417 Hz and \u221216 dBFS, is as "
            "loud as sound over 650 Hz of the spectrum (speech, music or noise, not a keyed tone)");
  loud.wide_hz = 150;
  EXPECT_EQ(diagnose(loud, 700, 1.0, false).rfind("signals found at 417 Hz, outside the", 0), 0u);
  // End to end: speech, loud, without Morse.
  TempDir dir;
  ASSERT_EQ(run({"/bin/sh", "-c",
                 "espeak-ng -w " + dir.file("s.wav") +
                     " 'this is speech with no morse code in it at all, said loudly'"})
                .status,
            0);
  const auto r = test::run_decode({"--receiver", "classic", dir.file("s.wav")});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("talvo-decode: signals found but no Morse decoded: the loudest, at ", 0),
            0u)
      << r.err;
}

// The README's sample commands: each "$ talvo-decode ARGS" in an indented
// block, and the lines under it up to a blank line ("..." ends what is shown).
struct Recipe {
  std::vector<std::string> args;
  std::vector<std::string> shown;
};

std::vector<Recipe> readme_recipes(const std::string& readme) {
  std::vector<Recipe> r;
  const auto l = lines_of(readme);
  for (std::size_t i = 0; i < l.size(); i++) {
    const std::size_t d = l[i].find("$ talvo-decode ");
    if (d == std::string::npos || l[i].find_first_not_of(' ') != d) continue;
    Recipe x;
    std::istringstream words(l[i].substr(d + 15));
    for (std::string w; words >> w;)
      x.args.push_back(w);
    for (std::size_t k = i + 1; k < l.size() && l[k].size() > d && l[k].find("...") == l[k].npos;
         k++)
      x.shown.push_back(l[k].substr(d));
    r.push_back(x);
  }
  return r;
}

TEST(Readme, TheSampleCommandsPrintWhatTheReadmeShows) {
  const std::filesystem::path source =
      std::filesystem::path(TALVO_SAMPLE).parent_path().parent_path();
  const auto recipes = readme_recipes(TempDir::contents((source / "README.md").string()));
  ASSERT_GE(recipes.size(), 3u);
  for (const Recipe& x : recipes) {
    test::RunOptions o;
    o.cwd = source.string();
    const auto r = test::run_decode(x.args, o);
    EXPECT_EQ(r.status, 0) << x.args.back() << r.err;
    const auto out = lines_of(r.out);
    ASSERT_GE(out.size(), x.shown.size()) << r.out;
    for (std::size_t i = 0; i < x.shown.size(); i++)
      EXPECT_EQ(out[i], x.shown[i]) << "README: talvo-decode " << x.args[0] << " ...";
  }
}

}  // namespace
}  // namespace talvo
