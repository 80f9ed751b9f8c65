// talvo-decode with the radio and the network, run as an operator runs it
// against real programs the tests start on free ports of 127.0.0.1 and stop:
// rigctld with hamlib's dummy rig, set by rigctl (a QSY mid-stream, rigctld
// killed and started again, none at all), mosquitto with mosquitto_sub as an
// independent reader (every spot of a run; the broker restarted
// mid-stream), and two skimmers feeding one talvo-node whose telnet client
// sees both as they come.
//
// The streams are raw S16LE written at real-time pace, so that the spots
// are made while the test turns the dial. Every wait is bounded by a
// deadline; child processes are killed when their test ends.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frame/spot_links.h"
#include "mqtt/broker.h"
#include "mqtt/spot_message.h"
#include "rig/rigctld.h"
#include "support/loopback.h"
#include "support/piped_child.h"
#include "support/process.h"
#include "support/render.h"
#include "support/stations.h"
#include "support/write_audio.h"

namespace talvo {
namespace {

using test::Broker;
using test::free_port;
using test::PipedChild;
using test::Station;

// One station rendered at 15 dB over the noise in 500 Hz.
std::string audio(const Station& st, double seconds, std::uint32_t seed = 5) {
  const double amp = 4000;
  return test::s16le(test::render(test::station_tones({st}, amp, 0.7), seconds,
                                  test::noise_for_snr(amp, 15), seed));
}

// Silence of `seconds` as raw S16LE.
std::string silence(double seconds) {
  return std::string(static_cast<std::size_t>(seconds * 48000) * 2, '\0');
}

// talvo-decode reading a raw stream on standard input, its standard error
// merged into what the test reads.
struct Skimmer : PipedChild {
  explicit Skimmer(std::vector<std::string> args)
      : PipedChild(with_program(std::move(args)), {true, true, ""}) {}
  static std::vector<std::string> with_program(std::vector<std::string> args) {
    args.insert(args.begin(), TALVO_DECODE);
    args.push_back("--raw");
    args.push_back("-");
    return args;
  }
  // Writes `bytes` at the pace of the audio (48000 samples a second), a
  // tenth of a second at a time; false if the program stopped reading.
  bool paced(const std::string& bytes) {
    const std::size_t chunk = 4800 * 2;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t at = 0, k = 0; at < bytes.size(); at += chunk, ++k) {
      std::this_thread::sleep_until(start + std::chrono::milliseconds(100 * k));
      if (!write_in(bytes.substr(at, chunk))) return false;
    }
    return true;
  }
  bool has(const std::string& s, double seconds) { return read_until_has(s, seconds); }
};

// The spot line of `call` among what a program printed ("" when none).
std::string line_of(const std::string& out, const std::string& call) {
  for (const auto& l : test::dx_lines(out, "\n"))
    if (l.find(" " + call + " ") != std::string::npos) return l;
  return "";
}

// The frequency column of a spot line, kHz as printed.
std::string freq_of(const std::string& line) {
  std::istringstream in(line);
  std::string w;
  for (int i = 0; i < 4 && in >> w; ++i) {
  }
  return w;
}

// The decoded text of an events stream: its "text" fields in order.
std::string events_text(const std::string& out) {
  std::string t;
  const std::string key = "\"text\": \"";
  for (std::size_t p = out.find(key); p != std::string::npos; p = out.find(key, p + 1)) {
    const std::size_t from = p + key.size();
    t += out.substr(from, out.find('"', from) - from);
  }
  return t;
}

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
    ++n;
  return n;
}

// --------------------------------------------------------------------- rig

