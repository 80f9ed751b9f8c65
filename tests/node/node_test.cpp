// talvo-node: its command line, its lines and repeat filter, and the whole
// program between a real mosquitto broker, two receivers publishing (the
// spot feed and mosquitto_pub) and a telnet client (nc) that logs in and
// reads both receivers' spots live, each with its own spotter.
#include "node/node.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "mqtt/broker.h"
#include "mqtt/spot_feed.h"
#include "spots/spot.h"
#include "support/loopback.h"

namespace talvo::node {
namespace {

using talvo::test::Broker;
using talvo::test::PipedChild;

mqtt::SpotMessage k5mr() {
  mqtt::SpotMessage m;
  m.call = "K5MR";
  m.freq_khz = 14042.6;
  m.audio_hz = 612;
  m.snr_db = 18;
  m.wpm = 38;
  m.type = "CQ";
  m.spotter = "ZF9CW";
  m.utc = 1796710320;  // 2026-12-08 06:12:00 UTC
  m.copies = 3;
  m.known = true;
  return m;
}

TEST(NodeArgs, ReadsTheOptions) {
  auto r = parse_node_args({"--mqtt", "mqtt://club:pw@broker.lan:1884", "--telnet", "7300"});
  ASSERT_TRUE(r.options) << r.error;
  EXPECT_EQ(r.options->broker.host, "broker.lan");
  EXPECT_EQ(r.options->broker.port, 1884);
  EXPECT_EQ(r.options->broker.user, "club");
  EXPECT_EQ(r.options->telnet_port, 7300);
  EXPECT_EQ(r.options->listen, "127.0.0.1");
  r = parse_node_args({"--listen", "::", "--telnet", "0", "--mqtt", "mqtt://[::1]"});
  ASSERT_TRUE(r.options) << r.error;
  EXPECT_EQ(r.options->listen, "::");
  EXPECT_EQ(r.options->telnet_port, 0);
  r = parse_node_args({"--telnet", "1", "--help"});
  ASSERT_TRUE(r.options);
  EXPECT_TRUE(r.options->help);
}

TEST(NodeArgs, RefusesWithTheReason) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{}, "--mqtt URL is needed"},
      {{"--mqtt", "mqtt://b"}, "--telnet PORT is needed"},
      {{"--telnet", "7300"}, "--mqtt URL is needed"},
      {{"--mqtt", "tcp://b", "--telnet", "7300"}, "--mqtt: MQTT URL: expected mqtt://"},
      {{"--mqtt", "mqtt://b", "--telnet", "70000"}, "--telnet must be a port number"},
      {{"--mqtt", "mqtt://b", "--telnet", "-1"}, "--telnet must be a port number"},
      {{"--mqtt", "mqtt://b", "--telnet", "73x"}, "--telnet must be a port number"},
      {{"--mqtt", "mqtt://b", "--telnet", "7300", "--listen", "localhost"}, "numeric"},
      {{"--mqtt", "mqtt://b", "--telnet"}, "--telnet needs a value"},
      {{"--mqtt", "mqtt://b", "--telnet", "7300", "--spotter", "X"}, "unknown argument"},
  };
  for (const auto& [args, why] : bad) {
    const auto r = parse_node_args(args);
    EXPECT_FALSE(r.options) << why;
    EXPECT_NE(r.error.find(why), std::string::npos) << r.error;
  }
}

TEST(NodeLine, IsTheSkimmersSpotLineWithTheReceiversOwnSpotter) {
  const mqtt::SpotMessage m = k5mr();
  const std::string line = node_line(m);
  // The node writes the line the skimmer itself writes.
  spots::Spot s;
  s.call = "K5MR";
  s.freq_hz = 14042600;
  s.snr_db = 18;
  s.wpm = 38;
  s.type = spots::SpotType::kCq;
  s.utc = 1796710320;
  EXPECT_EQ(line, spots::spot_line("ZF9CW", s));
  // Its tokens, as clusters read them.
  std::istringstream in(line);
  std::vector<std::string> tokens;
  for (std::string t; in >> t;)
    tokens.push_back(t);
  EXPECT_EQ(tokens, (std::vector<std::string>{"DX", "de", "ZF9CW-#:", "14042.6", "K5MR", "CW", "18",
                                              "dB", "38", "WPM", "CQ", "0612Z"}))
      << line;
  mqtt::SpotMessage d = m;
  d.type = "DX";
  d.spotter = "DL1ABC";
  d.freq_khz = 7012.04;
  EXPECT_EQ(node_line(d).substr(0, 16), "DX de DL1ABC-#: ");
  EXPECT_NE(node_line(d).find(" 7012.0  K5MR "), std::string::npos) << node_line(d);
  EXPECT_NE(node_line(d).find(" DX "), std::string::npos) << node_line(d);
}

TEST(NodeLine, RefusesCallsThatWouldBreakTheColumns) {
  mqtt::SpotMessage m = k5mr();
  EXPECT_TRUE(fits_a_line(m));
  m.call = "DL/K5MR/P";
  m.spotter = "ZF9CW-2";
  EXPECT_TRUE(fits_a_line(m));
  for (const std::string bad : {"", "K5 MR", "K5MR\r\nDX de", "ABCDEFGHIJKLMNOP"}) {
    m = k5mr();
    m.call = bad;
    EXPECT_FALSE(fits_a_line(m)) << bad;
    m = k5mr();
    m.spotter = bad;
    EXPECT_FALSE(fits_a_line(m)) << bad;
  }
}

