// talvo-decode: decodes a recording, a stream on standard input or the sound
// card on clusters 50 Hz apart, prints what each decoded, and as a skimmer
// spots the calls it finds, on standard output, to a telnet spot server and
// to an MQTT broker, on the frequency of the radio's dial (given, or read
// from the radio through hamlib).
//
// The steps (the spot server, the input, the clusters, the decoding) hand
// back what stops the program as an Outcome; main alone prints it and ends
// with its status.
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "frame/commands.h"
#include "frame/decode_options.h"
#include "frame/report.h"
#include "frame/spot_links.h"
#include "input/audio_time.h"
#include "input/diagnosis.h"
#include "input/input.h"
#include "input/interrupt.h"
#include "input/sniff.h"
#include "net/telnet_server.h"
#include "spots/call_book.h"

namespace talvo {
namespace {

// How the program ends: its exit status and what it says on standard error.
struct Outcome {
  int status = 0;
  std::string message;  // printed on standard error when not empty
  bool usage = false;   // a refused command line: the hint to --help follows
};

Outcome usage_error(const std::string& why) {
  return {2, "talvo-decode: " + why, true};
}

Outcome failure(const std::string& why) {
  return {1, why, false};
}

// The spot server as the decoder's spot publisher.
class TelnetPublisher : public SpotPublisher {
 public:
  explicit TelnetPublisher(TelnetServer& s) : s_(s) {}
  void publish(const std::string& line) override { s_.publish(line); }
  void publish_spot(const std::string& line, const spots::Spot& spot) override {
    s_.publish(line, spot.utc);
  }

 private:
  TelnetServer& s_;
};

// The spot server, when --telnet asks for one.
struct SpotServer {
  std::unique_ptr<TelnetServer> server;
  std::unique_ptr<TelnetPublisher> publisher;
};

// The numeric address of a host name or address ("localhost" gives
// 127.0.0.1: an IPv4 address first, as loggers mostly connect to one), or
// "" when it names none.
std::string numeric_address(const std::string& host) {
  for (const int family : {AF_INET, AF_UNSPEC}) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* ai = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &ai) != 0 || !ai) continue;
    char name[NI_MAXHOST];
    const int r =
        getnameinfo(ai->ai_addr, ai->ai_addrlen, name, sizeof name, nullptr, 0, NI_NUMERICHOST);
    freeaddrinfo(ai);
    if (r == 0) return name;
  }
  return "";
}

std::optional<Outcome> start_server(DecodeOptions& o, SpotServer& out) {
  if (o.telnet_port <= 0) return std::nullopt;
  TelnetOptions t;
  t.address = numeric_address(o.listen);
  if (t.address.empty())
    return failure("talvo-decode: spot server: --listen " + o.listen + ": no such host or address");
  t.port = o.telnet_port;
  Opened<TelnetServer> started = TelnetServer::start(t);
  if (!started) return failure("talvo-decode: spot server: " + started.error);
  out.server = std::move(started.source);
  out.publisher = std::make_unique<TelnetPublisher>(*out.server);
  o.s.spots.publisher = out.publisher.get();
  return std::nullopt;
}

// The radio (--rig) and the broker (--mqtt), when asked for: the spotter
// takes its dial from the one and hands its spots to the other.
std::optional<Outcome> start_links(DecodeOptions& o, std::unique_ptr<SpotLinks>& out) {
  if (!o.rig && !o.mqtt) return std::nullopt;
  std::string error;
  out = SpotLinks::start(o.rig, o.pitch_hz, o.mqtt, o.s.spots.spotter, error);
  if (!out) return failure("talvo-decode: " + error);
  o.s.spots.dial = out->dial();
  o.s.spots.sink = out->sink();
  return std::nullopt;
}

// What is decoded: audio (a recording, standard input or the sound card) or
// I/Q pairs.
struct Source {
  std::unique_ptr<AudioSource> audio;
  std::unique_ptr<IqSource> iq;
  FILE* recorder = nullptr;  // arecord's pipe with --live
  int native_rate = samplefreq;
};

