// The seam between the poller and a radio: open it, read it, close it.
// HamlibLink talks to a real radio or rigctld through hamlib; tests may put
// a scripted link in its place.
#pragma once

#include <memory>
#include <string>

#include "rig/reading.h"
#include "rig/rig_address.h"

namespace talvo::rig {

struct RigAnswer {
  double dial_hz = 0;              // Hz
  RigMode mode = RigMode::kOther;  // the radio's mode
  double pitch_hz = 0;             // the radio's CW pitch, Hz; 0 when it reports none
};

class RigLink {
 public:
  virtual ~RigLink() = default;
  // Opens the connection; false with the reason in `error` when it cannot.
  virtual bool open(std::string& error) = 0;
  // Reads the radio; false with the reason in `error` when it does not answer.
  virtual bool read(RigAnswer& a, std::string& error) = 0;
  // Closes the connection (also after a failed read); opening again may follow.
  virtual void close() = 0;
};

// A link through hamlib to the radio `s` names. Each call gives up after
// about `timeout_ms` milliseconds.
std::unique_ptr<RigLink> hamlib_link(const RigAddress& s, int timeout_ms = 800);

}  // namespace talvo::rig
