// The radio poller's thread; see rig_poller.h.
#include "rig/rig_poller.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

namespace talvo::rig {

// What the poller's thread and its owner share. The thread holds it too, so
// a thread left behind by a bounded stop still has it.
struct RigPoller::Shared {
  mutable std::mutex mutex;
  std::condition_variable wake;  // the thread's sleep between polls, and its end
  RigReading reading;
  std::deque<std::string> notices;
  long polls = 0;
  bool stop = false;
  bool finished = false;  // the thread has returned
};

namespace {

std::string khz(double hz) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f kHz", hz / 1000.0);
  return buf;
}

// One poll: opens the link when it is closed, reads it, and reports a change
// between answering and not. The flags are the thread's own.
void poll_once(RigPoller::Shared& s, RigLink& link, const RigPollOptions& o, bool& open,
               bool& ever_answered, bool& reported_silent) {
  std::string error;
  RigAnswer a;
  bool ok = open || link.open(error);
  open = ok;
  if (ok) ok = link.read(a, error);
  if (!ok && open) {
    link.close();
    open = false;
  }
  std::lock_guard<std::mutex> lock(s.mutex);
  ++s.polls;
  if (ok) {
    s.reading.dial_hz = a.dial_hz;
    s.reading.mode = a.mode;
    s.reading.pitch_hz = a.pitch_hz > 0 ? a.pitch_hz : o.pitch_hz;
    s.reading.answering = true;
    if (reported_silent)
      s.notices.push_back("rig: answering again at " + khz(a.dial_hz) + " " + mode_name(a.mode));
    reported_silent = false;
    ever_answered = true;
    return;
  }
  s.reading.answering = false;
  if (reported_silent) return;
  reported_silent = true;
  if (ever_answered)
    s.notices.push_back("rig: not answering (" + error + "); keeping " + khz(s.reading.dial_hz) +
                        " until it answers again");
  else
    s.notices.push_back("rig: " + error + "; trying again every poll");
}

void run(std::shared_ptr<RigPoller::Shared> s, std::unique_ptr<RigLink> link, RigPollOptions o) {
  bool open = false, ever_answered = false, reported_silent = false;
  const auto period = std::chrono::duration<double>(o.poll_seconds);
  for (;;) {
    const auto next = std::chrono::steady_clock::now() + period;
    poll_once(*s, *link, o, open, ever_answered, reported_silent);
    std::unique_lock<std::mutex> lock(s->mutex);
    s->wake.wait_until(lock, next, [&] { return s->stop; });
    if (s->stop) break;
  }
  link->close();
  link.reset();
  std::lock_guard<std::mutex> lock(s->mutex);
  s->finished = true;
  s->wake.notify_all();
}

}  // namespace

RigPoller::RigPoller(std::unique_ptr<RigLink> link, const RigPollOptions& o)
    : shared_(std::make_shared<Shared>()), stop_seconds_(o.stop_seconds) {
  shared_->reading.pitch_hz = o.pitch_hz;
  // The thread owns the link and a share of the state: it can outlive this
  // object when a radio call hangs at the stop (see the destructor).
  thread_ = std::thread(run, shared_, std::move(link), o);
}

RigPoller::~RigPoller() {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->stop = true;
  shared_->wake.notify_all();
  const bool finished = shared_->wake.wait_for(lock, std::chrono::duration<double>(stop_seconds_),
                                               [&] { return shared_->finished; });
  lock.unlock();
  if (finished)
    thread_.join();
  else
    thread_.detach();
}

RigReading RigPoller::latest() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->reading;
}

std::string RigPoller::take_notice() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  if (shared_->notices.empty()) return "";
  std::string n = std::move(shared_->notices.front());
  shared_->notices.pop_front();
  return n;
}

long RigPoller::polls() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->polls;
}

}  // namespace talvo::rig
