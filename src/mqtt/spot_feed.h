// Sends this receiver's spots to an MQTT broker, where other programs (the
// cluster node talvo-node, loggers, maps) take them.
//
// publish() never waits for the network: it puts the spot in a queue of at
// most queue_limit spots and returns; when the queue is full the oldest
// waiting spot is dropped and counted. A thread of the feed's own hands the
// spots to libmosquitto while the broker is connected, at most in_flight of
// them not yet acknowledged (QoS 1, not retained); libmosquitto's network
// thread sends them and reconnects when the broker goes away, then sends
// again what was not acknowledged, and the queue that waited follows.
//
// What happens to the connection comes as notices for the program to print
// (take_notice()): connected, lost, not reachable, spots dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_url.h"
#include "mqtt/spot_message.h"

namespace talvo::mqtt {

struct SpotFeedOptions {
  MqttUrl broker;
  ClientOptions client;                      // id, keepalive, reconnect delay
  std::string topic_prefix = "talvo/spots";  // topics are PREFIX/band/spotter/call
  std::size_t queue_limit = 1000;            // spots waiting, at most
  std::size_t in_flight = 20;                // spots sent and not acknowledged, at most
  double unreachable_seconds = 5;            // without a connection this long is reported, s
  double drain_seconds = 2;                  // the destructor lets queued spots go this long, s
};

struct SpotFeedStats {
  std::uint64_t published = 0;     // spots given to publish()
  std::uint64_t acknowledged = 0;  // spots the broker acknowledged
  std::uint64_t dropped = 0;       // spots dropped from a full queue
  std::uint64_t refused = 0;       // spots libmosquitto would not send (the first is told)
  std::size_t waiting = 0;         // spots in the queue now
  std::size_t in_flight = 0;       // spots sent and not acknowledged now
  bool connected = false;          // whether the broker is connected now
};

class SpotFeed;

struct SpotFeedStart {
  std::unique_ptr<SpotFeed> feed;  // null when it cannot start
  std::string error;               // why not
};

class SpotFeed {
 public:
  // Starts the feed. A broker that cannot be reached is not an error: the
  // feed is reported (a notice) and keeps trying.
  static SpotFeedStart start(const SpotFeedOptions& o);
  // Lets waiting spots go for up to drain_seconds while connected, then
  // disconnects.
  ~SpotFeed();
  SpotFeed(const SpotFeed&) = delete;
  SpotFeed& operator=(const SpotFeed&) = delete;

  // Queues `m` for the broker; never waits.
  void publish(const SpotMessage& m);

  SpotFeedStats stats() const;

  // The oldest notice not yet taken, "" when there is none.
  std::string take_notice();

  struct Impl;  // the state the threads and libmosquitto's callbacks share

 private:
  explicit SpotFeed(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace talvo::mqtt
