#include "frame/cmdline.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/screen.h"
#include "rx/receiver.h"

namespace talvo {

std::string usage_text(const char* progname) {
  std::string u = "Usage: ";
  u += progname;
  u += " [--receiver fine|classic] centerfrequency [width] [notone|rxtone|txtone] [stdin|pipe] "
       "[serial device]  \n";
  u += "\tDetects and transmits cw.\n";
  u += "\tWindow width default 1200\n";
  u += "\tInput from pipe with\n";
  u += "\tarecord -D sysdefault -t raw -c 1 -r 48000 -f S16_LE\n";
  u += "\tor from stdin.\n";
  u += "\tWith option rxtone the audio input goes also to the audio output.\n";
  u += "\tWith option txtone the tx signal is piped into aplay -r 48000 -t raw -f S16_LE -c 1 \n";
  u += "\toptional key output on RTS of serial TTY device\n";
  u += "\tVersion ";
  u += kVersion;
  u += "\n";
  return u;
}

std::optional<std::string> parse_command_line(int argc, const char* const* argv, Settings& s) {
  if (argc > 1 && std::strcmp(argv[1], "--receiver") == 0) {
    const char* r = argc > 2 ? argv[2] : "";
    if (std::strcmp(r, "fine") == 0)
      s.fine = true;
    else if (std::strcmp(r, "classic") == 0)
      s.fine = false;
    else
      return "--receiver must be fine or classic\n";
    // The positional arguments follow it as always.
    std::vector<const char*> rest{argv[0]};
    rest.insert(rest.end(), argv + 3, argv + argc);
    const bool fine = s.fine;
    auto refused = parse_command_line(static_cast<int>(rest.size()), rest.data(), s);
    s.fine = fine;
    return refused;
  }
  if (argc < 2) return usage_text(argv[0]);
  // Base-10 conversion as the operator has always typed it: text gives 0,
  // which the range check below then refuses.
  s.centerfreq = static_cast<int>(std::strtol(argv[1], nullptr, 10));
  if (argc > 2) s.width = static_cast<int>(std::strtol(argv[2], nullptr, 10));
  s.height = 480;
  s.sidetone = notone;
  if (argc > 3) {
    if (std::strcmp(argv[3], "rxtone") == 0) s.sidetone = rxtone;
    if (std::strcmp(argv[3], "txtone") == 0) s.sidetone = txtone;
  }
  s.from_stdin = argc > 4 && std::strcmp(argv[4], "stdin") == 0;
  s.rtsout = argc > 5 ? 1 : 0;
  if (s.rtsout) s.seroutdev = argv[5];

  // The channel plan needs every channel between 250 Hz and the Nyquist
  // frequency; the text rows and the transmit ring need a width in range.
  if (s.centerfreq < kMinCenterfreq || s.centerfreq > kMaxCenterfreq)
    return "centre frequency " + std::string(argv[1]) + " out of range: use " +
           std::to_string(kMinCenterfreq) + " to " + std::to_string(kMaxCenterfreq) + " Hz\n";
  if (s.width < kMinWidth || s.width > kMaxWidth)
    return "window width " + std::string(argv[2]) + " out of range: use " +
           std::to_string(kMinWidth) + " to " + std::to_string(kMaxWidth) + " pixels\n";
  return std::nullopt;
}

}  // namespace talvo
