#include "engine/decode.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "rx/block.h"
#include "rx/receiver.h"

namespace talvo {

double measure_auto_gain(AudioSource& src, int centerfreq) {
  // The level of each cluster is its smoothed envelope (valuenlg1), sampled
  // once a block. The strongest signal's key-down level is the highest 95th
  // percentile of a cluster (whenever it is keyed a twentieth of the time or
  // more). The receiver decodes best when that level is near the envelope of
  // a tone of amplitude 6000 at the centre (measured: below ~5000 short marks
  // at 200 characters per minute fall apart; from ~10000 key clicks key the
  // neighbouring clusters).
  constexpr double kTarget = 1960.0;  // envelope of a 6000 tone at 700 Hz
  // Noise must stay well below the key-down floor of 1000: raised to the
  // target, noise alone keys every cluster (thousands of garbage characters
  // a minute). A cluster's 20th percentile is its noise (between the marks
  // of a signal, or all along without one); the median of the nine is held
  // under this ceiling.
  constexpr double kNoiseCeiling = 300.0;
  auto r = init(centerfreq);
  auto bt = std::make_unique<BlockTicks>();
  std::vector<double> in(kBlock);
  std::vector<double> level[BlockTicks::kClusters];
  const long long limit = src.length() < 0 ? 10LL * samplefreq : -1;
  long long done = 0;
  for (int n; (limit < 0 || done < limit) && (n = src.read(in.data(), kBlock)) > 0; done += n) {
    receive_block(*r, in.data(), n, *bt);
    for (int c = -kLastCentre; c <= kLastCentre; c += 5)
      level[(c + kLastCentre) / 5].push_back(r->valuenlg1[c]);
  }
  src.rewind();
  if (level[0].empty()) return 1.0;
  const auto percentile = [](std::vector<double>& v, int p) {
    const std::size_t k = v.size() * static_cast<std::size_t>(p) / 100;
    std::nth_element(v.begin(), v.begin() + static_cast<long>(k), v.end());
    return v[k];
  };
  double peak = 0;
  std::vector<double> floors;
  for (auto& v : level) {
    peak = std::max(peak, percentile(v, 95));
    floors.push_back(percentile(v, 20));
  }
  const double noise = percentile(floors, 50);
  if (peak < 1.0) return 1.0;
  double gain = kTarget / peak;
  if (noise > 0) gain = std::min(gain, kNoiseCeiling / noise);
  return std::clamp(gain, 0.01, 100.0);
}

namespace {

// The rate the input was rounded to 16-bit samples at.
int native_rate(const AudioSource& src) {
  return src.native_rate();
}
int native_rate(const IqSource& src) {
  return src.rate();
}

template <typename Source>
std::vector<ClusterResult> decode_frames(Source& src, const DecodeSettings& s, EngineSink& sink) {
  EngineSettings es;
  es.receiver = s.receiver;
  es.centerfreq = s.centerfreq;
  es.centres = s.centres.empty() ? nine_around(s.centerfreq) : s.centres;
  es.rate = s.rate;
  es.native_rate = native_rate(src);
  es.iq = s.iq;
  es.threads = s.threads;
  // Text is kept only for the summary: events and spot lines go out as they
  // come, and a stream may run for days.
  es.keep_text = s.keep_text && s.format != DecodeSettings::kEvents &&
                 !(s.spots.print && s.format == DecodeSettings::kText);
  es.find_calls = s.receiver == ReceiverKind::kFine;
  Engine engine(es);
  const int per_frame = s.iq ? 2 : 1;
  const int batch = engine.batch();
  std::vector<double> in(static_cast<std::size_t>(batch * per_frame));
  const long long total = src.length();
  long long pos = 0;
  int shown = -1;
  // After the end of the input, silence: the last character ends only when
  // its gap has reached the end-of-character length, behind the receiver's
  // smoothing.
  long long tail = static_cast<long long>(s.tail * s.rate);
  bool cut = false;
  for (int n;; pos += n) {
    n = src.read(in.data(), batch);
    if (n <= 0) {
      engine.input_ended();
      if (!cut && s.cut_off && s.cut_off()) {
        cut = true;
        tail = 0;
      }
      if (tail <= 0) break;
      n = static_cast<int>(std::min<long long>(batch, tail));
      std::fill(in.begin(), in.begin() + n * per_frame, 0.0);
      tail -= n;
    }
    if (s.receiver == ReceiverKind::kClassic)
      for (int k = 0; k < n; k++)
        in[static_cast<std::size_t>(k)] *= s.gain;
    engine.feed(in.data(), n, &sink);
    if (s.progress && total > 0) {
      const int pct = static_cast<int>(100 * std::min(pos + n, total) / total);
      if (pct != shown) {
        shown = pct;
        std::fprintf(stderr, "\r[%-40.*s] %3d%%", pct * 40 / 100,
                     "########################################", pct);
      }
    }
  }
  engine.finish(&sink, !cut);
  if (s.progress && total > 0) std::fputs("\n", stderr);
  return engine.results();
}

}  // namespace

std::vector<ClusterResult> run_decode(AudioSource& src, const DecodeSettings& s, EngineSink& sink) {
  return decode_frames(src, s, sink);
}

std::vector<ClusterResult> run_decode(IqSource& src, const DecodeSettings& s, EngineSink& sink) {
  return decode_frames(src, s, sink);
}

}  // namespace talvo
