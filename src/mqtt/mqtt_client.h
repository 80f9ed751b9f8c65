// What the feed and the subscriber share of libmosquitto: the library's
// start, a client set up for a broker, and its connection kept up by the
// library's network thread.
#pragma once

#include <mosquitto.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "mqtt/mqtt_url.h"

namespace talvo::mqtt {

struct ClientOptions {
  std::string client_id;           // "" lets the library make one (needs clean_session)
  bool clean_session = true;       // false: the broker keeps subscriptions and messages for us
  int keepalive_seconds = 30;      // between pings, s
  int reconnect_max_seconds = 30;  // the longest pause between attempts to reconnect, s
};

// A client for `broker`, or null with the reason in `error`. `owner` is the
// object the callbacks get.
mosquitto* new_client(const MqttUrl& broker, const ClientOptions& o, void* owner,
                      std::string& error);

// A client's connection: connecting starts at once without waiting for the
// broker, and libmosquitto's network thread keeps it up. libmosquitto
// reconnects a connection that was made once, but not one whose first
// attempt failed: a thread of this object's tries that one again (after
// 1 s, then twice as long each time up to reconnect_max_seconds) until it
// is made.
class Connection {
 public:
  // Takes over `m`.
  Connection(mosquitto* m, const MqttUrl& broker, const ClientOptions& o);
  // Disconnects, stops the threads and frees the client.
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Starts connecting. Returns "" or why the first attempt failed at once
  // (then it is tried again); when the network thread cannot start at all,
  // `fatal` is set with the reason returned.
  std::string start(bool& fatal);

  mosquitto* client() const { return m_; }

 private:
  void retry();

  mosquitto* m_;
  MqttUrl broker_;
  ClientOptions o_;
  std::mutex mutex_;
  std::condition_variable wake_;  // the retry thread's pause, and its end
  bool stop_ = false;
  bool looping_ = false;  // the network thread runs
  std::thread retry_;
};

// libmosquitto's text for an error code, or for the reason of a CONNACK.
std::string error_text(int rc);
std::string refusal_text(int connack_rc);

}  // namespace talvo::mqtt
