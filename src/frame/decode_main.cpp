// talvo-decode: decodes a recording, a stream on standard input or the sound
// card on clusters 50 Hz apart, prints what each decoded, and as a skimmer
// spots the calls it finds, on standard output and to a telnet spot server.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "frame/commands.h"
#include "frame/report.h"
#include "input/diagnosis.h"
#include "input/input.h"
#include "input/interrupt.h"
#include "input/sniff.h"
#include "net/telnet_server.h"
#include "rx/receiver.h"

namespace talvo {
namespace {

const char* const kHelp =
    "Usage: talvo-decode [options] FILE|-\n"
    "       talvo-decode [options] --live [DEVICE]\n"
    "Decodes the Morse signals of a recording, a stream or the sound card on\n"
    "clusters 50 Hz apart and prints each cluster's text; as a skimmer it picks\n"
    "the callsigns out and spots them. FILE is any audio file libsndfile reads\n"
    "(WAV, FLAC, Ogg/Vorbis, AIFF, ...), at any sample rate, or - for standard\n"
    "input: a WAV, FLAC, Ogg or AIFF stream is recognised by its first bytes,\n"
    "anything else is raw signed 16-bit little-endian mono at 48000 Hz.\n"
    "When nothing was decoded it says why on standard error. Ctrl-C (SIGINT) or\n"
    "SIGTERM ends decoding: the characters in progress are finished and the\n"
    "summary printed; the exit status is then 130 or 143.\n"
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
    "                    raw stereo S16LE at 48000 Hz): frequencies are offsets\n"
    "                    from the dial, from -rate/2 to +rate/2\n"
    "  --channel N       channel of a multi-channel file, from 1 (default: all\n"
    "                    channels mixed to one)\n"
    "  --format F        text (default), json, or events (one JSON line per\n"
    "                    decoded string and per spot, as they come)\n"
    "  --timestamps      text format: each cluster's line starts with the time\n"
    "                    its first character was decoded, [hh:mm:ss.s] into the\n"
    "                    recording\n"
    "  --spots           print spot lines in the DX-cluster shape instead of the\n"
    "                    text (fine receiver)\n"
    "  --spotter CALL    the call spots are sent as, CALL-# (default TALVO)\n"
    "  --dial KHZ        the radio's dial frequency, kHz, for the spots (default 0)\n"
    "  --sideband S      usb (default) or lsb: the radio frequency is the dial\n"
    "                    plus or minus the audio frequency\n"
    "  --telnet PORT     serve the spots to loggers and DX-cluster software on\n"
    "                    this TCP port\n"
    "  --listen ADDR     the address the spot server listens on (default\n"
    "                    127.0.0.1, this machine only)\n"
    "  --live [DEVICE]   read the sound card through arecord (default device\n"
    "                    sysdefault) until interrupted\n"
    "  --gain G          classic: input gain, above 0 and at most 1000 (default 1.0)\n"
    "  --auto-gain       classic: scale the input so the strongest signal lands\n"
    "                    at the level the receiver decodes best\n"
    "  --raw             standard input is raw S16LE 48 kHz mono, whatever it\n"
    "                    starts with\n"
    "  --help            this text\n";

int usage_error(const std::string& why) {
  std::fprintf(stderr, "talvo-decode: %s\nTry 'talvo-decode --help'.\n", why.c_str());
  return 2;
}

bool number(const char* s, double& v) {
  char* end = nullptr;
  v = std::strtod(s, &end);
  return end != s && *end == '\0';
}

}  // namespace

namespace {

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

// The spot server as the decoder's spot publisher.
class TelnetPublisher : public SpotPublisher {
 public:
  explicit TelnetPublisher(TelnetServer& s) : s_(s) {}
  void publish(const std::string& line) override { s_.publish(line); }

