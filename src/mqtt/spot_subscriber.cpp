// The spot subscriber's callbacks; see spot_subscriber.h.
#include "mqtt/spot_subscriber.h"

#include <chrono>
#include <deque>
#include <mutex>

namespace talvo::mqtt {

using Clock = std::chrono::steady_clock;

struct SpotSubscriber::Impl {
  SpotSubscriberOptions o;
  OnSpot on_spot;
  mosquitto* client = nullptr;  // the connection's client
  std::unique_ptr<Connection> connection;

  mutable std::mutex mutex;
  std::deque<std::string> notices;
  SpotSubscriberStats stats;
  bool ever_connected = false;
  bool told_unreachable = false;  // since the connection was last up
  Clock::time_point down_since = Clock::now();

  void notice(std::string s) { notices.push_back(std::move(s)); }  // under the mutex
  // Tells of an unreachable broker once, when it has been so long enough.
  void check_unreachable() {  // under the mutex
    if (stats.connected || told_unreachable ||
        Clock::now() - down_since < std::chrono::duration<double>(o.unreachable_seconds))
      return;
    notice("mqtt: no connection to the broker at " + where(o.broker) + "; trying again");
    told_unreachable = true;
  }
};

namespace {

void on_connect(mosquitto* m, void* obj, int rc) {
  auto& s = *static_cast<SpotSubscriber::Impl*>(obj);
  std::lock_guard<std::mutex> lock(s.mutex);
  if (rc != 0) {
    s.notice("mqtt: the broker at " + where(s.o.broker) +
             " refused the connection: " + refusal_text(rc));
    return;
  }
  s.notice("mqtt: " + std::string(s.ever_connected ? "connected again to " : "connected to ") +
           where(s.o.broker));
  s.ever_connected = true;
  s.told_unreachable = false;
  s.stats.connected = true;
  s.stats.subscribed = false;
  const int src = mosquitto_subscribe(m, nullptr, s.o.topic.c_str(), 1);
  if (src != MOSQ_ERR_SUCCESS)
    s.notice("mqtt: cannot subscribe to " + s.o.topic + ": " + error_text(src));
}

void on_subscribe(mosquitto*, void* obj, int, int count, const int* granted) {
  auto& s = *static_cast<SpotSubscriber::Impl*>(obj);
  std::lock_guard<std::mutex> lock(s.mutex);
  if (count >= 1 && granted[0] <= 2) {
    s.stats.subscribed = true;
  } else {
    s.notice("mqtt: the broker at " + where(s.o.broker) + " refused the subscription to " +
             s.o.topic);
  }
}

void on_disconnect(mosquitto*, void* obj, int rc) {
  auto& s = *static_cast<SpotSubscriber::Impl*>(obj);
  std::lock_guard<std::mutex> lock(s.mutex);
  const bool was = s.stats.connected;
  s.stats.connected = false;
  s.stats.subscribed = false;
  s.down_since = Clock::now();
  if (rc != 0 && was) {
    s.notice("mqtt: lost the broker at " + where(s.o.broker) + " (" + error_text(rc) +
             "); trying again");
    s.told_unreachable = true;
  }
}

// Tells of bad messages at the 1st, 10th, 100th, ...: a stream of them does
// not flood the program's output.
bool worth_telling(std::uint64_t n) {
  while (n % 10 == 0)
    n /= 10;
  return n == 1;
}

void on_message(mosquitto*, void* obj, const mosquitto_message* msg) {
  auto& s = *static_cast<SpotSubscriber::Impl*>(obj);
  const auto parsed = from_json(std::string_view(static_cast<const char*>(msg->payload),
                                                 static_cast<std::size_t>(msg->payloadlen)));
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!parsed.message) {
      ++s.stats.bad;
      if (worth_telling(s.stats.bad))
        s.notice("mqtt: ignored a message on " + std::string(msg->topic) + " (" + parsed.error +
                 "); " + std::to_string(s.stats.bad) + " so far");
      return;
    }
    ++s.stats.received;
  }
  s.on_spot(*parsed.message);
}

}  // namespace

SpotSubscriberStart SpotSubscriber::start(const SpotSubscriberOptions& o, OnSpot on_spot) {
  auto impl = std::make_unique<Impl>();
  impl->o = o;
  impl->on_spot = std::move(on_spot);
  std::string error;
  impl->client = new_client(o.broker, o.client, impl.get(), error);
  if (impl->client == nullptr) return {nullptr, error};
  mosquitto_connect_callback_set(impl->client, on_connect);
  mosquitto_disconnect_callback_set(impl->client, on_disconnect);
  mosquitto_subscribe_callback_set(impl->client, on_subscribe);
  mosquitto_message_callback_set(impl->client, on_message);
  impl->connection = std::make_unique<Connection>(impl->client, o.broker, o.client);
  bool fatal = false;
  const std::string first = impl->connection->start(fatal);
  if (fatal) return {nullptr, first};
  if (!first.empty()) {
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->notice("mqtt: cannot reach the broker at " + where(o.broker) + " (" + first +
                 "); trying again");
    impl->told_unreachable = true;
  }
  return {std::unique_ptr<SpotSubscriber>(new SpotSubscriber(std::move(impl))), ""};
}

SpotSubscriber::SpotSubscriber(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SpotSubscriber::~SpotSubscriber() {
  impl_->connection.reset();
}

SpotSubscriberStats SpotSubscriber::stats() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->stats;
}

std::string SpotSubscriber::take_notice() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->check_unreachable();
  if (impl_->notices.empty()) return "";
  std::string n = std::move(impl_->notices.front());
  impl_->notices.pop_front();
  return n;
}

}  // namespace talvo::mqtt
