#include "frame/decode_options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <thread>

#include "rx/receiver.h"
#include "spots/callsign.h"
#include "util/utc_time.h"

namespace talvo {
namespace {

const char* const kHelp =
    "Usage: talvo-decode [options] FILE|-\n"
    "       talvo-decode [options] --live [DEVICE]\n"
    "Decodes the Morse signals of a recording, a stream or the sound card on\n"
    "clusters 50 Hz apart and prints each cluster's text; as a skimmer it picks\n"
    "the callsigns out and spots them. FILE is any audio file libsndfile reads\n"
    "(WAV, FLAC, Ogg/Vorbis, AIFF, MP3, ...), at any sample rate, or - for\n"
    "standard input: a WAV, FLAC, Ogg, AIFF or MP3 stream is recognised by its\n"
    "first bytes, text and other files are refused as not audio, anything else\n"
    "is raw signed 16-bit little-endian mono at 48000 Hz. A live or piped\n"
    "input prints each cluster's text a line at a time as each over ends; a\n"
    "file prints a line per cluster at its end.\n"
    "When nothing was decoded it says why on standard error. Ctrl-C (SIGINT) or\n"
    "SIGTERM ends decoding: the complete characters are printed (the one in\n"
    "progress is dropped) with the summary; the exit status is then 130 or 143.\n"
    "\n"
    "  --receiver R      fine (default: separates neighbours, keys on each\n"
    "                    cluster's own signal-to-noise ratio, any level) or\n"
    "                    classic (the original chain, nine clusters, levels fixed\n"
    "                    in sample units)\n"
    "  --span LO-HI      fine: clusters every 50 Hz from LO to HI Hz (default: the\n"
    "                    whole passband the input carries, up to 300-2700; with\n"
    "                    --iq offsets from the dial, e.g. -20000-20000)\n"
    "  --center HZ       nine clusters around HZ, a whole number of Hz from 460 to\n"
    "                    23789 (classic: default 700)\n"
    "  --threads N       decode on N threads (default: every core); the output is\n"
    "                    the same for any N\n"
    "  --iq              FILE has two channels, in-phase and quadrature (or - is\n"
    "                    raw I/Q pairs, S16LE at 48000 Hz unless --iq-format and\n"
    "                    --rate say otherwise): frequencies are offsets from the\n"
    "                    dial, from -rate/2 to +rate/2\n"
    "  --iq-format F     --iq on standard input: its pairs as s16 (signed 16-bit\n"
    "                    little-endian, the default), u8 (unsigned 8-bit, as\n"
    "                    rtl_sdr writes them) or f32 (32-bit float, as csdr)\n"
    "  --rate HZ         --iq on standard input: pairs a second (default 48000)\n"
    "  --channel N       channel of a multi-channel file, from 1 (default: all\n"
    "                    channels mixed to one)\n"
    "  --format F        text (default), json, or events (one JSON line per\n"
    "                    decoded string and per spot, as they come)\n"
    "  --timestamps      text format: each cluster's text cut into lines by over\n"
    "                    (at \"k\", \"kn\", \"sk\" or \"bk\", after 5 s without a\n"
    "                    character, or\n"
    "                    at 80 characters), each starting with the time its first\n"
    "                    character was decoded, [hh:mm:ss.s] into the recording.\n"
    "                    A live or piped input (--live, -) prints its lines so as\n"
    "                    they end\n"
    "  --spots           print spot lines in the DX-cluster shape instead of the\n"
    "                    text (fine receiver)\n"
    "  --spotter CALL    the call spots are sent as, CALL-# (default TALVO)\n"
    "  --dial KHZ        the radio's dial frequency, kHz, for the spots (default 0)\n"
    "  --sideband S      usb (default) or lsb: the radio frequency is the dial\n"
    "                    plus or minus the audio frequency\n"
    "  --start-time T    the UTC time the recording began, YYYY-MM-DDTHH:MM[:SS]Z\n"
    "                    (ISO 8601), for the spots' times (default: the time\n"
    "                    the file records - a WAV's Broadcast Wave date and\n"
    "                    time, or a date tag with a time of day - else the\n"
    "                    clock when decoding starts; --live always the clock)\n"
    "  --telnet PORT     serve the spots to loggers and DX-cluster software on\n"
    "                    this TCP port (a DX-cluster node: sh/dx, set/skimmer,\n"
    "                    sh/time, set/ve7cc, bye); with a FILE it keeps serving\n"
    "                    the spots after the end until Ctrl-C\n"
    "  --listen ADDR     with --telnet: the address or host name the spot server\n"
    "                    listens on (default 127.0.0.1, this machine only)\n"
    "  --rig ADDRESS     follow the radio's dial and mode through hamlib: HOST:PORT\n"
    "                    of a rigctld, or MODEL:DEVICE of a radio on a cable\n"
    "                    (e.g. 3073:/dev/ttyUSB0); read about once a second, each\n"
    "                    spot takes the frequency read last; spots wait for the\n"
    "                    radio's first answer (not with --dial or --sideband)\n"
    "  --pitch HZ        with --rig: the CW pitch of a radio that reports none,\n"
    "                    100 to 3000 Hz (default 600)\n"
    "  --mqtt URL        send each spot as JSON to an MQTT broker,\n"
    "                    mqtt://[USER[:PASSWORD]@]HOST[:PORT], on the topic\n"
    "                    talvo/spots/BAND/SPOTTER/CALL\n"
    "  --live [DEVICE]   read the sound card through arecord (default device\n"
    "                    sysdefault) until interrupted\n"
    "  --gain G          classic: input gain, above 0 and at most 1000 (default 1.0)\n"
    "  --auto-gain       classic: scale the input so the strongest signal lands\n"
    "                    at the level the receiver decodes best\n"
    "  --raw             standard input is raw S16LE 48 kHz mono, whatever it\n"
    "                    starts with\n"
    "  --summary         fine: at the end (or on Ctrl-C) the stations heard, by\n"
    "                    frequency: call, frequency, first and last time, spots,\n"
    "                    SNR and speed\n"
    "  --help            this text\n";

bool number(const char* s, double& v) {
  char* end = nullptr;
  v = std::strtod(s, &end);
  return end != s && *end == '\0';
}

// "LO-HI" with either number negative, e.g. "300-2700" or "-20000-20000".
bool span(const char* text, int& lo, int& hi) {
  char* end = nullptr;
  const long a = std::strtol(text, &end, 10);
  if (end == text || *end != '-') return false;
  const char* second = end + 1;
  const long b = std::strtol(second, &end, 10);
  if (end == second || *end != '\0') return false;
  lo = static_cast<int>(a);
  hi = static_cast<int>(b);
  return lo < hi;
}

bool takes_value(const std::string& a) {
  return a == "--center" || a == "--channel" || a == "--format" || a == "--gain" ||
         a == "--receiver" || a == "--span" || a == "--threads" || a == "--spotter" ||
         a == "--dial" || a == "--sideband" || a == "--telnet" || a == "--listen" || a == "--rig" ||
         a == "--pitch" || a == "--mqtt" || a == "--iq-format" || a == "--rate" ||
         a == "--start-time";
}

// The receiver's and the input's options with their value; "" when
// accepted, else why not.
std::string take_input(const std::string& a, const char* value, DecodeOptions& o) {
  DecodeSettings& s = o.s;
  double v = 0;
  if (a == "--center") {
    if (!number(value, v) || v != static_cast<int>(v) || v < kMinCenterfreq || v > kMaxCenterfreq)
      return "--center must be a whole number of Hz from " + std::to_string(kMinCenterfreq) +
             " to " + std::to_string(kMaxCenterfreq);
    s.centerfreq = static_cast<int>(v);
    o.centre_given = true;
  } else if (a == "--receiver") {
    const std::string r = value;
    if (r == "fine")
      s.receiver = ReceiverKind::kFine;
    else if (r == "classic")
      s.receiver = ReceiverKind::kClassic;
    else
      return "--receiver must be fine or classic";
  } else if (a == "--iq-format") {
    const std::string f = value;
    if (f == "s16")
      o.iq_format = IqFormat::kS16;
    else if (f == "u8")
      o.iq_format = IqFormat::kU8;
    else if (f == "f32")
      o.iq_format = IqFormat::kF32;
    else
      return "--iq-format must be s16, u8 or f32";
    o.iq_raw_given = true;
  } else if (a == "--rate") {
    if (!number(value, v) || v != static_cast<int>(v) || v < 1000 || v > 10000000 ||
        static_cast<int>(v) % 500 != 0)
      return "--rate must be a whole number of I/Q pairs a second, a multiple of 500 from 1000 "
             "to 10000000";
    o.iq_rate = static_cast<int>(v);
    o.iq_raw_given = true;
  } else if (a == "--span") {
    if (!span(value, o.lo, o.hi))
      return "--span must be LO-HI, two whole numbers of Hz, LO below HI";
    o.span_given = true;
  } else if (a == "--threads") {
    if (!number(value, v) || v != static_cast<int>(v) || v < 1 || v > 256)
      return "--threads must be a whole number from 1 to 256";
    s.threads = static_cast<int>(v);
  } else if (a == "--channel") {
    if (!number(value, v) || v != static_cast<int>(v) || v < 1)
      return "bad channel " + std::string(value);
    o.channel = static_cast<int>(v);
  } else if (a == "--format") {
    const std::string f = value;
    if (f == "text")
      s.format = DecodeSettings::kText;
    else if (f == "json")
      s.format = DecodeSettings::kJson;
    else if (f == "events")
      s.format = DecodeSettings::kEvents;
    else
      return "unknown format " + f + " (text, json or events)";
  } else if (a == "--gain") {
    if (!number(value, v) || !(v > 0) || v > 1000) return "--gain must be above 0 and at most 1000";
    s.gain = v;
    o.gain_given = true;
  }
  return "";
}

// The skimmer's options with their value; "" when accepted, else why not.
std::string take_spots(const std::string& a, const char* value, DecodeOptions& o) {
  SpotSettings& sp = o.s.spots;
  double v = 0;
  if (a == "--spotter" || a == "--dial" || a == "--sideband") o.spot_set = true;
  if (a == "--spotter") {
    sp.spotter = value;
    for (char& c : sp.spotter)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!spots::valid_spotter(sp.spotter))
      return "--spotter must be a callsign (letters, digits and /, an SSID -1 to -15 may follow)";
  } else if (a == "--dial") {
    if (!number(value, v) || v < 0 || v > 1e8)
      return "--dial must be a frequency in kHz, 0 or more";
    sp.dial_khz = v;
    o.dial_given = true;
  } else if (a == "--sideband") {
    // The spots' own words; I/Q input has no sideband to name.
    spots::Sideband sb = spots::Sideband::kUsb;
    if (!spots::parse_sideband(value, sb) || sb == spots::Sideband::kIq)
      return "--sideband must be usb or lsb";
    sp.sideband = sb;
    o.dial_given = true;
  } else if (a == "--telnet") {
    if (!number(value, v) || v != static_cast<int>(v) || v < 1 || v > 65535)
      return "--telnet must be a TCP port from 1 to 65535";
    o.telnet_port = static_cast<int>(v);
  } else if (a == "--listen") {
    o.listen = value;
    o.listen_given = true;
  } else if (a == "--start-time") {
    if (!parse_utc(value, o.start_utc))
      return "--start-time must be a UTC time YYYY-MM-DDTHH:MM[:SS]Z, e.g. 2026-12-08T18:54:00Z";
    o.start_given = true;
  }
  return "";
}

// The radio's and the broker's options with their value; "" when accepted,
// else why not.
std::string take_links(const std::string& a, const char* value, DecodeOptions& o) {
  double v = 0;
  if (a == "--rig") {
    rig::RigAddressOrError r = rig::parse_rig_address(value);
    if (!r.address) return "--rig: " + r.error;
    o.rig = *r.address;
  } else if (a == "--pitch") {
    if (!number(value, v) || !(v >= 100 && v <= 3000))
      return "--pitch must be a CW pitch from 100 to 3000 Hz";
    o.pitch_hz = v;
    o.pitch_given = true;
  } else if (a == "--mqtt") {
    mqtt::MqttUrlOrError u = mqtt::parse_mqtt_url(value);
    if (!u.url) return "--mqtt: " + u.error;
    o.mqtt = *u.url;
  }
  return "";
}

// What --rig cannot go with; "" when nothing.
std::string check_rig(const DecodeOptions& o) {
  if (o.pitch_given && !o.rig) return "--pitch is the radio's CW pitch: it needs --rig";
  if (!o.rig) return "";
  if (o.dial_given) return "--rig reads the dial and mode from the radio: no --dial or --sideband";
  if (o.s.iq) return "--rig follows a radio's audio, not --iq (an I/Q centre is no radio's dial)";
  return "";
}

// An option without a value; false when `a` is none.
bool take_flag(const std::string& a, DecodeOptions& o) {
  if (a == "--iq")
    o.s.iq = true;
  else if (a == "--spots")
    o.s.spots.print = true;
  else if (a == "--auto-gain")
    o.s.auto_gain = true;
  else if (a == "--timestamps")
    o.timestamps = true;
  else if (a == "--raw")
    o.raw = true;
  else if (a == "--summary")
    o.summary = true;
  else
    return false;
  return true;
}

// Options that mean nothing beside others: refused with the reason rather
// than ignored. "" when every option given does something.
std::string check_together(const DecodeOptions& o) {
  const DecodeSettings& s = o.s;
  const bool classic = s.receiver == ReceiverKind::kClassic;
  const bool text = s.format == DecodeSettings::kText;
  if (o.listen_given && o.telnet_port <= 0)
    return "--listen sets the spot server's address: it needs --telnet PORT";
  if (s.spots.print && !text)
    return "--spots prints spot lines in the text format (--format events carries the spots "
           "as JSON lines; json has none)";
  if (o.timestamps && s.spots.print)
    return "--timestamps times the text lines, which --spots replaces by spot lines (they "
           "carry their own time)";
  if (o.timestamps && !text)
    return "--timestamps is for the text format (json has no times; events carry their own)";
  if (classic && (o.summary || o.spot_set))
    return "--summary, --spotter, --dial and --sideband need --receiver fine (the classic "
           "receiver picks out no calls)";
  if (o.spot_set && !s.spots.print && o.telnet_port <= 0 && !o.summary && !o.mqtt &&
      s.format != DecodeSettings::kEvents)
    return "--spotter, --dial and --sideband shape the spots: they need --spots, --telnet, "
           "--mqtt, --summary or --format events";
  if (o.summary && !text) return "--summary is for the text format";
  if (!classic && (o.gain_given || s.auto_gain))
    return "--gain and --auto-gain are for --receiver classic (the fine receiver keys on "
           "each cluster's signal-to-noise ratio, at any level)";
  if (o.raw && (o.live || o.file != "-"))
    return "--raw is for standard input (-): a file names its own format";
  if (o.live && o.channel > 0) return "--channel picks a channel of a file; --live is mono";
  return "";
}

// What the options cannot do together; "" when they can.
std::string check(const DecodeOptions& o, bool have_file) {
  const DecodeSettings& s = o.s;
  if (o.live && have_file) return "--live reads the sound card: no FILE with it";
  if (!have_file && !o.live) return "no recording named";
  const bool classic = s.receiver == ReceiverKind::kClassic;
  if (classic && (o.span_given || s.iq || s.spots.print || o.telnet_port > 0 || o.rig || o.mqtt)) {
    const char* what = o.span_given        ? "--span"
                       : s.iq              ? "--iq"
                       : s.spots.print     ? "--spots"
                       : o.telnet_port > 0 ? "--telnet"
                       : o.rig             ? "--rig"
                                           : "--mqtt";
    return std::string(what) + " needs --receiver fine";
  }
  if (o.span_given && o.centre_given) return "--span or --center, not both";
  if (s.iq && o.live) return "--iq reads a file or standard input, not --live";
  if (o.start_given && o.live) return "--start-time is for recordings: --live spots at the clock";
  if (o.iq_raw_given && !s.iq) return "--iq-format and --rate describe --iq input";
  if (o.iq_raw_given && o.file != "-")
    return "--iq-format and --rate describe raw I/Q on standard input (-); a file names its own";
  const std::string rig = check_rig(o);
  if (!rig.empty()) return rig;
  return check_together(o);
}

}  // namespace

const char* decode_help() {
  return kHelp;
}

ParsedOptions parse_decode_options(int argc, const char* const* argv) {
  ParsedOptions p;
  DecodeOptions& o = p.o;
  o.s.receiver = ReceiverKind::kFine;
  o.s.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  bool have_file = false;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    if (takes_value(a)) {
      if (i + 1 >= argc) {
        p.error = a + " needs a value";
        return p;
      }
      const char* value = argv[++i];
      p.error = take_input(a, value, o);
      if (p.error.empty()) p.error = take_spots(a, value, o);
      if (p.error.empty()) p.error = take_links(a, value, o);
      if (!p.error.empty()) return p;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
      return p;
    } else if (a == "--live") {
      o.live = true;
      // An optional device follows.
      if (i + 1 < argc && argv[i + 1][0] != '-') o.device = argv[++i];
    } else if (take_flag(a, o)) {
      continue;
    } else if (a.size() > 1 && a[0] == '-') {
      p.error = "unknown option " + a;
      return p;
    } else if (have_file) {
      p.error = "one recording at a time (" + a + ")";
      return p;
    } else {
      o.file = a;
      have_file = true;
    }
  }
  p.error = check(o, have_file);
  return p;
}

}  // namespace talvo
