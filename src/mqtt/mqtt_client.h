// What the feed and the subscriber share of libmosquitto: the library's
// start, a client set up for a broker, and its connection started on the
// library's own network thread (which reconnects by itself with a delay
// growing from 1 s to reconnect_max_seconds).
#pragma once

#include <mosquitto.h>

#include <string>

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

// Starts connecting (without waiting for the broker) and the network thread.
// Returns "" or why the first attempt failed at once (the thread goes on
// trying); a failure to start the thread is fatal: `fatal` is set.
std::string start_connecting(mosquitto* m, const MqttUrl& broker, const ClientOptions& o,
                             bool& fatal);

// Disconnects, stops the network thread and frees the client.
void end_client(mosquitto* m);

// libmosquitto's text for an error code, or for the reason of a CONNACK.
std::string error_text(int rc);
std::string refusal_text(int connack_rc);

}  // namespace talvo::mqtt
