// The skimmer benchmark's I/Q cases: generated stations over a span of I/Q,
// decoded by each talvo-decode given (--decoder, in turn on the same file):
// each station's CER, its spot, the characters on clusters without a
// station, speed (wall clock and CPU time) and peak memory.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "skimmer.h"
#include "support/write_audio.h"

namespace bench {

namespace {

using talvo::test::KeyedTone;
using talvo::test::Station;

// One I/Q case: the stations and what else the input holds.
struct IqCase {
  std::string title;
  int rate = 48000;               // frames per second
  std::vector<std::string> span;  // talvo-decode's span options
  std::vector<Station> st;        // the stations
  std::vector<double> snr_db;     // [i]: station i's SNR in 500 Hz, dB
  double noise = 300;             // noise per component, sample units
  double mirror_db = 0;           // < 0: each station's mirror image, this far down
  double dc = 0;                  // a constant added to I and Q, sample units
  double seconds = 0;
  // Targets.
  double min_speed = 0;  // x real time, wall clock (0: none)
  double max_mb = 0;     // peak memory (0: none)
  double max_mean_cer = 0.03, max_cer = 0.03;
  double max_stray_per_min = 0;  // characters a minute on clusters without a station
  bool want_spots = true;        // every station spotted
  bool by_sox = false;           // the input is sox's white noise instead (noise alone)
};

// The amplitude that puts a complex tone at snr_db over complex noise of
// `noise` per component in 500 Hz.
double amp_for(double noise, double snr_db, int rate) {
  return noise * std::sqrt(2.0 * 500 * std::pow(10.0, snr_db / 10) / rate);
}

IqCase make_case(const std::string& name) {
  IqCase c;
  std::mt19937 g(29);
  if (name == "iq") {
    c.title =
        "40 kHz of 48 kHz I/Q (--span -20000-20000: 801 clusters), 30 stations 20-30 WPM "
        "at +13 dB";
    c.span = {"--span", "-20000-20000"};
    for (int i = 0; i < 30; i++) {
      const double hz = -19500 + 1340.0 * i + static_cast<double>(g() % 400) - 200;
      const std::string call = call_for(100 + 37 * i);
      c.st.push_back({std::round(hz), 20 + static_cast<double>(g() % 11), cq_text(call, 2, i),
                      0.5 + 0.1 * (i % 10), call});
      c.snr_db.push_back(13);
    }
  } else if (name == "span192") {
    c.title =
        "192 kHz of I/Q (the whole span: 3457 clusters), 60 stations over +-80 kHz at "
        "+6..+25 dB, 18-34 WPM";
    c.rate = 192000;
    for (int i = 0; i < 60; i++) {
      const double hz = -80000 + 160000.0 * (i + 0.5) / 60 + static_cast<double>(g() % 1000) - 500;
      const std::string call = call_for(200 + 41 * i);
      c.st.push_back({std::round(hz), 18 + static_cast<double>(g() % 17), cq_text(call, 2, 7 * i),
                      0.5 + 0.2 * (i % 10), call});
      c.snr_db.push_back(6 + static_cast<double>(g() % 20));
    }
    c.min_speed = 4;
    c.max_mb = 200;
    c.max_cer = 0.10;
    c.max_stray_per_min = 1;
  } else if (name == "noise192") {
    c.title = "192 kHz of I/Q, noise alone (3457 clusters)";
    c.rate = 192000;
    c.seconds = 20;
    c.want_spots = false;
  } else if (name == "soxnoise192") {
    // sox makes its noise at 48 kHz and resamples it: flat to about 23 kHz,
    // then falling 3-18 dB into digital silence, as a receiver's filters
    // leave the edges of a span.
    c.title = "192 kHz of I/Q, sox's white noise alone (3457 clusters)";
    c.rate = 192000;
    c.seconds = 20;
    c.want_spots = false;
    c.by_sox = true;
  } else if (name == "mirror") {
    c.title =
        "48 kHz of I/Q: one station at +40 dB, its mirror image 30 dB down and a DC spike "
        "(the whole span)";
    c.st.push_back({7350, 24, cq_text("dl3xyz", 2, 5), 0.5, "dl3xyz"});
    c.snr_db.push_back(40);
    c.mirror_db = -30;
    c.dc = 2000;
  }
  if (c.seconds == 0) c.seconds = talvo::test::stations_end(c.st) + 2;
  return c;
}

std::vector<float> render_case(const IqCase& c) {
  std::vector<KeyedTone> tones = tones_of(c.st, 1);
  for (std::size_t i = 0; i < tones.size(); i++)
    tones[i].amp = amp_for(c.noise, c.snr_db[i], c.rate);
  if (c.mirror_db < 0) {
    const std::size_t n = tones.size();
    for (std::size_t i = 0; i < n; i++) {
      KeyedTone m = tones[i];
      m.freq = -m.freq;
      m.phase = -m.phase;
      m.amp *= std::pow(10.0, c.mirror_db / 20);
      tones.push_back(m);
    }
  }
  auto v = talvo::test::render(tones, c.seconds, c.noise, 4, {}, true, c.rate);
  if (c.dc != 0)
    for (auto& x : v)
      x += static_cast<float>(c.dc);
  return v;
}

// What one program made of the case.
struct Result {
  double mean_cer = 0, worst = 0;
  int decoded = 0, spotted = 0, false_spots = 0;
  int stray = 0;
  std::string strays;  // centre:text of each
  std::vector<double> cers;
  std::vector<double> spot_khz;
};

Result evaluate(const IqCase& c, const std::string& out) {
  std::map<int, std::string> text;
  struct Sp {
    std::string call;
    double khz;
  };
  std::vector<Sp> spots;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);) {
    const auto num = [&](const char* key) {
      const std::size_t p = l.find(key);
      return p == std::string::npos ? 0.0 : std::atof(l.c_str() + p + std::strlen(key));
    };
    const std::size_t k = l.find("\"call\": \"");
    if (k != std::string::npos) {
      spots.push_back({l.substr(k + 9, l.find('"', k + 9) - k - 9), num("\"freq_khz\": ")});
    } else {
      const std::size_t t = l.find("\"text\": \"");
      if (t == std::string::npos) continue;
      text[static_cast<int>(num("\"center_hz\": "))] += l.substr(t + 9, l.rfind('"') - t - 9);
    }
  }
  Result r;
  for (const auto& [hz, t] : text) {
    bool near = false;
    for (const auto& s : c.st)
      near = near || std::abs(hz - s.hz) <= 50;
    if (!near && !t.empty()) {
      r.stray += static_cast<int>(t.size());
      if (r.strays.size() < 400) r.strays += " " + std::to_string(hz) + ":" + t;
    }
  }
  for (const auto& s : c.st) {
    double best = 1;
    for (const auto& [hz, t] : text)
      if (std::abs(hz - s.hz) <= 50) best = std::min(best, cer(t, s.text));
    r.cers.push_back(best);
    r.worst = std::max(r.worst, best);
    r.mean_cer += best / static_cast<double>(c.st.size());
    if (best <= 0.03) r.decoded++;
    double khz = 0;
    for (const auto& p : spots)
      if (p.call == upper(s.call) && std::abs(p.khz - (14000 + s.hz / 1000)) <= 0.1) khz = p.khz;
    r.spot_khz.push_back(khz);
    if (khz > 0) r.spotted++;
  }
  for (const auto& p : spots) {
    bool sent = false;
    for (const auto& s : c.st)
      sent = sent || (p.call == upper(s.call) && std::abs(p.khz - (14000 + s.hz / 1000)) <= 0.1);
    if (!sent) r.false_spots++;
  }
  return r;
}

}  // namespace