TEST(DecodeRig, SpotsFollowTheDialThroughAQsyMidStream) {
  const int port = free_port();
  ASSERT_GT(port, 0);
  auto rigctld = test::start_rigctld(port);
  ASSERT_TRUE(test::set_rig(port, {"F", "7025000", "M", "CW", "500"}));
  Skimmer prog({"--spots", "--spotter", "dl0tst", "--rig", "127.0.0.1:" + std::to_string(port)});

  // CW, pitch 600 (the dummy rig reports none): a signal at 700 Hz in the
  // audio is 100 Hz above the dial.
  ASSERT_TRUE(prog.paced(audio({700, 25, "cq de dj5mw dj5mw k", 0.3}, 12.0)));
  ASSERT_TRUE(prog.has(" DJ5MW ", 10)) << prog.out;
  // The operator turns to 20 m and the reverse sideband: 800 Hz in the
  // audio is now 200 Hz below the dial.
  ASSERT_TRUE(test::set_rig(port, {"F", "14025000", "M", "CWR", "500"}));
  ASSERT_TRUE(prog.paced(silence(1.5)));
  ASSERT_TRUE(prog.paced(audio({800, 25, "cq de ok1rr ok1rr k", 0.3}, 12.0, 7)));
  ASSERT_TRUE(prog.has(" OK1RR ", 10)) << prog.out;
  prog.close_in();
  EXPECT_EQ(prog.wait(15), 0) << prog.out;

  EXPECT_EQ(freq_of(line_of(prog.out, "DJ5MW")), "7025.1") << prog.out;
  EXPECT_EQ(freq_of(line_of(prog.out, "OK1RR")), "14024.8") << prog.out;
  EXPECT_EQ(test::dx_lines(prog.out, "\n").size(), 2u) << prog.out;
  EXPECT_EQ(prog.out.find("rig:"), std::string::npos) << prog.out;  // nothing to tell
}

TEST(DecodeRig, ARigThatStopsAnsweringKeepsItsDialIsToldOnceAndComesBack) {
  const int port = free_port();
  ASSERT_GT(port, 0);
  auto rigctld = test::start_rigctld(port);
  ASSERT_TRUE(test::set_rig(port, {"F", "3530000", "M", "USB", "2400"}));
  Skimmer prog({"--spots", "--rig", "127.0.0.1:" + std::to_string(port)});
  ASSERT_TRUE(prog.paced(audio({700, 25, "cq de dj5mw dj5mw k", 0.3}, 12.0)));
  ASSERT_TRUE(prog.has(" DJ5MW ", 10)) << prog.out;

  // rigctld goes away: decoding goes on, spots keep the last dial, and the
  // silence is told once however long it lasts.
  rigctld.reset();
  ASSERT_TRUE(prog.paced(audio({900, 25, "cq de ok1rr ok1rr k", 0.3}, 12.0, 7)));
  ASSERT_TRUE(prog.has(" OK1RR ", 10)) << prog.out;
  ASSERT_TRUE(prog.paced(silence(2.5)));
  EXPECT_EQ(count_of(prog.out, "rig: not answering"), 1u) << prog.out;

  // It comes back on another band: told, and followed.
  rigctld = test::start_rigctld(port);
  ASSERT_TRUE(test::set_rig(port, {"F", "10110000", "M", "LSB", "2400"}));
  ASSERT_TRUE(prog.paced(silence(1.5)));
  ASSERT_TRUE(prog.paced(audio({600, 25, "cq de g4buo g4buo k", 0.3}, 12.0, 9)));
  ASSERT_TRUE(prog.has(" G4BUO ", 10)) << prog.out;
  prog.close_in();
  EXPECT_EQ(prog.wait(15), 0) << prog.out;

  EXPECT_EQ(freq_of(line_of(prog.out, "DJ5MW")), "3530.7") << prog.out;
  EXPECT_EQ(freq_of(line_of(prog.out, "OK1RR")), "3530.9") << prog.out;
  EXPECT_EQ(freq_of(line_of(prog.out, "G4BUO")), "10109.4") << prog.out;
  EXPECT_EQ(count_of(prog.out, "rig: not answering"), 1u) << prog.out;
  // (The first answer may come before rigctl sets the dial.)
  EXPECT_EQ(count_of(prog.out, "rig: answering again at "), 1u) << prog.out;
}

TEST(DecodeRig, ARadioThatNeverAnswersHoldsTheSpotsAndDecodingGoesOn) {
  const int port = free_port();  // nobody listens there
  ASSERT_GT(port, 0);
  test::RunOptions o;
  o.input = audio({700, 25, "cq de dj5mw dj5mw k", 0.3}, 12.0);
  o.seconds = 30;
  const test::Run r = test::run({TALVO_DECODE, "--format", "events", "--rig",
                                 "127.0.0.1:" + std::to_string(port), "--raw", "-"},
                                o);
  EXPECT_EQ(r.status, 0) << r.err;
  // The text was decoded; no spot went out without a frequency.
  EXPECT_NE(events_text(r.out).find("cq de dj5mw"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\"call\""), std::string::npos) << r.out;
  EXPECT_EQ(count_of(r.err, "talvo-decode: rig: "), 2u) << r.err;
  EXPECT_NE(r.err.find("trying again every poll"), std::string::npos) << r.err;
  // Each copy of the call that would have counted towards its spot is held.
  EXPECT_NE(r.err.find("rig: spots held back before the radio first answered: "), std::string::npos)
      << r.err;
}