 private:
  TelnetServer& s_;
};

}  // namespace

int decode_main(int argc, const char* const* argv) {
  DecodeSettings s;
  s.receiver = ReceiverKind::kFine;
  int channel = 0;  // all channels mixed
  bool timestamps = false, raw = false, centre_given = false, span_given = false;
  bool live = false;
  int lo = 0, hi = 0, telnet_port = -1;
  std::string file, device = "sysdefault", listen = "127.0.0.1";
  bool have_file = false;
  s.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    const bool takes = a == "--center" || a == "--channel" || a == "--format" || a == "--gain" ||
                       a == "--receiver" || a == "--span" || a == "--threads" || a == "--spotter" ||
                       a == "--dial" || a == "--sideband" || a == "--telnet" || a == "--listen";
    if (takes && i + 1 >= argc) return usage_error(a + " needs a value");
    double v = 0;
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--center") {
      if (!number(argv[++i], v) || v != static_cast<int>(v) || v < kMinCenterfreq ||
          v > kMaxCenterfreq)
        return usage_error("--center must be a whole number of Hz from " +
                           std::to_string(kMinCenterfreq) + " to " +
                           std::to_string(kMaxCenterfreq));
      s.centerfreq = static_cast<int>(v);
      centre_given = true;
    } else if (a == "--receiver") {
      const std::string r = argv[++i];
      if (r == "fine")
        s.receiver = ReceiverKind::kFine;
      else if (r == "classic")
        s.receiver = ReceiverKind::kClassic;
      else
        return usage_error("--receiver must be fine or classic");
    } else if (a == "--span") {
      if (!span(argv[++i], lo, hi))
        return usage_error("--span must be LO-HI, two whole numbers of Hz, LO below HI");
      span_given = true;
    } else if (a == "--threads") {
      if (!number(argv[++i], v) || v != static_cast<int>(v) || v < 1 || v > 256)
        return usage_error("--threads must be a whole number from 1 to 256");
      s.threads = static_cast<int>(v);
    } else if (a == "--iq") {
      s.iq = true;
    } else if (a == "--spots") {
      s.spots.print = true;
    } else if (a == "--spotter") {
      s.spots.spotter = argv[++i];
      for (char& c : s.spots.spotter)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (s.spots.spotter.empty() || s.spots.spotter.size() > 12 ||
          s.spots.spotter.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/") !=
              std::string::npos)
        return usage_error("--spotter must be a callsign (letters, digits and /)");
    } else if (a == "--dial") {
      if (!number(argv[++i], v) || v < 0 || v > 1e8)
        return usage_error("--dial must be a frequency in kHz, 0 or more");
      s.spots.dial_khz = v;
    } else if (a == "--sideband") {
      const std::string sb = argv[++i];
      if (sb == "usb")
        s.spots.sideband = spots::Sideband::kUsb;
      else if (sb == "lsb")
        s.spots.sideband = spots::Sideband::kLsb;
      else
        return usage_error("--sideband must be usb or lsb");
    } else if (a == "--telnet") {
      if (!number(argv[++i], v) || v != static_cast<int>(v) || v < 1 || v > 65535)
        return usage_error("--telnet must be a TCP port from 1 to 65535");
      telnet_port = static_cast<int>(v);
    } else if (a == "--listen") {
      listen = argv[++i];
    } else if (a == "--live") {
      live = true;
      // An optional device follows.
      if (i + 1 < argc && argv[i + 1][0] != '-') device = argv[++i];
    } else if (a == "--channel") {
      if (!number(argv[++i], v) || v != static_cast<int>(v) || v < 1)
        return usage_error("bad channel " + std::string(argv[i]));
      channel = static_cast<int>(v);
    } else if (a == "--format") {
      const std::string f = argv[++i];
      if (f == "text")
        s.format = DecodeSettings::kText;
      else if (f == "json")
        s.format = DecodeSettings::kJson;
      else if (f == "events")
        s.format = DecodeSettings::kEvents;
      else
        return usage_error("unknown format " + f + " (text, json or events)");
    } else if (a == "--gain") {
      if (!number(argv[++i], v) || !(v > 0) || v > 1000)
        return usage_error("--gain must be above 0 and at most 1000");
      s.gain = v;
    } else if (a == "--auto-gain") {
      s.auto_gain = true;
    } else if (a == "--timestamps") {
      timestamps = true;
    } else if (a == "--raw") {
      raw = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return usage_error("unknown option " + a);
    } else if (have_file) {
      return usage_error("one recording at a time (" + a + ")");
    } else {
      file = a;
      have_file = true;
    }
  }
  if (live && have_file) return usage_error("--live reads the sound card: no FILE with it");
  if (!have_file && !live) return usage_error("no recording named");
  const bool classic = s.receiver == ReceiverKind::kClassic;
  if (classic && (span_given || s.iq || s.spots.print || telnet_port > 0)) {
    const char* what = span_given      ? "--span"
                       : s.iq          ? "--iq"
                       : s.spots.print ? "--spots"
                                       : "--telnet";
    return usage_error(std::string(what) + " needs --receiver fine");
  }
  if (span_given && centre_given) return usage_error("--span or --center, not both");
  if (s.iq && live) return usage_error("--iq reads a file or standard input, not --live");

  // SIGINT and SIGTERM end the input; what was decoded is still printed.
  catch_interrupts();

  // The spot server, before anything is decoded.
  std::unique_ptr<TelnetServer> server;
  std::unique_ptr<TelnetPublisher> publisher;
  if (telnet_port > 0) {
    TelnetOptions o;
    o.address = listen;
    o.port = telnet_port;
    Opened<TelnetServer> started = TelnetServer::start(o);
    server = std::move(started.source);
    if (!server) {
      std::fprintf(stderr, "talvo-decode: spot server: %s\n", started.error.c_str());
      return 1;
    }
    publisher = std::make_unique<TelnetPublisher>(*server);
    s.spots.publisher = publisher.get();
  }

  ToneWatch watch;
  std::unique_ptr<AudioSource> src;
  std::unique_ptr<IqSource> iq;
  FILE* recorder = nullptr;
  int native_rate = samplefreq;
  if (s.iq) {
    std::string error;
    if (file == "-") {
      iq = open_raw_iq(stdin);
    } else {
      Opened<IqSource> r = open_iq_recording(file);
      iq = std::move(r.source);
      error = r.error;
    }
    if (!iq) {
      std::fprintf(stderr, "talvo-decode: %s: %s\n", file.c_str(), error.c_str());
      return 1;
    }
    s.rate = iq->rate();
  } else {
    if (live) {
      if (const std::string why = cannot_start("arecord", "alsa-utils"); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
      }
      const std::string cmd = "arecord -D '" + device + "' -q -t raw -c 1 -r 48000 -f S16_LE";
      if (device.find('\'') != std::string::npos)
        return usage_error("the device name cannot hold a quote");
      recorder = popen(cmd.c_str(), "r");
      if (!recorder) {
        std::fputs("cannot open pipe\n", stderr);
        return 1;
      }
      StreamInput st = open_stream(fileno(recorder), true, 0);
      src = std::move(st.source);
    } else {
      Input in = open_input(file, {channel, raw, s.auto_gain && classic, &watch});
      if (!in.source) {
        std::fprintf(stderr, "talvo-decode: %s: %s\n", file.c_str(), in.error.c_str());
        return 1;
      }
      src = std::move(in.source);
    }
    native_rate = src->native_rate();
  }

  // The clusters: the fine receiver's span, or nine around a centre.
  if (!classic) {
    if (centre_given) {
      s.centres = nine_around(s.centerfreq);
    } else {
      if (!span_given) {
        if (s.iq) {
          hi = static_cast<int>(0.45 * s.rate) / 50 * 50;
          lo = -hi;
        } else {
          // The whole passband the input carries, up to 300-2700 Hz.
          lo = 300;
          hi = std::min(2700, native_rate / 2 - 150);
        }
      }
      const int top = s.iq ? s.rate / 2 : samplefreq / 2;
      if (lo <= -top || hi >= top || (!s.iq && lo < 100))
        return usage_error("--span must lie within " + std::to_string(s.iq ? -top : 100) + " to " +
                           std::to_string(top) + " Hz");
      s.centres = span_centres(lo, hi);
    }
  }

  if (classic && s.auto_gain) s.gain *= measure_auto_gain(*src, s.centerfreq);
  s.progress = !live && file != "-" && isatty(2);
  std::vector<ClusterResult> results;
  try {
    results = s.iq ? decode_iq(*iq, s, stdout) : decode_recording(*src, s, stdout);
  } catch (const std::invalid_argument& e) {
    return usage_error(e.what());
  }
  if (s.format != DecodeSettings::kEvents && !(s.spots.print && s.format == DecodeSettings::kText))
    std::fputs(format_results(results, s, timestamps).c_str(), stdout);
  std::fflush(stdout);
  if (server) server->stop();
  // A recorder that failed is the reason, whatever the audio held.
  if (recorder) {
    const int ws = pclose(recorder);
    if (!interrupted()) {
      if (const std::string why = recorder_ended("arecord", "alsa-utils", ws); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
      }
    }
  }
  // Nothing decoded: say why, from what the input held.
  bool any = false;
  for (const auto& c : results)
    any = any || c.first_t >= 0;
  if (!any && !s.iq) {
    const std::string why =
        classic ? diagnose(watch.loudest(), s.centerfreq, s.gain, s.auto_gain)
                : diagnose_span(watch.loudest(), s.centres.front(), s.centres.back());
    std::fprintf(stderr, "talvo-decode: %s\n", why.c_str());
  }
  if (const int sig = interrupted()) return 128 + sig;
  return 0;
}

}  // namespace talvo

int main(int argc, char** argv) {
  return talvo::decode_main(argc, argv);
}
