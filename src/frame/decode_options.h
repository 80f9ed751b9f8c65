// talvo-decode's command line: the options and the recording it names, read
// into DecodeOptions, or the reason they are refused (the program prints it
// with a hint to --help and ends with status 2).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/decode.h"
#include "input/recording.h"
#include "mqtt/mqtt_url.h"
#include "rig/rig_address.h"

namespace talvo {

struct DecodeOptions {
  DecodeSettings s;                     // what the engine is set to (receiver, format, spots, ...)
  std::string file;                     // the recording, "-" for standard input; empty with --live
  bool live = false;                    // read the sound card through arecord
  std::string device = "sysdefault";    // its ALSA device
  int channel = 0;                      // from 1; 0 mixes all channels
  bool timestamps = false;              // text lines start with [hh:mm:ss.s]
  bool raw = false;                     // standard input is raw S16LE whatever it starts with
  IqFormat iq_format = IqFormat::kS16;  // --iq: raw I/Q on standard input, as its pairs come
  int iq_rate = 48000;                  // --iq: raw I/Q pairs per second on standard input
  bool iq_raw_given = false;            // --iq-format or --rate was given
  bool centre_given = false;            // --center was given
  bool span_given = false;              // --span was given
  int lo = 0, hi = 0;                   // --span, Hz
  int telnet_port = -1;                 // the spot server's TCP port; -1 for none
  std::string listen = "127.0.0.1";     // the address it listens on
  bool help = false;                    // --help: print the help text and end
  bool summary = false;                 // the stations heard, at the end
  bool listen_given = false;            // --listen was given
  bool gain_given = false;              // --gain was given
  bool spot_set = false;                // --spotter, --dial or --sideband was given
  std::optional<rig::RigAddress> rig;   // --rig: the radio whose dial the spots follow
  double pitch_hz = 600;                // --pitch: CW pitch of a radio that reports none, Hz
  bool pitch_given = false;             // --pitch was given
  bool dial_given = false;              // --dial or --sideband was given
  std::optional<mqtt::MqttUrl> mqtt;    // --mqtt: the broker the spots go to
  bool start_given = false;             // --start-time was given
  std::int64_t start_utc = 0;  // --start-time: UTC of the audio's start, seconds since 1970
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
