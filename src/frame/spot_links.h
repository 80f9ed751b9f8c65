// talvo-decode's links to the radio and to an MQTT broker, around the
// spotter: the rig poller as its dial source (the radio's reading at the
// moment of each spot), the spot feed as its spot sink (one JSON message per
// spot), and a thread that prints on standard error what the two have to
// tell while decoding runs. None of them ever holds up the decoder.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "mqtt/mqtt_url.h"
#include "mqtt/spot_feed.h"
#include "rig/rig_address.h"
#include "rig/rig_poller.h"
#include "spots/spotter.h"

namespace talvo {

// The rig poller as the spotter's dial source. A call heard before the
// radio first answered has no frequency: it is held back and counted.
class RigDial : public spots::DialSource {
 public:
  explicit RigDial(rig::RigPoller& poller) : poller_(poller) {}
  std::optional<spots::Tuning> tuning() override;
  // Spots held back because the radio had not yet answered.
  long held() const { return held_; }

 private:
  rig::RigPoller& poller_;
  std::atomic<long> held_{0};
};

// The message of a spot as it goes to the broker.
mqtt::SpotMessage spot_message(const std::string& spotter, const spots::Made& m);

// The spot feed as the spotter's sink.
class FeedSink : public spots::SpotSink {
 public:
  FeedSink(mqtt::SpotFeed& feed, std::string spotter) : feed_(feed), spotter_(std::move(spotter)) {}
  void spotted(const spots::Made& m) override { feed_.publish(spot_message(spotter_, m)); }

 private:
  mqtt::SpotFeed& feed_;
  std::string spotter_;  // the receiver's call
};

// The radio and the broker while decoding runs, either or both, and a
// thread that prints their notices on standard error every tenth of a
// second.
class SpotLinks {
 public:
  // Starts polling `rig` (when given; `pitch_hz` for a radio that reports
  // no CW pitch) and the feed to `broker` (when given) with `spotter` as the
  // receiver's call. A radio or broker that cannot be reached is no error:
  // it is told and tried again. Null with the reason when the feed cannot
  // start at all.
  static std::unique_ptr<SpotLinks> start(const std::optional<rig::RigAddress>& rig,
                                          double pitch_hz,
                                          const std::optional<mqtt::MqttUrl>& broker,
                                          const std::string& spotter, std::string& error);
  // Stops the printing thread and prints what is left, lets the feed's
  // waiting spots go (up to 2 s) and stops polling.
  ~SpotLinks();
  SpotLinks(const SpotLinks&) = delete;
  SpotLinks& operator=(const SpotLinks&) = delete;

  // The dial source and the sink for the spotter; null when not asked for.
  spots::DialSource* dial() { return dial_.get(); }
  spots::SpotSink* sink() { return sink_.get(); }
  // Spots held back because the radio had not yet answered.
  long held() const { return dial_ ? dial_->held() : 0; }

 private:
  SpotLinks() = default;
  void print_notices();  // what the radio and the feed have to tell, now

  std::unique_ptr<rig::RigPoller> poller_;
  std::unique_ptr<RigDial> dial_;
  std::unique_ptr<mqtt::SpotFeed> feed_;
  std::unique_ptr<FeedSink> sink_;
  std::mutex mutex_;
  std::condition_variable wake_;  // the printer's sleep, and its end
  bool stop_ = false;
  std::thread printer_;
};

}  // namespace talvo