TEST(DecodeRig, BadNamesAndPitchesAreRefusedWithTheReason) {
  struct Case {
    std::vector<std::string> args;
    std::string why;
  };
  const std::vector<Case> cases = {
      {{"--rig", "localhost"}, "--rig: rig 'localhost': expected HOST:PORT"},
      {{"--rig", "localhost:0"}, "--rig: rig 'localhost:0': the port must be a number"},
      {{"--rig", "1:none", "--pitch", "99"}, "--pitch must be a CW pitch from 100 to 3000 Hz"},
      {{"--rig", "1:none", "--pitch", "3001"}, "--pitch must be a CW pitch from 100 to 3000 Hz"},
      {{"--pitch", "700"}, "--pitch is the radio's CW pitch: it needs --rig"},
      {{"--rig", "1:none", "--dial", "7000"},
       "--rig reads the dial and mode from the radio: no --dial or --sideband"},
      {{"--rig", "1:none", "--sideband", "lsb"},
       "--rig reads the dial and mode from the radio: no --dial or --sideband"},
      {{"--rig", "1:none", "--iq"}, "--rig follows a radio's audio, not --iq"},
      {{"--mqtt", "tcp://host"}, "--mqtt: MQTT URL: expected mqtt://"},
      {{"--mqtt", "mqtt://host:70000"}, "--mqtt: "},
      {{"--receiver", "classic", "--rig", "1:none"}, "--rig needs --receiver fine"},
      {{"--receiver", "classic", "--mqtt", "mqtt://h"}, "--mqtt needs --receiver fine"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {TALVO_DECODE};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.push_back("x.wav");
    test::RunOptions o;
    o.seconds = 10;
    const test::Run r = test::run(argv, o);
    EXPECT_EQ(r.status, 2) << c.args[0] << " " << r.err;
    EXPECT_EQ(r.err.rfind("talvo-decode: " + c.why, 0), 0u) << r.err;
  }
  // The extremes of the pitch are taken.
  test::RunOptions o;
  o.input = silence(0.2);
  o.seconds = 20;
  EXPECT_EQ(test::run({TALVO_DECODE, "--rig", "1:none", "--pitch", "100", "--raw", "-"}, o).status,
            0);
}

// -------------------------------------------------------------------- mqtt

// mosquitto_sub on every spot topic, printing "topic payload" lines as they
// come; it keeps its session (-c) across a broker restart.
std::unique_ptr<PipedChild> subscriber(const Broker& b) {
  return std::make_unique<PipedChild>(
      std::vector<std::string>{"stdbuf", "-oL", "mosquitto_sub", "-h", "127.0.0.1", "-p",
                               std::to_string(b.port()), "-t", "talvo/spots/#", "-q", "1", "-v",
                               "-d", "-c", "-i", "talvo-decode-test-sub"},
      test::ChildOptions{false, true, ""});
}

// The messages mosquitto_sub printed, as "topic freq_khz(.1) call spotter".
std::vector<std::string> messages(const std::string& out) {
  std::vector<std::string> r;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);) {
    if (l.rfind("talvo/spots/", 0) != 0) continue;
    const auto m = mqtt::from_json(l.substr(l.find(' ') + 1));
    if (!m.message) {
      r.push_back("not a spot: " + l);
      continue;
    }
    char f[32];
    std::snprintf(f, sizeof f, "%.1f", m.message->freq_khz);
    r.push_back(l.substr(0, l.find(' ')) + " " + f + " " + m.message->call + " " +
                m.message->spotter);
  }
  return r;
}

// The same for the spot lines a skimmer printed, with its band's topic.
std::string expected(const std::string& line, const std::string& spotter) {
  const std::string f = freq_of(line);
  std::istringstream in(line);
  std::string w, call;
  for (int i = 0; i < 5 && in >> w; ++i)
    call = w;
  return "talvo/spots/" + mqtt::band_name(std::stod(f)) + "/" + spotter + "/" + call + " " + f +
         " " + call + " " + spotter;
}