std::optional<Outcome> open_iq(DecodeOptions& o, Source& src) {
  std::string error;
  if (o.file == "-") {
    src.iq = open_raw_iq(stdin, o.iq_format, o.iq_rate);
  } else {
    Opened<IqSource> r = open_iq_recording(o.file);
    src.iq = std::move(r.source);
    error = r.error;
  }
  if (!src.iq) return failure("talvo-decode: " + o.file + ": " + error);
  o.s.rate = src.iq->rate();
  return std::nullopt;
}

std::optional<Outcome> open_live(const DecodeOptions& o, Source& src) {
  if (const std::string why = cannot_start("arecord", "alsa-utils"); !why.empty())
    return failure(why);
  if (o.device.find('\'') != std::string::npos)
    return usage_error("the device name cannot hold a quote");
  const std::string cmd = "arecord -D '" + o.device + "' -q -t raw -c 1 -r 48000 -f S16_LE";
  src.recorder = popen(cmd.c_str(), "r");
  if (!src.recorder) return failure("cannot open pipe");
  src.audio = open_stream(fileno(src.recorder), true, 0).source;
  return std::nullopt;
}

std::optional<Outcome> open_source(DecodeOptions& o, ToneWatch& watch, Source& src) {
  if (o.s.iq) return open_iq(o, src);
  if (o.live) {
    if (auto stop = open_live(o, src)) return stop;
  } else {
    const bool classic = o.s.receiver == ReceiverKind::kClassic;
    Input in = open_input(o.file, {o.channel, o.raw, o.s.auto_gain && classic, &watch});
    if (!in.source) return failure("talvo-decode: " + o.file + ": " + in.error);
    src.audio = std::move(in.source);
  }
  src.native_rate = src.audio->native_rate();
  return std::nullopt;
}

// The clusters: the fine receiver's span, or nine around a centre.
std::optional<Outcome> choose_clusters(DecodeOptions& o, int native_rate) {
  DecodeSettings& s = o.s;
  if (s.receiver == ReceiverKind::kClassic) return std::nullopt;
  if (o.centre_given) {
    s.centres = nine_around(s.centerfreq);
    return std::nullopt;
  }
  if (!o.span_given) {
    if (s.iq) {
      o.hi = static_cast<int>(0.45 * s.rate) / 50 * 50;
      o.lo = -o.hi;
    } else {
      // The whole passband the input carries, up to 300-2700 Hz.
      o.lo = 300;
      o.hi = std::min(2700, native_rate / 2 - 150);
    }
  }
  const int top = s.iq ? s.rate / 2 : samplefreq / 2;
  if (o.lo <= -top || o.hi >= top || (!s.iq && o.lo < 100))
    return usage_error("--span must lie within " + std::to_string(s.iq ? -top : 100) + " to " +
                       std::to_string(top) + " Hz");
  s.centres = span_centres(o.lo, o.hi);
  return std::nullopt;
}

// Why nothing was decoded, from what the input held; "" when something was
// (or the input was I/Q, which is not watched).
std::string nothing_decoded(const DecodeOptions& o, const std::vector<ClusterResult>& results,
                            const ToneWatch& watch) {
  const DecodeSettings& s = o.s;
  const bool any = std::any_of(results.begin(), results.end(),
                               [](const ClusterResult& c) { return c.first_t >= 0; });
  if (any || s.iq) return "";
  const std::string why = s.receiver == ReceiverKind::kClassic
                              ? diagnose(watch.loudest(), s.centerfreq, s.gain, s.auto_gain)
                              : diagnose_span(watch.loudest(), s.centres.front(), s.centres.back());
  return "talvo-decode: " + why;
}

// The country file and call list the spotter checks calls against; a
// notice on standard error when either cannot be read.
void load_call_book(spots::CallBook& book) {
  const std::optional<std::string> cty = read_text_file(spots::kCtyPath);
  const std::optional<std::string> scp = read_text_file(spots::kScpPath);
  const std::string notice = book.load(cty ? &*cty : nullptr, scp ? &*scp : nullptr);
  if (!notice.empty()) std::fprintf(stderr, "talvo-decode: %s\n", notice.c_str());
}

