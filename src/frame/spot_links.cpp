// The radio and the broker around the spotter; see spot_links.h.
#include "frame/spot_links.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "rig/spot_frequency.h"

namespace talvo {

std::optional<spots::Tuning> RigDial::tuning() {
  const rig::RigReading r = poller_.latest();
  // A dial of 0 was never read: the radio has not answered yet.
  if (r.dial_hz <= 0) {
    ++held_;
    return std::nullopt;
  }
  return rig::tuning_of(r);
}

mqtt::SpotMessage spot_message(const std::string& spotter, const spots::Made& m) {
  mqtt::SpotMessage s;
  s.call = m.spot.call;
  // To the hertz: the tone is measured no closer than that.
  s.freq_khz = std::round(m.spot.freq_hz) / 1000.0;
  s.audio_hz = std::round(m.spot.audio_hz);
  s.snr_db = m.spot.snr_db;
  s.wpm = m.spot.wpm;
  s.type = spots::type_name(m.spot.type);
  s.spotter = spotter;
  s.utc = m.spot.utc;
  s.copies = m.spot.copies;
  s.known = m.spot.known;
  return s;
}

std::unique_ptr<SpotLinks> SpotLinks::start(const std::optional<rig::RigAddress>& rig,
                                            double pitch_hz,
                                            const std::optional<mqtt::MqttUrl>& broker,
                                            const std::string& spotter, std::string& error) {
  std::unique_ptr<SpotLinks> l(new SpotLinks);
  if (broker) {
    mqtt::SpotFeedOptions fo;
    fo.broker = *broker;
    // A broker that went away is tried again at least every 5 seconds.
    fo.client.reconnect_max_seconds = 5;
    mqtt::SpotFeedStart f = mqtt::SpotFeed::start(fo);
    if (!f.feed) {
      error = "mqtt: " + f.error;
      return nullptr;
    }
    l->feed_ = std::move(f.feed);
    l->sink_ = std::make_unique<FeedSink>(*l->feed_, spotter);
  }
  if (rig) {
    rig::RigPollOptions po;
    po.pitch_hz = pitch_hz;
    l->poller_ = std::make_unique<rig::RigPoller>(rig::hamlib_link(*rig), po);
    l->dial_ = std::make_unique<RigDial>(*l->poller_);
  }
  SpotLinks* p = l.get();
  l->printer_ = std::thread([p] {
    std::unique_lock<std::mutex> lock(p->mutex_);
    while (!p->stop_) {
      p->wake_.wait_for(lock, std::chrono::milliseconds(100), [p] { return p->stop_; });
      p->print_notices();
    }
  });
  return l;
}

SpotLinks::~SpotLinks() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  printer_.join();
  print_notices();
  if (const long n = held(); n > 0)
    std::fprintf(stderr,
                 "talvo-decode: rig: spots held back before the radio first answered: %ld\n", n);
  sink_.reset();
  feed_.reset();
  dial_.reset();
  poller_.reset();
}

void SpotLinks::print_notices() {
  std::string n;
  while (poller_ && !(n = poller_->take_notice()).empty())
    std::fprintf(stderr, "talvo-decode: %s\n", n.c_str());
  while (feed_ && !(n = feed_->take_notice()).empty())
    std::fprintf(stderr, "talvo-decode: %s\n", n.c_str());
}

}  // namespace talvo
