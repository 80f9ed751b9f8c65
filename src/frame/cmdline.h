// The positional command line:
//   talvo centerfrequency [width] [notone|rxtone|txtone] [stdin|pipe] [serial device]
#pragma once

#include <optional>
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

// The ten lines written when the program is started without an argument.
std::string usage_text(const char* progname);

// Reads the arguments (argv[1] .. argv[argc - 1]): an optional leading
// "--receiver fine|classic", then the positional ones. Returns nothing when
// they are accepted, else what refuses them (one line ending in a newline,
// or the usage text when no centre frequency is given); the program prints
// it and ends with status 1.
std::optional<std::string> parse_command_line(int argc, const char* const* argv, Settings& s);

}  // namespace talvo
