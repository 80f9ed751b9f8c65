// The hamlib side of the radio link; see rig_link.h.
#include <hamlib/rig.h>

#include <mutex>
#include <string>

#include "rig/rig_link.h"

namespace talvo::rig {
namespace {

// hamlib prints its debugging to standard error unless told not to; the
// program says what matters itself.
void quiet_hamlib() {
  static std::once_flag once;
  std::call_once(once, [] { rig_set_debug(RIG_DEBUG_NONE); });
}

// hamlib's text for an error code, without its line end.
std::string error_text(int code) {
  std::string s = rigerror2(code);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
    s.pop_back();
  return s;
}

RigMode mode_of(rmode_t m) {
  if (m == RIG_MODE_USB) return RigMode::kUsb;
  if (m == RIG_MODE_LSB) return RigMode::kLsb;
  if (m == RIG_MODE_CW) return RigMode::kCw;
  if (m == RIG_MODE_CWR) return RigMode::kCwr;
  return RigMode::kOther;
}

class HamlibLink final : public RigLink {
 public:
  HamlibLink(const RigAddress& s, int timeout_ms) : spec_(s), timeout_ms_(timeout_ms) {}
  ~HamlibLink() override { close(); }

  bool open(std::string& error) override {
    close();
    quiet_hamlib();
    rig_ = rig_init(spec_.model);
    if (rig_ == nullptr) {
      error = "hamlib has no rig model " + std::to_string(spec_.model);
      return false;
    }
    rig_set_conf(rig_, rig_token_lookup(rig_, "rig_pathname"), spec_.device.c_str());
    const std::string timeout = std::to_string(timeout_ms_);
    rig_set_conf(rig_, rig_token_lookup(rig_, "timeout"), timeout.c_str());
    rig_set_conf(rig_, rig_token_lookup(rig_, "retry"), "0");
    const int r = rig_open(rig_);
    if (r != RIG_OK) {
      error = std::string("cannot open ") + describe(spec_) + ": " + error_text(r);
      rig_cleanup(rig_);
      rig_ = nullptr;
      return false;
    }
    return true;
  }

  bool read(RigAnswer& a, std::string& error) override {
    if (rig_ == nullptr) {
      error = "not open";
      return false;
    }
    freq_t f = 0;
    int r = rig_get_freq(rig_, RIG_VFO_CURR, &f);
    if (r != RIG_OK) {
      error = "reading the frequency: " + error_text(r);
      return false;
    }
    rmode_t m = RIG_MODE_NONE;
    pbwidth_t width = 0;
    r = rig_get_mode(rig_, RIG_VFO_CURR, &m, &width);
    // A radio that cannot tell its mode still tells its dial: "other".
    if (r == -RIG_ENIMPL || r == -RIG_ENAVAIL)
      m = RIG_MODE_NONE;
    else if (r != RIG_OK) {
      error = "reading the mode: " + error_text(r);
      return false;
    }
    a.dial_hz = f;
    a.mode = mode_of(m);
    a.pitch_hz = 0;
    value_t v{};
    if (rig_has_get_level(rig_, RIG_LEVEL_CWPITCH) &&
        rig_get_level(rig_, RIG_VFO_CURR, RIG_LEVEL_CWPITCH, &v) == RIG_OK)
      a.pitch_hz = v.i;
    return true;
  }

  void close() override {
    if (rig_ == nullptr) return;
    rig_close(rig_);
    rig_cleanup(rig_);
    rig_ = nullptr;
  }

 private:
  RigAddress spec_;
  int timeout_ms_;      // per call, ms
  RIG* rig_ = nullptr;  // open connection, or null
};

}  // namespace

std::unique_ptr<RigLink> hamlib_link(const RigAddress& s, int timeout_ms) {
  return std::make_unique<HamlibLink>(s, timeout_ms);
}

}  // namespace talvo::rig
