// The common part of the MQTT clients; see mqtt_client.h.
#include "mqtt/mqtt_client.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
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

Connection::Connection(mosquitto* m, const MqttUrl& broker, const ClientOptions& o)
    : m_(m), broker_(broker), o_(o) {}

std::string Connection::start(bool& fatal) {
  fatal = false;
  const int rc =
      mosquitto_connect_async(m_, broker_.host.c_str(), broker_.port, o_.keepalive_seconds);
  if (rc == MOSQ_ERR_SUCCESS) {
    const int lrc = mosquitto_loop_start(m_);
    if (lrc != MOSQ_ERR_SUCCESS) {
      fatal = true;
      return "cannot start the MQTT network thread: " + error_text(lrc);
    }
    looping_ = true;
    return "";
  }
  const std::string why = error_text(rc);
  retry_ = std::thread([this] { retry(); });
  return why;
}

void Connection::retry() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (int pause = 1;; pause = std::min(pause * 2, std::max(1, o_.reconnect_max_seconds))) {
    if (wake_.wait_for(lock, std::chrono::seconds(pause), [&] { return stop_; })) return;
    if (mosquitto_connect_async(m_, broker_.host.c_str(), broker_.port, o_.keepalive_seconds) !=
        MOSQ_ERR_SUCCESS)
      continue;
    looping_ = mosquitto_loop_start(m_) == MOSQ_ERR_SUCCESS;
    return;
  }
}

Connection::~Connection() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    wake_.notify_all();
  }
  if (retry_.joinable()) retry_.join();
  mosquitto_disconnect(m_);
  if (looping_) mosquitto_loop_stop(m_, false);
  mosquitto_destroy(m_);
}

std::string error_text(int rc) {
  if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
  return mosquitto_strerror(rc);
}

std::string refusal_text(int connack_rc) {
  return mosquitto_connack_string(connack_rc);
}

}  // namespace talvo::mqtt
