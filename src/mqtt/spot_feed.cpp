// The spot feed's queue and its sending thread; see spot_feed.h.
#include "mqtt/spot_feed.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace talvo::mqtt {

using Clock = std::chrono::steady_clock;

struct SpotFeed::Impl {
  SpotFeedOptions o;
  mosquitto* client = nullptr;  // the connection's client
  std::unique_ptr<Connection> connection;

  mutable std::mutex mutex;
  std::condition_variable wake;          // the sender: spots, a connection, an ack or the stop
  std::deque<SpotMessage> queue;         // waiting, oldest first
  std::map<int, SpotMessage> in_flight;  // sent and not acknowledged, by message id
  std::set<int> early_acks;              // acks that came before their message was filed
  std::deque<std::string> notices;
  SpotFeedStats stats;
  std::uint64_t dropped_reported = 0;  // drops already told in a notice
  bool ever_connected = false;
  bool told_unreachable = false;  // since the connection was last up
  Clock::time_point down_since = Clock::now();
  bool stop = false;
  std::thread sender;

  void notice(std::string s) { notices.push_back(std::move(s)); }  // under the mutex
  void tell_drops() {                                              // under the mutex
    if (stats.dropped == dropped_reported) return;
    notice("mqtt: " + std::to_string(stats.dropped - dropped_reported) +
           " spots dropped: the queue of " + std::to_string(o.queue_limit) +
           " was full while the broker was away");
    dropped_reported = stats.dropped;
  }

  void send_loop();
};

namespace {

void on_connect(mosquitto*, void* obj, int rc) {
  auto& f = *static_cast<SpotFeed::Impl*>(obj);
  std::lock_guard<std::mutex> lock(f.mutex);
  if (rc != 0) {
    f.notice("mqtt: the broker at " + where(f.o.broker) +
             " refused the connection: " + refusal_text(rc));
    return;
  }
  f.notice(
      "mqtt: " + std::string(f.ever_connected ? "connected again to " : "connected to ") +
      where(f.o.broker) +
      (f.queue.empty() ? "" : "; sending " + std::to_string(f.queue.size()) + " waiting spots"));
  f.tell_drops();
  f.ever_connected = true;
  f.told_unreachable = false;
  f.stats.connected = true;
  f.wake.notify_all();
}

void on_disconnect(mosquitto*, void* obj, int rc) {
  auto& f = *static_cast<SpotFeed::Impl*>(obj);
  std::lock_guard<std::mutex> lock(f.mutex);
  const bool was = f.stats.connected;
  f.stats.connected = false;
  f.down_since = Clock::now();
  if (rc != 0 && was && !f.stop) {
    f.notice("mqtt: lost the broker at " + where(f.o.broker) + " (" + error_text(rc) +
             "); keeping up to " + std::to_string(f.o.queue_limit) + " spots until it is back");
    f.told_unreachable = true;
  }
}

void on_publish(mosquitto*, void* obj, int mid) {
  auto& f = *static_cast<SpotFeed::Impl*>(obj);
  std::lock_guard<std::mutex> lock(f.mutex);
  if (f.in_flight.erase(mid) == 0) {
    f.early_acks.insert(mid);
  } else {
    ++f.stats.acknowledged;
  }
  f.wake.notify_all();
}

}  // namespace

