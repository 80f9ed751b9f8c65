// The positional command line:
//   talvo centerfrequency [width] [notone|rxtone|txtone] [stdin|pipe] [serial device]
#pragma once

#include <optional>
#include <string>

#include "engine/settings.h"

namespace talvo {

// The ten lines written when the program is started without an argument.
std::string usage_text(const char* progname);

// Reads the arguments (argv[1] .. argv[argc - 1]): an optional leading
// "--receiver fine|classic", then the positional ones. Returns nothing when
// they are accepted, else what refuses them (one line ending in a newline,
// or the usage text when no centre frequency is given); the program prints
// it and ends with status 1.
std::optional<std::string> parse_command_line(int argc, const char* const* argv, Settings& s);

}  // namespace talvo
