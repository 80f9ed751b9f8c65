// talvo-node: the spots of every receiver of a club, taken from the MQTT
// broker they send to, served on one telnet port as DX-cluster lines, each
// with its own receiver's call as the spotter.
//
// Here are its pieces without I/O: the command line, the line for a spot,
// and the filter of repeats (QoS 1 delivers a message at least once: after a
// reconnection the same spot may come twice).
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "mqtt/mqtt_url.h"
#include "mqtt/spot_message.h"

namespace talvo::node {

struct NodeOptions {
  mqtt::MqttUrl broker;                 // --mqtt URL
  int telnet_port = 7300;               // --telnet PORT (0: any free port)
  std::string listen = "127.0.0.1";     // --listen ADDR, numeric IPv4 or IPv6
  std::string topic = "talvo/spots/#";  // the subscription
  bool help = false;                    // --help: print the usage and stop
};

struct NodeOptionsOrError {
  std::optional<NodeOptions> options;  // empty when refused
  std::string error;                   // why
};

// Reads the arguments after the program's name.
NodeOptionsOrError parse_node_args(const std::vector<std::string>& args);

// The usage text of --help.
const char* node_usage();

// The DX-cluster line for `m` as its own spotter sends it, without a line end.
std::string node_line(const mqtt::SpotMessage& m);

// Whether the calls of `m` can stand in a spot line: the spotter and the
// call are 1 to 15 letters, digits and '/' (a spotter may also have '-').
// Anything else could break the columns loggers read.
bool fits_a_line(const mqtt::SpotMessage& m);

// Passes each spot once: a spot with the spotter, call, time and frequency
// of one among the last `remembered` passed is a repeat.
class RepeatFilter {
 public:
  explicit RepeatFilter(std::size_t remembered = 4096) : limit_(remembered) {}
  bool first_time(const mqtt::SpotMessage& m);

 private:
  using Key = std::tuple<std::string, std::string, long long, long long>;  // spotter, call, utc, Hz
  std::size_t limit_;      // keys remembered at most
  std::set<Key> seen_;     // the keys of the last spots passed
  std::deque<Key> order_;  // the same, oldest first
};

}  // namespace talvo::node
