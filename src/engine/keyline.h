// The serial key line: the transmitter is keyed through the RTS modem-control
// line of a serial terminal device, never by writing bytes to it.
//
// The program issues its RTS requests through KeyLine alone, so tests can
// stand in for the hardware and see every request.
#pragma once

#include <memory>

namespace talvo {

// Modem-control requests: set the named lines (key down) or clear them (key up).
inline constexpr unsigned long kTiocmbis = 0x5416;
inline constexpr unsigned long kTiocmbic = 0x5417;

class KeyLine {
 public:
  virtual ~KeyLine() = default;
  // Keys the line down (RTS set) or up (RTS cleared). The program refreshes
  // it at every tick of the transmit cluster, changed or not.
  virtual void set(bool down) = 0;
};

// Opens the device (read/write, not as controlling terminal, non-blocking),
// sets 115200 baud 8N1 raw and clears RTS. Returns null when it cannot be
// opened.
std::unique_ptr<KeyLine> open_serial_keyline(const char* seroutdev);

// The key line on a device already open (for tests: any descriptor).
std::unique_ptr<KeyLine> keyline_on(int fd);

}  // namespace talvo
