// The common part of the MQTT clients; see mqtt_client.h.
#include "mqtt/mqtt_client.h"

#include <cerrno>
#include <cstring>
#include <mutex>

namespace talvo::mqtt {

mosquitto* new_client(const MqttUrl& broker, const ClientOptions& o, void* owner,
                      std::string& error) {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
  mosquitto* m =
      mosquitto_new(o.client_id.empty() ? nullptr : o.client_id.c_str(), o.clean_session, owner);
  if (m == nullptr) {
    error = "cannot make an MQTT client: " + std::string(std::strerror(errno));
    return nullptr;
  }
  int rc = MOSQ_ERR_SUCCESS;
  if (!broker.user.empty())
    rc = mosquitto_username_pw_set(m, broker.user.c_str(),
                                   broker.password.empty() ? nullptr : broker.password.c_str());
  if (rc == MOSQ_ERR_SUCCESS)
    rc = mosquitto_reconnect_delay_set(m, 1, static_cast<unsigned>(o.reconnect_max_seconds), true);
  if (rc != MOSQ_ERR_SUCCESS) {
    error = "cannot set up the MQTT client: " + error_text(rc);
    mosquitto_destroy(m);
    return nullptr;
  }
  return m;
}

std::string start_connecting(mosquitto* m, const MqttUrl& broker, const ClientOptions& o,
                             bool& fatal) {
  fatal = false;
  const int rc = mosquitto_connect_async(m, broker.host.c_str(), broker.port, o.keepalive_seconds);
  const std::string first = rc == MOSQ_ERR_SUCCESS ? "" : error_text(rc);
  const int lrc = mosquitto_loop_start(m);
  if (lrc != MOSQ_ERR_SUCCESS) {
    fatal = true;
    return "cannot start the MQTT network thread: " + error_text(lrc);
  }
  return first;
}

void end_client(mosquitto* m) {
  mosquitto_disconnect(m);
  mosquitto_loop_stop(m, false);
  mosquitto_destroy(m);
}

std::string error_text(int rc) {
  if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
  return mosquitto_strerror(rc);
}

std::string refusal_text(int connack_rc) {
  return mosquitto_connack_string(connack_rc);
}

}  // namespace talvo::mqtt