// The UTC time of the audio's start: --start-time, else what the recording
// says, else the clock now (always the clock for a live input).
std::int64_t audio_start_utc(const DecodeOptions& o) {
  if (o.start_given) return o.start_utc;
  if (!o.live && o.file != "-" && !o.s.iq) {
    if (const std::optional<std::int64_t> t = recorded_start_utc(o.file)) return *t;
  }
  return static_cast<std::int64_t>(std::time(nullptr));
}

// With a named file decoded to the end, the spot server keeps serving its spots
// (sh/dx) until SIGINT or SIGTERM.
void serve_until_interrupted(const DecodeOptions& o, TelnetServer& server) {
  if (o.live || o.file == "-" || interrupted()) return;
  std::fprintf(stderr, "talvo-decode: decoded; serving %zu spots on port %d until Ctrl-C\n",
               server.stats().spots, server.port());
  while (!interrupted())
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// Decodes what the options name and prints it.
Outcome run(DecodeOptions& o) {
  DecodeSettings& s = o.s;
  // SIGINT and SIGTERM end the input; what was decoded is still printed.
  catch_interrupts();
  // The spot server, before anything is decoded.
  SpotServer server;
  if (auto stop = start_server(o, server)) return *stop;
  std::unique_ptr<SpotLinks> links;
  if (auto stop = start_links(o, links)) return *stop;
  ToneWatch watch;
  Source src;
  if (auto stop = open_source(o, watch, src)) return *stop;
  if (auto stop = choose_clusters(o, src.native_rate)) return *stop;
  spots::CallBook book;
  if (s.receiver == ReceiverKind::kFine) {
    load_call_book(book);
    s.spots.book = &book;
  }
  s.spots.start_utc = audio_start_utc(o);

  if (s.receiver == ReceiverKind::kClassic && s.auto_gain)
    s.gain *= measure_auto_gain(*src.audio, s.centerfreq);
  const bool stream = o.live || o.file == "-";
  s.progress = !stream && isatty(2);
  s.cut_off = [] { return interrupted() != 0; };
  const bool text = s.format == DecodeSettings::kText && !s.spots.print;
  TextOutput t;
  t.stream = text && stream;
  t.timestamps = text && !stream && o.timestamps;
  t.summary = o.summary;
  s.keep_text = !t.stream;
  Gathered g;
  std::vector<ClusterResult> results;
  try {
    results =
        s.iq ? decode_iq(*src.iq, s, stdout, t, g) : decode_recording(*src.audio, s, stdout, t, g);
  } catch (const std::invalid_argument& e) {
    return usage_error(e.what());
  }
  if (t.timestamps)
    std::fputs(format_lines(g.lines, results, s).c_str(), stdout);
  else if (s.format == DecodeSettings::kJson || (text && !stream))
    std::fputs(format_results(results, s).c_str(), stdout);
  if (o.summary) std::fputs(g.stations.format(s.spots.dial_khz == 0).c_str(), stdout);
  std::fflush(stdout);
  links.reset();
  bool served = false;
  if (server.server) {
    served = !o.live && o.file != "-" && !interrupted();
    serve_until_interrupted(o, *server.server);
    server.server->stop();
  }
  // A recorder that failed is the reason, whatever the audio held.
  if (src.recorder) {
    const int ws = pclose(src.recorder);
    if (!interrupted()) {
      if (const std::string why = recorder_ended("arecord", "alsa-utils", ws); !why.empty())
        return failure(why);
    }
  }
  Outcome end;
  end.message = nothing_decoded(o, results, watch);
  // Ctrl-C that ends serving a decoded file is the normal end.
  if (const int sig = interrupted(); sig && !served) end.status = 128 + sig;
  return end;
}

// The program: the only place that prints what ends it and picks the status.
int decode_main(int argc, const char* const* argv) {
  ParsedOptions p = parse_decode_options(argc, argv);
  if (p.o.help) {
    std::fputs(decode_help(), stdout);
    return 0;
  }
  const Outcome end = p.error.empty() ? run(p.o) : usage_error(p.error);
  if (!end.message.empty()) std::fprintf(stderr, "%s\n", end.message.c_str());
  if (end.usage) std::fputs("Try 'talvo-decode --help'.\n", stderr);
  return end.status;
}

}  // namespace
}  // namespace talvo

int main(int argc, char** argv) {
  return talvo::decode_main(argc, argv);
}
