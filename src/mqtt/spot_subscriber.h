// Takes the spots every receiver sends to the broker: subscribes to
// talvo/spots/# (QoS 1), reads each message as a spot and hands it to a
// function of the program's, on libmosquitto's network thread. A message
// that is not a spot is counted and ignored. The subscription is made again
// each time the connection is (re)made.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_url.h"
#include "mqtt/spot_message.h"

namespace talvo::mqtt {

struct SpotSubscriberOptions {
  MqttUrl broker;
  ClientOptions client;                 // id, clean session, keepalive, reconnect delay
  std::string topic = "talvo/spots/#";  // the subscription
  double unreachable_seconds = 5;       // without a connection this long is reported, s
};

struct SpotSubscriberStats {
  std::uint64_t received = 0;  // spots handed on
  std::uint64_t bad = 0;       // messages that were not spots
  bool connected = false;      // whether the broker is connected now
  bool subscribed = false;     // whether the broker confirmed the subscription on this connection
};

class SpotSubscriber;

struct SpotSubscriberStart {
  std::unique_ptr<SpotSubscriber> subscriber;  // null when it cannot start
  std::string error;                           // why not
};

class SpotSubscriber {
 public:
  using OnSpot = std::function<void(const SpotMessage&)>;
  // Starts; `on_spot` is called on the network thread for each spot.
  static SpotSubscriberStart start(const SpotSubscriberOptions& o, OnSpot on_spot);
  ~SpotSubscriber();
  SpotSubscriber(const SpotSubscriber&) = delete;
  SpotSubscriber& operator=(const SpotSubscriber&) = delete;

  SpotSubscriberStats stats() const;
  // The oldest notice not yet taken, "" when there is none.
  std::string take_notice();

  struct Impl;  // the state libmosquitto's callbacks share

 private:
  explicit SpotSubscriber(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace talvo::mqtt