TEST(DecodeMqtt, TheMessageOfASpotCarriesItsFieldsToTheHertz) {
  spots::Made m;
  m.spot.call = "DJ5MW";
  m.spot.audio_hz = 700.0203;
  m.spot.freq_hz = 14025100.0203;
  m.spot.snr_db = 23;
  m.spot.wpm = 20;
  m.spot.type = spots::SpotType::kCq;
  m.spot.utc = 1796712473;  // 2026-12-08 06:47:53Z
  m.spot.copies = 3;
  m.spot.known = true;
  const mqtt::SpotMessage s = spot_message("ZF9CW", m);
  EXPECT_EQ(mqtt::to_json(s),
            R"({"call":"DJ5MW","freq_khz":14025.1,"audio_hz":700,"snr_db":23,"wpm":20,)"
            R"("type":"CQ","spotter":"ZF9CW","time":"2026-12-08T06:47:53Z",)"
            R"("confidence":{"copies":3,"known":true}})");
  EXPECT_EQ(mqtt::spot_topic(s), "talvo/spots/20m/ZF9CW/DJ5MW");
}

TEST(DecodeMqtt, ASubscriberGetsEverySpotOfARun) {
  Broker b;
  ASSERT_TRUE(b.start());
  auto sub = subscriber(b);
  ASSERT_TRUE(sub->read_until_has("SUBACK", 10)) << sub->out;
  // Four stations at once on 40 m.
  std::vector<Station> st = {{500, 22, "cq de dj5mw dj5mw k", 0.3},
                             {900, 26, "cq test ok1rr ok1rr", 0.6},
                             {1300, 18, "cq de g4buo g4buo k", 0.4},
                             {1700, 24, "ve3xyz de k5mr k5mr k", 0.2}};
  test::RunOptions o;
  o.input = test::s16le(
      test::render(test::station_tones(st, 4000, 0.7), 15.0, test::noise_for_snr(4000, 15), 3));
  o.seconds = 60;
  const test::Run r = test::run({TALVO_DECODE, "--spots", "--spotter", "dl0tst", "--dial", "7000",
                                 "--mqtt", b.url(), "--raw", "-"},
                                o);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = test::dx_lines(r.out, "\n");
  ASSERT_EQ(lines.size(), 4u) << r.out;
  std::vector<std::string> want;
  for (const auto& l : lines)
    want.push_back(expected(l, "DL0TST"));
  ASSERT_TRUE(sub->read_until([&](const std::string& out) { return messages(out) == want; }, 10))
      << testing::PrintToString(messages(sub->out)) << "\nwanted " << testing::PrintToString(want);
  EXPECT_NE(r.err.find("mqtt: connected to 127.0.0.1:"), std::string::npos) << r.err;
}

TEST(DecodeMqtt, ABrokerRestartedMidStreamLosesNoSpotWithinTheQueue) {
  Broker b(true);
  ASSERT_TRUE(b.start());
  auto sub = subscriber(b);
  ASSERT_TRUE(sub->read_until_has("SUBACK", 10)) << sub->out;
  Skimmer prog({"--spots", "--spotter", "dl0tst", "--dial", "14000", "--mqtt", b.url()});
  ASSERT_TRUE(prog.paced(audio({700, 25, "cq de dj5mw dj5mw k", 0.3}, 12.0)));
  ASSERT_TRUE(sub->read_until_has("/DJ5MW ", 10)) << sub->out << prog.out;

  // The broker goes away; a spot made meanwhile waits in the queue.
  ASSERT_TRUE(b.stop());
  ASSERT_TRUE(prog.paced(audio({900, 25, "cq de ok1rr ok1rr k", 0.3}, 12.0, 7)));
  ASSERT_TRUE(prog.has(" OK1RR ", 10)) << prog.out;
  ASSERT_TRUE(prog.has("mqtt: lost the broker at 127.0.0.1:", 10)) << prog.out;
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(prog.has("mqtt: connected again to 127.0.0.1:", 15)) << prog.out;
  ASSERT_TRUE(prog.paced(audio({1100, 25, "cq de g4buo g4buo k", 0.3}, 12.0, 9)));
  ASSERT_TRUE(prog.has(" G4BUO ", 10)) << prog.out;
  prog.close_in();
  EXPECT_EQ(prog.wait(15), 0) << prog.out;

  const auto lines = test::dx_lines(prog.out, "\n");
  ASSERT_EQ(lines.size(), 3u) << prog.out;
  std::vector<std::string> want;
  for (const auto& l : lines)
    want.push_back(expected(l, "DL0TST"));
  ASSERT_TRUE(sub->read_until([&](const std::string& out) { return messages(out) == want; }, 15))
      << testing::PrintToString(messages(sub->out)) << "\nwanted " << testing::PrintToString(want);
}

