// talvo-node's command line, lines and repeat filter; see node.h.
#include "node/node.h"

#include <arpa/inet.h>

#include <charconv>
#include <cmath>

#include "spots/spot.h"

namespace talvo::node {
namespace {

bool numeric_address(const std::string& a) {
  unsigned char buf[16];
  return inet_pton(AF_INET, a.c_str(), buf) == 1 || inet_pton(AF_INET6, a.c_str(), buf) == 1;
}

NodeOptionsOrError refuse(const std::string& why) {
  return {std::nullopt, why};
}

}  // namespace

const char* node_usage() {
  return "usage: talvo-node --mqtt URL --telnet PORT [--listen ADDR]\n"
         "Serves the spots every receiver sends to an MQTT broker on one telnet\n"
         "port, as DX-cluster lines with each receiver's own call.\n"
         "  --mqtt URL      the broker: mqtt://[USER[:PASSWORD]@]HOST[:PORT]\n"
         "                  (port 1883 unless given); subscribes to talvo/spots/#\n"
         "  --telnet PORT   the port loggers and cluster software connect to\n"
         "                  (0: any free port, which is printed)\n"
         "  --listen ADDR   the numeric address to listen on (default 127.0.0.1;\n"
         "                  0.0.0.0 or :: for every interface)\n"
         "  --help          this text\n";
}

NodeOptionsOrError parse_node_args(const std::vector<std::string>& args) {
  NodeOptions o;
  bool have_mqtt = false, have_telnet = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      o.help = true;
      return {o, ""};
    }
    if (a != "--mqtt" && a != "--telnet" && a != "--listen")
      return refuse("unknown argument '" + a + "'");
    if (i + 1 >= args.size()) return refuse(a + " needs a value");
    const std::string& v = args[++i];
    if (a == "--mqtt") {
      auto u = mqtt::parse_mqtt_url(v);
      if (!u.url) return refuse("--mqtt: " + u.error);
      o.broker = *u.url;
      have_mqtt = true;
    } else if (a == "--telnet") {
      int p = -1;
      const auto r = std::from_chars(v.data(), v.data() + v.size(), p);
      if (r.ec != std::errc() || r.ptr != v.data() + v.size() || p < 0 || p > 65535)
        return refuse("--telnet must be a port number from 0 to 65535");
      o.telnet_port = p;
      have_telnet = true;
    } else {
      if (!numeric_address(v))
        return refuse("--listen must be a numeric IPv4 or IPv6 address, e.g. 0.0.0.0");
      o.listen = v;
    }
  }
  if (!have_mqtt) return refuse("--mqtt URL is needed: the broker the receivers send to");
  if (!have_telnet) return refuse("--telnet PORT is needed: the port to serve the spots on");
  return {o, ""};
}

std::string node_line(const mqtt::SpotMessage& m) {
  spots::Spot s;
  s.call = m.call;
  s.freq_hz = m.freq_khz * 1000.0;
  s.snr_db = m.snr_db;
  s.wpm = m.wpm;
  s.type = m.type == "CQ" ? spots::SpotType::kCq : spots::SpotType::kDx;
  s.utc = m.utc;
  return spots::spot_line(m.spotter, s);
}

bool fits_a_line(const mqtt::SpotMessage& m) {
  auto ok = [](const std::string& c, bool dash) {
    if (c.empty() || c.size() > 15) return false;
    for (const char x : c)
      if (!((x >= 'A' && x <= 'Z') || (x >= 'a' && x <= 'z') || (x >= '0' && x <= '9') ||
            x == '/' || (dash && x == '-')))
        return false;
    return true;
  };
  return ok(m.call, false) && ok(m.spotter, true) && std::isfinite(m.freq_khz);
}

bool RepeatFilter::first_time(const mqtt::SpotMessage& m) {
  Key k{m.spotter, m.call, static_cast<long long>(m.utc),
        static_cast<long long>(std::llround(m.freq_khz * 1000.0))};
  if (!seen_.insert(k).second) return false;
  order_.push_back(std::move(k));
  if (order_.size() > limit_) {
    seen_.erase(order_.front());
    order_.pop_front();
  }
  return true;
}

}  // namespace talvo::node
