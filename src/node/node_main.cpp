// talvo-node: serves the spots of every receiver, taken from an MQTT broker,
// on one telnet port. See node.h and man/talvo-node.1.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "mqtt/spot_subscriber.h"
#include "net/telnet_server.h"
#include "node/node.h"

namespace {

std::atomic<bool> g_stop{false};  // set by SIGINT and SIGTERM

void on_signal(int) {
  g_stop = true;
}

int usage_error(const std::string& why) {
  std::fprintf(stderr, "talvo-node: %s\nTry 'talvo-node --help'.\n", why.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const auto parsed = talvo::node::parse_node_args(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) return usage_error(parsed.error);
  const talvo::node::NodeOptions& o = *parsed.options;
  if (o.help) {
    std::fputs(talvo::node::node_usage(), stdout);
    return 0;
  }

  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  talvo::TelnetOptions t;
  t.address = o.listen;
  t.port = o.telnet_port;
  auto server = talvo::TelnetServer::start(t);
  if (!server) {
    std::fprintf(stderr, "talvo-node: %s\n", server.error.c_str());
    return 1;
  }
  std::fprintf(stderr, "talvo-node: serving spots on %s port %d\n", o.listen.c_str(),
               server.source->port());

  talvo::node::RepeatFilter repeats;  // used on the subscriber's network thread alone
  std::atomic<unsigned long> unfit{0};
  talvo::mqtt::SpotSubscriberOptions so;
  so.broker = o.broker;
  so.topic = o.topic;
  talvo::TelnetServer& srv = *server.source;
  auto sub = talvo::mqtt::SpotSubscriber::start(so, [&](const talvo::mqtt::SpotMessage& m) {
    if (!talvo::node::fits_a_line(m)) {
      if (unfit++ == 0)
        std::fprintf(stderr, "talvo-node: ignored a spot whose calls do not fit a line\n");
      return;
    }
    if (repeats.first_time(m)) srv.publish(talvo::node::node_line(m));
  });
  if (!sub.subscriber) {
    std::fprintf(stderr, "talvo-node: %s\n", sub.error.c_str());
    return 1;
  }

  auto print_notices = [&] {
    for (std::string n; !(n = sub.subscriber->take_notice()).empty();)
      std::fprintf(stderr, "talvo-node: %s\n", n.c_str());
  };
  while (!g_stop) {
    print_notices();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  print_notices();
  sub.subscriber.reset();
  const auto st = server.source->stats();
  std::fprintf(stderr, "talvo-node: stopped; %d clients were connected\n", st.connected);
  server.source->stop();
  return 0;
}