TEST(RepeatFilter, PassesEachSpotOnce) {
  RepeatFilter f(3);
  mqtt::SpotMessage m = k5mr();
  EXPECT_TRUE(f.first_time(m));
  EXPECT_FALSE(f.first_time(m));  // QoS 1 delivered it twice
  mqtt::SpotMessage other = m;
  other.spotter = "DL1ABC";  // another receiver heard it too: its own spot
  EXPECT_TRUE(f.first_time(other));
  other.utc += 60;  // the same receiver a minute later
  EXPECT_TRUE(f.first_time(other));
  other.freq_khz += 0.1;
  EXPECT_TRUE(f.first_time(other));
  // Three remembered: the first has been forgotten.
  EXPECT_TRUE(f.first_time(m));
}

std::string json_spot(const std::string& spotter, const std::string& call, double khz) {
  mqtt::SpotMessage m = k5mr();
  m.spotter = spotter;
  m.call = call;
  m.freq_khz = khz;
  return mqtt::to_json(m);
}

int mosquitto_pub(const Broker& b, const std::string& topic, const std::string& payload) {
  talvo::test::RunOptions o;
  o.seconds = 10;
  return talvo::test::run({talvo::test::find_program("mosquitto_pub"), "-h", "127.0.0.1", "-p",
                           std::to_string(b.port()), "-q", "1", "-t", topic, "-m", payload},
                          o)
      .status;
}

TEST(TalvoNode, ServesTwoReceiversSpotsLiveOnOneTelnetPort) {
  Broker b;
  ASSERT_TRUE(b.start());
  const int port = talvo::test::free_port();
  PipedChild node({TALVO_NODE, "--mqtt", b.url(), "--telnet", std::to_string(port)},
                  talvo::test::ChildOptions{false, true, ""});
  ASSERT_TRUE(node.read_until_has("mqtt: connected to 127.0.0.1:", 10)) << node.out;
  EXPECT_NE(node.out.find("serving spots on 127.0.0.1 port " + std::to_string(port)),
            std::string::npos)
      << node.out;

  PipedChild nc(talvo::test::netcat(port));
  ASSERT_TRUE(nc.read_until_has("Please enter your call: ", 10)) << nc.out;
  ASSERT_TRUE(nc.write_in("N0LOG\r\n"));
  ASSERT_TRUE(nc.read_until_has("Hello N0LOG", 10)) << nc.out;

  // Receiver one: a skimmer with its spot feed. Receiver two: any program
  // publishing the same JSON (mosquitto_pub), twice, as QoS 1 may.
  mqtt::SpotFeedOptions fo;
  fo.broker = *mqtt::parse_mqtt_url(b.url()).url;
  auto feed = mqtt::SpotFeed::start(fo);
  ASSERT_TRUE(feed.feed) << feed.error;
  feed.feed->publish(k5mr());
  const std::string two = json_spot("DL1ABC", "OH2BH", 7012.0);
  ASSERT_EQ(mosquitto_pub(b, "talvo/spots/40m/DL1ABC/OH2BH", two), 0);
  ASSERT_EQ(mosquitto_pub(b, "talvo/spots/40m/DL1ABC/OH2BH", two), 0);
  ASSERT_EQ(mosquitto_pub(b, "talvo/spots/40m/X/Y", "{broken"), 0);

  ASSERT_TRUE(nc.read_until(
      [](const std::string& o) { return talvo::test::dx_lines(o, "\r\n").size() >= 2; }, 10))
      << nc.out;
  // A last spot marks the end: everything before it has been served.
  ASSERT_EQ(mosquitto_pub(b, "talvo/spots/20m/DL1ABC/W1AW", json_spot("DL1ABC", "W1AW", 14030)), 0);
  ASSERT_TRUE(nc.read_until_has("W1AW", 10)) << nc.out;
  const auto lines = talvo::test::dx_lines(nc.out, "\r\n");
  for (const auto& l : lines)
    std::printf("%s\n", l.c_str());
  ASSERT_EQ(lines.size(), 3u);
  int from_zf9cw = 0, from_dl1abc = 0;
  for (const auto& l : lines) {
    if (l.rfind("DX de ZF9CW-#:", 0) == 0 && l.find(" 14042.6  K5MR ") != std::string::npos)
      ++from_zf9cw;
    if (l.rfind("DX de DL1ABC-#:", 0) == 0 && l.find(" 7012.0  OH2BH ") != std::string::npos)
      ++from_dl1abc;
  }
  EXPECT_EQ(from_zf9cw, 1);
  EXPECT_EQ(from_dl1abc, 1);  // the repeat is served once

  kill(node.pid(), SIGTERM);
  EXPECT_EQ(node.wait(10), 0) << node.out;
  EXPECT_NE(node.out.find("ignored a message on talvo/spots/40m/X/Y"), std::string::npos)
      << node.out;
}

TEST(TalvoNode, RefusesBadArgumentsWithStatusTwo) {
  talvo::test::RunOptions o;
  o.seconds = 10;
  auto r = talvo::test::run({TALVO_NODE, "--mqtt", "mqtt://127.0.0.1", "--telnet", "99999"}, o);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("talvo-node: --telnet must be a port number"), std::string::npos) << r.err;
  r = talvo::test::run({TALVO_NODE, "--telnet", "7300"}, o);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--mqtt URL is needed"), std::string::npos) << r.err;
  r = talvo::test::run({TALVO_NODE, "--help"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: talvo-node --mqtt URL --telnet PORT"), std::string::npos);
}

}  // namespace
}  // namespace talvo::node