// -------------------------------------------------------------------- node

TEST(DecodeNode, TwoSkimmersReachOneNodesTelnetClientLive) {
  Broker b;
  ASSERT_TRUE(b.start());
  const int port = free_port();
  ASSERT_GT(port, 0);
  PipedChild node({TALVO_NODE, "--mqtt", b.url(), "--telnet", std::to_string(port)},
                  test::ChildOptions{false, true, ""});
  ASSERT_TRUE(node.read_until_has("mqtt: connected to 127.0.0.1:", 10)) << node.out;
  PipedChild nc(test::netcat(port));
  ASSERT_TRUE(nc.read_until_has("Please enter your call: ", 10)) << nc.out;
  ASSERT_TRUE(nc.write_in("N0LOG\r\n"));
  ASSERT_TRUE(nc.read_until_has("Hello N0LOG", 10)) << nc.out;

  // Two receivers, one on 40 m and one on 20 m, each still running when
  // its spot reaches the logger.
  Skimmer a({"--spots", "--spotter", "dl0aaa", "--dial", "7020", "--mqtt", b.url()});
  Skimmer c({"--spots", "--spotter", "dl0ccc", "--dial", "14020", "--mqtt", b.url()});
  ASSERT_TRUE(a.write_in(audio({700, 25, "cq de dj5mw dj5mw k", 0.3}, 12.0)));
  ASSERT_TRUE(nc.read_until_has(" DJ5MW ", 20)) << nc.out << a.out;
  ASSERT_TRUE(c.write_in(audio({500, 25, "cq de ok1rr ok1rr k", 0.3}, 12.0, 7)));
  ASSERT_TRUE(nc.read_until_has(" OK1RR ", 20)) << nc.out << c.out;
  EXPECT_EQ(a.wait(0), -1);  // both still running
  EXPECT_EQ(c.wait(0), -1);
  a.close_in();
  c.close_in();
  EXPECT_EQ(a.wait(15), 0) << a.out;
  EXPECT_EQ(c.wait(15), 0) << c.out;

  // The logger got each skimmer's own line, with its spotter and frequency.
  const auto lines = test::dx_lines(nc.out, "\r\n");
  ASSERT_EQ(lines.size(), 2u) << nc.out;
  EXPECT_EQ(lines[0], line_of(a.out, "DJ5MW")) << a.out;
  EXPECT_EQ(lines[1], line_of(c.out, "OK1RR")) << c.out;
  EXPECT_EQ(lines[0].rfind("DX de DL0AAA-#:", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("DX de DL0CCC-#:", 0), 0u) << lines[1];
  EXPECT_EQ(freq_of(lines[0]), "7020.7");
  EXPECT_EQ(freq_of(lines[1]), "14020.5");

  // A logger that connects late gets both receivers' spots through sh/dx.
  PipedChild late(test::netcat(port));
  ASSERT_TRUE(late.read_until_has("Please enter your call: ", 10)) << late.out;
  ASSERT_TRUE(late.write_in("N0LATE\r\n"));
  ASSERT_TRUE(late.read_until_has("Hello N0LATE", 10)) << late.out;
  ASSERT_TRUE(late.write_in("sh/dx\r\n"));
  ASSERT_TRUE(late.read_until_has(" OK1RR ", 10)) << late.out;
  EXPECT_EQ(test::dx_lines(late.out, "\r\n"), lines) << late.out;
  kill(node.pid(), SIGTERM);
  EXPECT_EQ(node.wait(10), 0) << node.out;
}

}  // namespace
}  // namespace talvo
