// How the network parts keep up: spots from the spot feed through a real
// mosquitto broker and talvo-node to a telnet client, at rising rates, and
// how soon the radio poller follows the dial of a rigctld.
//
//   build/bench/network [--seconds S]
//
// Spots: for each rate, S seconds (default 3) of spots with unique calls are
// published at an even pace; the client (TCP in this process) logs in to
// talvo-node first and notes when each line arrives. The table gives the
// spots delivered, those lost, the latency from publish() to the line on the
// client (median, 99th percentile, largest), and the longest publish() call.
// Target: 100 spots a second (a big contest's peak across the network is
// about 63) delivered in full, 99% within 250 ms. The exit status is 0 when
// the target is met.
//
// Rig: five QSYs of hamlib's dummy rig under rigctld, set with rigctl; the
// time from rigctl's return to the new frequency in RigPoller::latest()
// (polling once a second, so up to a second).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mqtt/broker.h"
#include "mqtt/spot_feed.h"
#include "rig/rig_poller.h"

namespace {

using Clock = std::chrono::steady_clock;
using talvo::test::Broker;
using talvo::test::PipedChild;

double ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// A telnet client that logs in and notes the arrival of each spot line by
// the number in its call ("BN<number>").
class Client {
 public:
  bool connect_to(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
    timeval tv{0, 200000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (!read_until("call: ")) return false;
    const char login[] = "BENCH\r\n";
    if (send(fd_, login, sizeof login - 1, 0) != sizeof login - 1) return false;
    if (!read_until("\r\n")) return false;
    reader_ = std::thread([this] { read_lines(); });
    return true;
  }
  ~Client() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) close(fd_);
  }
  std::map<int, Clock::time_point> arrivals() {
    std::lock_guard<std::mutex> lock(m_);
    return arrived_;
  }

 private:
  bool read_until(const std::string& s) {
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (buf_.find(s) == std::string::npos && Clock::now() < end) {
      char b[4096];
      const ssize_t n = recv(fd_, b, sizeof b, 0);
      if (n > 0) buf_.append(b, static_cast<std::size_t>(n));
      if (n == 0) return false;
    }
    const std::size_t at = buf_.find(s);
    if (at == std::string::npos) return false;
    buf_.erase(0, at + s.size());
    return true;
  }
  void read_lines() {
    while (!stop_) {
      char b[65536];
      const ssize_t n = recv(fd_, b, sizeof b, 0);
      if (n == 0) return;
      if (n < 0) continue;  // the receive timeout: look at stop_
      const auto now = Clock::now();
      buf_.append(b, static_cast<std::size_t>(n));
      for (std::size_t e; (e = buf_.find("\r\n")) != std::string::npos; buf_.erase(0, e + 2)) {
        const std::size_t c = buf_.find(" BN");
        if (c == std::string::npos || c > e) continue;
        std::lock_guard<std::mutex> lock(m_);
        arrived_.emplace(std::atoi(buf_.c_str() + c + 3), now);
      }
    }
  }

  int fd_ = -1;
  std::string buf_;
  std::atomic<bool> stop_{false};
  std::thread reader_;
  std::mutex m_;
  std::map<int, Clock::time_point> arrived_;
};

struct Row {
  int rate = 0, sent = 0, delivered = 0;
  unsigned long long dropped = 0;
  double p50 = 0, p99 = 0, max = 0, publish_max_us = 0;
};

Row run_rate(const Broker& b, Client& client, int rate, double seconds, int& first) {
  talvo::mqtt::SpotFeedOptions o;
  o.broker = *talvo::mqtt::parse_mqtt_url(b.url()).url;
  auto feed = talvo::mqtt::SpotFeed::start(o);
  Row r;
  r.rate = rate;
  if (!feed.feed) return r;
  if (!talvo::test::wait_for([&] { return feed.feed->stats().connected; }, 10)) return r;
  const int n = static_cast<int>(rate * seconds);
  std::vector<Clock::time_point> sent(static_cast<std::size_t>(n));
  const auto start = Clock::now();
  for (int i = 0; i < n; ++i) {
    std::this_thread::sleep_until(start + std::chrono::microseconds(1000000LL * i / rate));
    talvo::mqtt::SpotMessage m;
    m.call = "BN" + std::to_string(first + i);
    m.freq_khz = 14000 + (i % 3500) * 0.1;
    m.snr_db = 20;
    m.wpm = 30;
    m.type = "CQ";
    m.spotter = "ZF9CW";
    m.utc = 1796710320 + i;
    sent[static_cast<std::size_t>(i)] = Clock::now();
    feed.feed->publish(m);
    r.publish_max_us =
        std::max(r.publish_max_us, ms(Clock::now() - sent[static_cast<std::size_t>(i)]) * 1000);
  }
  r.sent = n;
  talvo::test::wait_for(
      [&] {
        const auto a = client.arrivals();
        return a.size() >= static_cast<std::size_t>(first + n);
      },
      seconds + 5);
  r.dropped = feed.feed->stats().dropped;
  std::vector<double> lat;
  const auto a = client.arrivals();
  for (int i = 0; i < n; ++i) {
    const auto it = a.find(first + i);
    if (it != a.end()) lat.push_back(ms(it->second - sent[static_cast<std::size_t>(i)]));
  }
  r.delivered = static_cast<int>(lat.size());
  std::sort(lat.begin(), lat.end());
  if (!lat.empty()) {
    r.p50 = lat[lat.size() / 2];
    r.p99 = lat[std::min(lat.size() - 1, lat.size() * 99 / 100)];
    r.max = lat.back();
  }
  first += n;
  return r;
}

