// The spot feed and the subscriber against a real mosquitto broker on
// 127.0.0.1, with mosquitto_sub as an independent reader: every spot
// arrives; a broker stopped and started mid-stream costs only what overflows
// the feed's queue, and the drops are told; a broker not there at the start
// is told and the feed catches up once it is.
#include "mqtt/broker.h"  // the test folder's

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "mqtt/spot_feed.h"
#include "mqtt/spot_subscriber.h"

namespace talvo::mqtt {
namespace {

using talvo::test::Broker;
using talvo::test::PipedChild;
using talvo::test::wait_for;

// Spot number n of a stream: its number is in the call and the audio frequency.
SpotMessage spot(int n, const std::string& spotter = "ZF9CW") {
  SpotMessage m;
  m.call = "K" + std::to_string(n) + "MR";
  m.freq_khz = 14000 + n * 0.1;
  m.audio_hz = 400 + n;
  m.snr_db = 10 + n % 20;
  m.wpm = 20 + n % 15;
  m.type = n % 2 ? "DX" : "CQ";
  m.spotter = spotter;
  m.utc = 1796710320 + n;
  m.copies = 2;
  m.known = n % 3 == 0;
  return m;
}

// mosquitto_sub on every spot topic, printing "topic payload" lines (line
// buffered, for the test reads them as they come); it
// keeps its session (-c) across a broker restart.
std::unique_ptr<PipedChild> mosquitto_sub(const Broker& b) {
  auto c = std::make_unique<PipedChild>(
      std::vector<std::string>{"stdbuf", "-oL", "mosquitto_sub", "-h", "127.0.0.1", "-p",
                               std::to_string(b.port()), "-t", "talvo/spots/#", "-q", "1", "-v",
                               "-d", "-c", "-i", "talvo-test-sub"},
      talvo::test::ChildOptions{false, true, ""});
  return c;
}

// The spot lines ("talvo/spots/... {json}") mosquitto_sub printed.
std::vector<std::string> spot_lines(const std::string& out) {
  std::vector<std::string> r;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("talvo/spots/", 0) == 0) r.push_back(line);
  return r;
}

// The numbers of the spots among `lines`, each once.
std::set<int> numbers(const std::vector<std::string>& lines) {
  std::set<int> r;
  for (const auto& l : lines) {
    const auto m = from_json(l.substr(l.find(' ') + 1));
    if (m.message) r.insert(static_cast<int>(m.message->audio_hz) - 400);
  }
  return r;
}

// The numbers in `want` not in `got`, for a failure's message.
std::string missing(const std::set<int>& want, const std::set<int>& got) {
  std::string r = "missing:";
  for (const int n : want)
    if (!got.count(n)) r += " " + std::to_string(n);
  return r;
}

std::unique_ptr<SpotFeed> feed_to(const std::string& url, std::size_t queue_limit = 1000) {
  SpotFeedOptions o;
  o.broker = *parse_mqtt_url(url).url;
  o.queue_limit = queue_limit;
  o.client.reconnect_max_seconds = 2;
  auto s = SpotFeed::start(o);
  EXPECT_TRUE(s.feed) << s.error;
  return std::move(s.feed);
}

std::string show(const SpotFeedStats& s) {
  return "published " + std::to_string(s.published) + " acknowledged " +
         std::to_string(s.acknowledged) + " dropped " + std::to_string(s.dropped) + " waiting " +
         std::to_string(s.waiting) + " in flight " + std::to_string(s.in_flight) +
         (s.connected ? " connected" : " not connected");
}

std::vector<std::string> notices(SpotFeed& f) {
  std::vector<std::string> r;
  for (std::string n; !(n = f.take_notice()).empty();) {
    std::printf("notice: %s\n", n.c_str());
    r.push_back(n);
  }
  return r;
}

bool any_has(const std::vector<std::string>& v, const std::string& s) {
  for (const auto& x : v)
    if (x.find(s) != std::string::npos) return true;
  return false;
}

TEST(SpotFeed, EverySpotReachesBothReaders) {
  Broker b;
  ASSERT_TRUE(b.start());
  auto sub = mosquitto_sub(b);
  ASSERT_TRUE(sub->read_until_has("SUBACK", 10)) << sub->out;

  std::mutex m;
  std::vector<SpotMessage> got;
  SpotSubscriberOptions so;
  so.broker = *parse_mqtt_url(b.url()).url;
  auto s = SpotSubscriber::start(so, [&](const SpotMessage& x) {
    std::lock_guard<std::mutex> lock(m);
    got.push_back(x);
  });
  ASSERT_TRUE(s.subscriber) << s.error;
  ASSERT_TRUE(wait_for([&] { return s.subscriber->stats().subscribed; }, 10));

  auto feed = feed_to(b.url());
  const int n = 300;
  for (int i = 0; i < n; ++i) {
    SpotMessage x = spot(i);
    if (i == 7) x.spotter = "ZF9CW\xff";  // not UTF-8: the topic has '_' for it
    feed->publish(x);
  }
  ASSERT_TRUE(wait_for([&] { return feed->stats().acknowledged == n; }, 20));
  ASSERT_TRUE(sub->read_until([&](const std::string& o) { return spot_lines(o).size() >= n; }, 20))
      << spot_lines(sub->out).size();
  ASSERT_TRUE(wait_for([&] { return s.subscriber->stats().received >= n; }, 10));

  const auto lines = spot_lines(sub->out);
  EXPECT_EQ(lines.size(), static_cast<std::size_t>(n));
  EXPECT_EQ(numbers(lines).size(), static_cast<std::size_t>(n));
  EXPECT_EQ(lines[0], "talvo/spots/20m/ZF9CW/K0MR " + to_json(spot(0)));
  std::lock_guard<std::mutex> lock(m);
  ASSERT_EQ(got.size(), static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {  // one publisher, QoS 1: in order
    EXPECT_EQ(got[i].call, spot(i).call);
    if (i != 7) {
      EXPECT_EQ(to_json(got[i]), to_json(spot(i)));
    }
  }
  EXPECT_EQ(got[7].spotter, "ZF9CW\xff");
  EXPECT_EQ(lines[7].substr(0, lines[7].find(' ')), "talvo/spots/20m/ZF9CW_/K7MR");
  const auto st = feed->stats();
  EXPECT_EQ(st.dropped, 0u);
  EXPECT_EQ(st.refused, 0u);
  EXPECT_EQ(st.waiting + st.in_flight, 0u);
  EXPECT_TRUE(any_has(notices(*feed), "mqtt: connected to 127.0.0.1:"));
}

TEST(SpotFeed, SpotsQueuedAtTheEndStillGoOut) {
  Broker b;
  ASSERT_TRUE(b.start());
  auto sub = mosquitto_sub(b);
  ASSERT_TRUE(sub->read_until_has("SUBACK", 10)) << sub->out;
  auto feed = feed_to(b.url());
  ASSERT_TRUE(wait_for([&] { return feed->stats().connected; }, 10));
  for (int i = 0; i < 200; ++i)
    feed->publish(spot(i));
  const auto t0 = std::chrono::steady_clock::now();
  feed.reset();  // a recording decoded to its end: the program ends
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  ASSERT_TRUE(sub->read_until(
      [&](const std::string& o) { return numbers(spot_lines(o)).size() == 200; }, 10))
      << numbers(spot_lines(sub->out)).size();
}

TEST(SpotFeed, BrokerStoppedAndStartedLosesOnlyWhatOverflowsTheQueue) {
  Broker b(true);
  ASSERT_TRUE(b.start());
  auto sub = mosquitto_sub(b);
  ASSERT_TRUE(sub->read_until_has("SUBACK", 10)) << sub->out;
  const std::size_t limit = 50;
  auto feed = feed_to(b.url(), limit);

  // 100 spots while the broker is there.
  ASSERT_TRUE(wait_for([&] { return feed->stats().connected; }, 10));
  for (int i = 0; i < 100; ++i) {  // in bursts of 25, within the queue
    if (i % 25 == 0) {
      ASSERT_TRUE(wait_for([&] { return feed->stats().acknowledged == std::uint64_t(i); }, 10));
    }
    feed->publish(spot(i));
  }
  ASSERT_TRUE(wait_for([&] { return feed->stats().acknowledged == 100; }, 20))
      << show(feed->stats());

  // Away for 30 spots, fewer than the queue holds: none lost.
  ASSERT_TRUE(b.stop());
  ASSERT_TRUE(wait_for([&] { return !feed->stats().connected; }, 10));
  for (int i = 100; i < 130; ++i)
    feed->publish(spot(i));
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(wait_for([&] { return feed->stats().acknowledged == 130; }, 20))
      << show(feed->stats());
  EXPECT_EQ(feed->stats().dropped, 0u);

  // Away for 200 spots: the oldest 150 of them are dropped, the newest 50 kept.
  ASSERT_TRUE(b.stop());
  ASSERT_TRUE(wait_for([&] { return !feed->stats().connected; }, 10));
  for (int i = 130; i < 330; ++i)
    feed->publish(spot(i));
  EXPECT_EQ(feed->stats().dropped, 150u);
  EXPECT_EQ(feed->stats().waiting, limit);
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(wait_for([&] { return feed->stats().acknowledged == 180; }, 20))
      << show(feed->stats());

  std::set<int> want;
  for (int i = 0; i < 130; ++i)
    want.insert(i);
  for (int i = 280; i < 330; ++i)
    want.insert(i);
  ASSERT_TRUE(
      sub->read_until([&](const std::string& o) { return numbers(spot_lines(o)) == want; }, 20))
      << missing(want, numbers(spot_lines(sub->out)));
  const auto ns = notices(*feed);
  EXPECT_TRUE(any_has(ns, "lost the broker at 127.0.0.1:"));
  EXPECT_TRUE(any_has(ns, "connected again to 127.0.0.1:"));
  EXPECT_TRUE(any_has(ns, "150 spots dropped: the queue of 50 was full"));
  std::printf("spots published 330, lost 150 (dropped %llu), copies read %zu\n",
              static_cast<unsigned long long>(feed->stats().dropped), spot_lines(sub->out).size());
}

TEST(SpotFeed, BrokerAbsentAtTheStartIsToldAndCaughtUp) {
  Broker b;
  const auto t0 = std::chrono::steady_clock::now();
  auto feed = feed_to(b.url());
  for (int i = 0; i < 20; ++i)
    feed->publish(spot(i));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
  std::vector<std::string> ns;
  ASSERT_TRUE(wait_for(
      [&] {
        for (auto n : notices(*feed))
          ns.push_back(n);
        return any_has(ns, "broker at 127.0.0.1:" + std::to_string(b.port()));
      },
      8));
  EXPECT_FALSE(feed->stats().connected);
  EXPECT_EQ(feed->stats().waiting, 20u);

  ASSERT_TRUE(b.start());
  auto sub = mosquitto_sub(b);
  ASSERT_TRUE(sub->read_until_has("SUBACK", 10)) << sub->out;
  // Publishing goes on meanwhile; the feed connects within its reconnect delay.
  for (int i = 20; i < 40; ++i)
    feed->publish(spot(i));
  ASSERT_TRUE(wait_for([&] { return feed->stats().acknowledged == 40; }, 20))
      << feed->stats().connected << " " << feed->stats().waiting << " " << feed->stats().in_flight;
  // The first spots may have reached the broker before mosquitto_sub
  // subscribed; the later ones reach it.
  ASSERT_TRUE(sub->read_until(
      [&](const std::string& o) { return numbers(spot_lines(o)).count(39) == 1; }, 10));
  EXPECT_TRUE(any_has(notices(*feed), "connected to 127.0.0.1:"));
}

TEST(SpotSubscriber, CountsAndIgnoresWhatIsNotASpot) {
  Broker b;
  ASSERT_TRUE(b.start());
  std::mutex m;
  std::vector<SpotMessage> got;
  SpotSubscriberOptions so;
  so.broker = *parse_mqtt_url(b.url()).url;
  auto s = SpotSubscriber::start(so, [&](const SpotMessage& x) {
    std::lock_guard<std::mutex> lock(m);
    got.push_back(x);
  });
  ASSERT_TRUE(s.subscriber) << s.error;
  ASSERT_TRUE(wait_for([&] { return s.subscriber->stats().subscribed; }, 10));
  auto pub = [&](const std::string& topic, const std::string& payload) {
    talvo::test::RunOptions o;
    o.seconds = 10;
    return talvo::test::run({talvo::test::find_program("mosquitto_pub"), "-h", "127.0.0.1", "-p",
                             std::to_string(b.port()), "-q", "1", "-t", topic, "-m", payload},
                            o)
        .status;
  };
  ASSERT_EQ(pub("talvo/spots/20m/X/Y", "not json"), 0);
  ASSERT_EQ(pub("talvo/spots/20m/X/Y", R"({"call":"K5MR"})"), 0);
  ASSERT_EQ(pub("talvo/spots/20m/ZF9CW/K5MR", to_json(spot(5))), 0);
  ASSERT_EQ(pub("other/topic", to_json(spot(6))), 0);
  ASSERT_TRUE(wait_for([&] { return s.subscriber->stats().received == 1; }, 10));
  EXPECT_EQ(s.subscriber->stats().bad, 2u);
  std::vector<std::string> ns;
  for (std::string n; !(n = s.subscriber->take_notice()).empty();)
    ns.push_back(n);
  EXPECT_TRUE(any_has(ns, "ignored a message on talvo/spots/20m/X/Y (not JSON"));
  EXPECT_FALSE(any_has(ns, "2 so far"));  // the 1st, 10th, 100th ... are told
  std::lock_guard<std::mutex> lock(m);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(to_json(got[0]), to_json(spot(5)));
}

TEST(SpotSubscriber, SubscribesAgainWhenTheBrokerComesBack) {
  Broker b;
  ASSERT_TRUE(b.start());
  std::mutex m;
  std::vector<std::string> calls;
  SpotSubscriberOptions so;
  so.broker = *parse_mqtt_url(b.url()).url;
  so.client.reconnect_max_seconds = 2;
  auto s = SpotSubscriber::start(so, [&](const SpotMessage& x) {
    std::lock_guard<std::mutex> lock(m);
    calls.push_back(x.call);
  });
  ASSERT_TRUE(s.subscriber) << s.error;
  ASSERT_TRUE(wait_for([&] { return s.subscriber->stats().subscribed; }, 10));
  auto feed = feed_to(b.url());
  feed->publish(spot(1));
  ASSERT_TRUE(wait_for([&] { return s.subscriber->stats().received == 1; }, 10));

  ASSERT_TRUE(b.stop());
  ASSERT_TRUE(wait_for([&] { return !s.subscriber->stats().connected; }, 10));
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(wait_for([&] { return s.subscriber->stats().subscribed; }, 10));
  // The feed may come back before the subscriber subscribed: spots sent then
  // are the broker's to drop. Those published after reach it.
  ASSERT_TRUE(wait_for([&] { return feed->stats().connected; }, 10));
  feed->publish(spot(2));
  ASSERT_TRUE(wait_for([&] { return s.subscriber->stats().received == 2; }, 10));
  std::vector<std::string> ns;
  for (std::string n; !(n = s.subscriber->take_notice()).empty();)
    ns.push_back(n);
  EXPECT_TRUE(any_has(ns, "lost the broker at 127.0.0.1:"));
  EXPECT_TRUE(any_has(ns, "connected again to 127.0.0.1:"));
  std::lock_guard<std::mutex> lock(m);
  EXPECT_EQ(calls, (std::vector<std::string>{"K1MR", "K2MR"}));
}

}  // namespace
}  // namespace talvo::mqtt