void SpotFeed::Impl::send_loop() {
  std::unique_lock<std::mutex> lock(mutex);
  while (!stop) {
    wake.wait_for(lock, std::chrono::milliseconds(500), [&] {
      return stop || (stats.connected && !queue.empty() && in_flight.size() < o.in_flight);
    });
    if (!stats.connected && !told_unreachable &&
        Clock::now() - down_since > std::chrono::duration<double>(o.unreachable_seconds)) {
      notice("mqtt: no connection to the broker at " + where(o.broker) + "; trying again, " +
             std::to_string(queue.size()) + " spots waiting");
      told_unreachable = true;
    }
    while (stats.connected && !queue.empty() && in_flight.size() < o.in_flight) {
      SpotMessage m = std::move(queue.front());
      queue.pop_front();
      const std::string topic = spot_topic(m, o.topic_prefix), payload = to_json(m);
      lock.unlock();
      int mid = 0;
      const int rc = mosquitto_publish(client, &mid, topic.c_str(),
                                       static_cast<int>(payload.size()), payload.data(), 1, false);
      lock.lock();
      if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_ERRNO) {
        queue.push_front(std::move(m));  // not connected after all: it waits again
        break;
      }
      if (rc != MOSQ_ERR_SUCCESS) {  // a spot libmosquitto will never send: it goes
        if (stats.refused++ == 0)
          notice("mqtt: a spot of " + m.call + " cannot be sent (" + error_text(rc) + "); dropped");
        continue;
      }
      if (early_acks.erase(mid) != 0)
        ++stats.acknowledged;
      else
        in_flight.emplace(mid, std::move(m));
    }
  }
}

SpotFeedStart SpotFeed::start(const SpotFeedOptions& o) {
  auto impl = std::make_unique<Impl>();
  impl->o = o;
  if (impl->o.queue_limit == 0) impl->o.queue_limit = 1;
  if (impl->o.in_flight == 0) impl->o.in_flight = 1;
  std::string error;
  impl->client = new_client(o.broker, o.client, impl.get(), error);
  if (impl->client == nullptr) return {nullptr, error};
  mosquitto_connect_callback_set(impl->client, on_connect);
  mosquitto_disconnect_callback_set(impl->client, on_disconnect);
  mosquitto_publish_callback_set(impl->client, on_publish);
  // libmosquitto's own limit is ours: it never holds spots waiting itself.
  mosquitto_int_option(impl->client, MOSQ_OPT_SEND_MAXIMUM, static_cast<int>(impl->o.in_flight));
  impl->connection = std::make_unique<Connection>(impl->client, o.broker, o.client);
  bool fatal = false;
  const std::string first = impl->connection->start(fatal);
  if (fatal) return {nullptr, first};
  if (!first.empty()) {
    impl->notice("mqtt: cannot reach the broker at " + where(o.broker) + " (" + first +
                 "); trying again");
    impl->told_unreachable = true;
  }
  Impl* p = impl.get();
  impl->sender = std::thread([p] { p->send_loop(); });
  return {std::unique_ptr<SpotFeed>(new SpotFeed(std::move(impl))), ""};
}

SpotFeed::SpotFeed(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SpotFeed::~SpotFeed() {
  Impl& f = *impl_;
  {
    std::unique_lock<std::mutex> lock(f.mutex);
    f.wake.wait_for(lock, std::chrono::duration<double>(f.o.drain_seconds),
                    [&] { return !f.stats.connected || (f.queue.empty() && f.in_flight.empty()); });
    f.stop = true;
    f.wake.notify_all();
  }
  f.sender.join();
  f.connection.reset();
}

void SpotFeed::publish(const SpotMessage& m) {
  Impl& f = *impl_;
  std::lock_guard<std::mutex> lock(f.mutex);
  ++f.stats.published;
  if (f.queue.size() >= f.o.queue_limit) {
    f.queue.pop_front();
    ++f.stats.dropped;
  }
  f.queue.push_back(m);
  f.wake.notify_all();
}

SpotFeedStats SpotFeed::stats() const {
  const Impl& f = *impl_;
  std::lock_guard<std::mutex> lock(f.mutex);
  SpotFeedStats s = f.stats;
  s.waiting = f.queue.size();
  s.in_flight = f.in_flight.size();
  return s;
}

std::string SpotFeed::take_notice() {
  Impl& f = *impl_;
  std::lock_guard<std::mutex> lock(f.mutex);
  if (f.notices.empty()) return "";
  std::string n = std::move(f.notices.front());
  f.notices.pop_front();
  return n;
}

}  // namespace talvo::mqtt