void rig_follow() {
  const int port = talvo::test::free_port();
  PipedChild rigctld({"rigctld", "-m", "1", "-T", "127.0.0.1", "-t", std::to_string(port)},
                     talvo::test::ChildOptions{false, true, ""});
  auto rigctl = [&](const std::string& hz) {
    talvo::test::RunOptions o;
    o.seconds = 10;
    return talvo::test::run({talvo::test::find_program("rigctl"), "-m", "2", "-r",
                             "127.0.0.1:" + std::to_string(port), "F", hz},
                            o)
               .status == 0;
  };
  if (!talvo::test::wait_for([&] { return rigctl("7000000"); }, 10)) {
    std::printf("rig: rigctld did not start\n");
    return;
  }
  auto address = talvo::rig::parse_rig_address("127.0.0.1:" + std::to_string(port));
  talvo::rig::RigPoller p(talvo::rig::hamlib_link(*address.address));
  talvo::test::wait_for([&] { return p.latest().dial_hz == 7000000; }, 5);
  std::printf("\nrig: QSY with rigctl, until RigPoller::latest() has it (polls once a second)\n");
  std::printf("%10s %10s\n", "dial Hz", "after ms");
  for (int i = 1; i <= 5; ++i) {
    const std::string hz = std::to_string(7000000 + i * 1370);
    // Spread the QSYs over the poll period.
    std::this_thread::sleep_for(std::chrono::milliseconds(230 * i));
    if (!rigctl(hz)) continue;
    const auto t0 = Clock::now();
    const bool ok = talvo::test::wait_for([&] { return p.latest().dial_hz == std::stod(hz); }, 5);
    std::printf("%10s %10s\n", hz.c_str(),
                ok ? std::to_string(static_cast<int>(ms(Clock::now() - t0))).c_str() : "missed");
  }
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[++i]);
  signal(SIGPIPE, SIG_IGN);
  Broker b;
  if (!b.start()) {
    std::fprintf(stderr, "network: mosquitto did not start\n");
    return 1;
  }
  const int port = talvo::test::free_port();
  PipedChild node({TALVO_NODE, "--mqtt", b.url(), "--telnet", std::to_string(port)},
                  talvo::test::ChildOptions{false, true, ""});
  if (!node.read_until_has("mqtt: connected", 10)) {
    std::fprintf(stderr, "network: talvo-node did not connect:\n%s", node.out.c_str());
    return 1;
  }
  Client client;
  if (!client.connect_to(port)) {
    std::fprintf(stderr, "network: cannot log in to talvo-node\n");
    return 1;
  }
  std::printf("spots: SpotFeed -> mosquitto -> talvo-node -> telnet client, %.0f s a rate\n",
              seconds);
  std::printf("%8s %7s %9s %6s %7s %8s %8s %8s %12s\n", "spots/s", "sent", "delivered", "lost",
              "dropped", "p50 ms", "p99 ms", "max ms", "publish us");
  int first = 0;
  bool met = true;
  for (const int rate : {100, 500, 1000, 2000, 5000}) {
    const Row r = run_rate(b, client, rate, seconds, first);
    std::printf("%8d %7d %9d %6d %7llu %8.1f %8.1f %8.1f %12.1f\n", r.rate, r.sent, r.delivered,
                r.sent - r.delivered, r.dropped, r.p50, r.p99, r.max, r.publish_max_us);
    if (rate == 100) met = r.sent > 0 && r.delivered == r.sent && r.p99 <= 250;
  }
  std::printf("target: 100 spots/s delivered in full, 99%% within 250 ms: %s\n",
              met ? "met" : "NOT met");
  rig_follow();
  return met ? 0 : 1;
}
