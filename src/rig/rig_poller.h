// Follows the radio's dial: a thread of its own reads the radio about once
// a second (frequency, mode and CW pitch) and keeps the last reading for
// the decoder, which takes it with latest() without ever waiting for the
// radio.
//
// A radio that stops answering keeps its last frequency and mode in the
// reading (answering false); it is reported once, the poller opens the
// connection again every poll, and once the radio answers again that is
// reported too. A radio that cannot be reached at the start is reported and
// polled all the same. The reports are notices the program fetches with
// take_notice() and prints itself.
//
// The CW pitch is the radio's own where it reports one (hamlib's
// RIG_LEVEL_CWPITCH); otherwise the configured one.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "rig/reading.h"
#include "rig/rig_link.h"

namespace talvo::rig {

struct RigPollOptions {
  double pitch_hz = 600;      // CW pitch when the radio reports none, Hz
  double poll_seconds = 1.0;  // between polls, s
  double stop_seconds = 3.0;  // the longest the destructor waits for the thread, s
};

class RigPoller {
 public:
  // Starts polling `link` (hamlib_link(address) for a real radio).
  RigPoller(std::unique_ptr<RigLink> link, const RigPollOptions& o = {});
  // Stops the thread, waiting at most stop_seconds (a radio call that hangs
  // longer is left to end on its own).
  ~RigPoller();
  RigPoller(const RigPoller&) = delete;
  RigPoller& operator=(const RigPoller&) = delete;

  // The last reading; never waits for the radio.
  RigReading latest() const;

  // The oldest notice not yet taken ("" when there is none), e.g.
  //   "rig: rigctld at localhost:4532 is not answering (...); keeping 14025.000 kHz"
  std::string take_notice();

  // Polls done so far (answered or not).
  long polls() const;

  // The state the thread shares with its owner (public for the thread's
  // functions; nothing outside this unit can use it).
  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  double stop_seconds_;  // see RigPollOptions
  std::thread thread_;
};

}  // namespace talvo::rig
