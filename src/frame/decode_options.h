// talvo-decode's command line: the options and the recording it names, read
// into DecodeOptions, or the reason they are refused (the program prints it
// with a hint to --help and ends with status 2).
#pragma once

#include <cstdint>
#include <string>

#include "engine/decode.h"

namespace talvo {

struct DecodeOptions {
  DecodeSettings s;                   // what the engine is set to (receiver, format, spots, ...)
  std::string file;                   // the recording, "-" for standard input; empty with --live
  bool live = false;                  // read the sound card through arecord
  std::string device = "sysdefault";  // its ALSA device
  int channel = 0;                    // from 1; 0 mixes all channels
  bool timestamps = false;            // text lines start with [hh:mm:ss.s]
  bool raw = false;                   // standard input is raw S16LE whatever it starts with
  bool centre_given = false;          // --center was given
  bool span_given = false;            // --span was given
  int lo = 0, hi = 0;                 // --span, Hz
  int telnet_port = -1;               // the spot server's TCP port; -1 for none
  std::string listen = "127.0.0.1";   // the address it listens on
  bool help = false;                  // --help: print the help text and end
  bool start_given = false;           // --start-time was given
  std::int64_t start_utc = 0;         // --start-time: UTC of the audio's start, seconds since 1970
};

struct ParsedOptions {
  DecodeOptions o;
  std::string error;  // why the command line is refused; empty when accepted
};

// Reads argv[1] .. argv[argc - 1]. The number of threads defaults to the
// number of cores.
ParsedOptions parse_decode_options(int argc, const char* const* argv);

// The text --help prints.
const char* decode_help();

}  // namespace talvo
