// What the window program is set to at start-up: the centre frequency, the
// window width, the audio output, where the audio comes from, the serial key
// device and the receiver (frame/cmdline.h reads them from the command line).
#pragma once

#include <string>

namespace talvo {

// Audio output mode. rtxtone exists in the enumeration but is never selected.
enum Sidetone { notone = 0, rxtone = 1, txtone = 2, rtxtone = 3 };

// The window widths whose text rows and transmit ring the layout can hold.
inline constexpr int kMinWidth = 446;
inline constexpr int kMaxWidth = 2493;

struct Settings {
  int centerfreq = 0;  // Hz, frequency of channel 0
  int width = 1200;    // window width, pixels
  int height = 480;    // window height, pixels; not selectable
  Sidetone sidetone = notone;
  bool from_stdin = false;  // audio from standard input instead of the recorder pipe
  char rtsout = 0;          // 1 when a serial key device is named
  std::string seroutdev;    // its path
  bool fine = false;        // the fine receive front end (--receiver fine)
};

}  // namespace talvo
