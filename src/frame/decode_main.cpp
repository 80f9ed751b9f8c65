// talvo-decode: decodes a recording, or a stream on standard input, on all
// nine clusters and prints what each decoded.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frame/diagnosis.h"
#include "frame/input.h"
#include "frame/interrupt.h"
#include "frame/recording.h"
#include "rx/receiver.h"

namespace talvo {
namespace {

const char* const kHelp =
    "Usage: talvo-decode [options] FILE\n"
    "Decodes the Morse signals of a recording on nine clusters around a centre\n"
    "frequency and prints each cluster's text. FILE is any audio file libsndfile\n"
    "reads (WAV, FLAC, Ogg/Vorbis, AIFF, ...), at any sample rate, or - for\n"
    "standard input: a WAV, FLAC, Ogg or AIFF stream is recognised by its first\n"
    "bytes, anything else is raw signed 16-bit little-endian mono at 48000 Hz.\n"
    "When nothing was decoded it says why on standard error (no signal, a\n"
    "signal outside the clusters, one too weak). Ctrl-C (SIGINT) or SIGTERM\n"
    "ends decoding: the characters in progress are finished and the summary\n"
    "printed; the exit status is then 130 or 143.\n"
    "\n"
    "  --center HZ       centre frequency, a whole number of Hz from 460 to 23789\n"
    "                    (default 700)\n"
    "  --channel N       channel of a multi-channel file, from 1 (default: all\n"
    "                    channels mixed to one)\n"
    "  --format F        text (default), json, or events (one JSON line per\n"
    "                    decoded string, as it is decoded)\n"
    "  --timestamps      text format: each cluster's line starts with the time\n"
    "                    its first character was decoded, [hh:mm:ss.s] into the\n"
    "                    recording\n"
    "  --gain G          input gain, above 0 and at most 1000 (default 1.0)\n"
    "  --auto-gain       scale the input so the strongest signal lands at the\n"
    "                    level the receiver decodes best\n"
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

int decode_main(int argc, const char* const* argv) {
  DecodeSettings s;
  int channel = 0;  // all channels mixed
  bool timestamps = false, raw = false;
  std::string file;
  bool have_file = false;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    const bool takes = a == "--center" || a == "--channel" || a == "--format" || a == "--gain";
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
  if (!have_file) return usage_error("no recording named");

  // SIGINT and SIGTERM end the input; what was decoded is still printed.
  catch_interrupts();
  ToneWatch watch;
  Input in = open_input(file, {channel, raw, s.auto_gain, &watch});
  if (!in.source) {
    std::fprintf(stderr, "talvo-decode: %s: %s\n", file.c_str(), in.error.c_str());
    return 1;
  }
  std::unique_ptr<AudioSource> src = std::move(in.source);
  if (s.auto_gain) s.gain *= measure_auto_gain(*src, s.centerfreq);
  s.progress = file != "-" && isatty(2);
  const auto results = decode_recording(*src, s, stdout);
  if (s.format != DecodeSettings::kEvents)
    std::fputs(format_results(results, s.format, timestamps).c_str(), stdout);
  std::fflush(stdout);
  // Nothing decoded: say why, from what the input held.
  bool any = false;
  for (const auto& c : results)
    any = any || c.first_t >= 0;
  if (!any)
    std::fprintf(stderr, "talvo-decode: %s\n",
                 diagnose(watch.loudest(), s.centerfreq, s.gain, s.auto_gain).c_str());
  if (const int sig = interrupted()) return 128 + sig;
  return 0;
}

}  // namespace talvo

int main(int argc, char** argv) {
  return talvo::decode_main(argc, argv);
}