bool is_iq_case(const std::string& name) {
  return name == "iq" || name == "span192" || name == "noise192" || name == "soxnoise192" ||
         name == "mirror";
}

bool case_iq_span(const std::string& name) {
  const IqCase c = make_case(name);
  const std::string dir = tmp_dir();
  const std::string wav = keep_dir.empty() ? dir + "/iq.wav" : keep_dir + "/" + name + ".wav";
  if (c.by_sox) {
    const std::string cmd = "sox -V1 -R -n -r " + std::to_string(c.rate) + " -c 2 -b 16 '" + wav +
                            "' synth " + std::to_string(c.seconds) + " whitenoise vol 0.1";
    if (std::system(cmd.c_str()) != 0) {
      std::printf("\n%s: sox failed (%s)\n", c.title.c_str(), cmd.c_str());
      return false;
    }
  } else {
    talvo::test::write_float_wav(wav, render_case(c), 2, c.rate);
  }
  std::printf("\n%s, %.0f s, --threads 2\n", c.title.c_str(), c.seconds);
  bool all = true;
  std::vector<Result> results;
  for (const auto& d : decoders) {
    const double load = load_average();
    std::vector<std::string> argv = {d,        "--iq",  "--threads", "2",
                                     "--dial", "14000", "--format",  "events"};
    argv.insert(argv.end(), c.span.begin(), c.span.end());
    argv.push_back(wav);
    const Measured m = measure(argv, dir);
    const Result r = evaluate(c, m.out);
    const double minutes = c.seconds / 60;
    const double mb = static_cast<double>(m.max_rss_kb) / 1024;
    const bool ok = m.status == 0 && (c.min_speed == 0 || c.seconds / m.wall >= c.min_speed) &&
                    (c.max_mb == 0 || mb < c.max_mb) && r.mean_cer <= c.max_mean_cer &&
                    r.worst <= c.max_cer && r.stray / minutes <= c.max_stray_per_min &&
                    r.false_spots == 0 &&
                    (!c.want_spots || r.spotted == static_cast<int>(c.st.size()));
    all = all && ok;
    std::printf("  %s\n", d.c_str());
    if (!c.st.empty())
      std::printf(
          "    stations %zu: mean CER %.3f, worst %.3f, decoded (CER <= 0.03) %d, spotted %d\n",
          c.st.size(), r.mean_cer, r.worst, r.decoded, r.spotted);
    std::printf(
        "    false spots %d; characters on clusters without a station: %d (%.1f a minute)\n",
        r.false_spots, r.stray, r.stray / minutes);
    if (!r.strays.empty()) std::printf("     %s\n", r.strays.c_str());
    std::printf(
        "    wall %.2f s, user+sys %.2f s: %.2fx real time (%.2fx per CPU second); peak %.1f MB; "
        "load %.2f%s: %s\n",
        m.wall, m.cpu, c.seconds / m.wall, c.seconds / m.cpu, mb, load,
        m.status ? "; exit status not 0!" : "", pass(ok));
    results.push_back(r);
  }
  if (!c.st.empty() && c.st.size() <= 60) {
    std::printf("  %8s %4s %4s %-8s", "offset", "dB", "wpm", "call");
    for (std::size_t k = 0; k < results.size(); k++)
      std::printf(" %6s %-8s", "CER", "spot kHz");
    std::printf("\n");
    for (std::size_t i = 0; i < c.st.size(); i++) {
      std::printf("  %8.0f %4.0f %4.0f %-8s", c.st[i].hz, c.snr_db[i], c.st[i].wpm,
                  c.st[i].call.c_str());
      for (const auto& r : results) {
        char shown[32] = "(none)";
        if (r.spot_khz[i] > 0) std::snprintf(shown, sizeof shown, "%.1f", r.spot_khz[i]);
        std::printf(" %6.3f %-8s", r.cers[i], shown);
      }
      std::printf("\n");
    }
  }
  if (keep_dir.empty()) std::remove(wav.c_str());
  std::remove((dir + "/stdout").c_str());
  rmdir(dir.c_str());
  return all;
}

}  // namespace bench
