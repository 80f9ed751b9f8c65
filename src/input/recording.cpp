#include "input/recording.h"

#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "input/interrupt.h"
#include "rx/block.h"
#include "rx/receiver.h"

namespace talvo {
namespace {

// A file that libsndfile reads: one of its channels, resampled to 48 kHz.
class SndSource : public AudioSource {
 public:
  SndSource(SNDFILE* f, const SF_INFO& info, int channel)
      : f_(f), info_(info), channel_(channel), in_(kChunk * info.channels), mono_(kChunk) {
    if (info_.samplerate != samplefreq) {
      int err = 0;
      src_ = src_new(SRC_SINC_MEDIUM_QUALITY, 1, &err);
      resampled_.resize(kChunk * 4);
    }
  }
  ~SndSource() override {
    if (src_) src_delete(src_);
    sf_close(f_);
  }

  int read(double* out, int n) override {
    int got = 0;
    while (got < n) {
      if (pos_ == len_ && !fill()) break;
      const int take = std::min(n - got, len_ - pos_);
      for (int i = 0; i < take; i++)
        out[got + i] = 32768.0 * buffered()[pos_ + i];
      pos_ += take;
      got += take;
    }
    return got;
  }

  bool rewind() override {
    if (sf_seek(f_, 0, SEEK_SET) < 0) return false;
    if (src_) src_reset(src_);
    pos_ = len_ = in_used_ = in_len_ = 0;
    ended_ = flushed_ = false;
    return true;
  }

  long long length() const override {
    return static_cast<long long>(static_cast<double>(info_.frames) * samplefreq /
                                  info_.samplerate);
  }
  int native_rate() const override { return info_.samplerate; }

 private:
  static constexpr int kChunk = 4096;

  const float* buffered() const { return src_ ? resampled_.data() : mono_.data(); }

  // Frame i of the input with its channels mixed to one (their mean).
  float mixed(int i) const {
    float sum = 0;
    for (int c = 0; c < info_.channels; c++)
      sum += in_[i * info_.channels + c];
    return sum / static_cast<float>(info_.channels);
  }

  // Reads the next piece of the file, resampled where needed.
  bool fill() {
    pos_ = len_ = 0;
    for (;;) {
      if (in_used_ == in_len_ && !ended_) {
        const int frames = static_cast<int>(sf_readf_float(f_, in_.data(), kChunk));
        in_len_ = frames > 0 ? frames : 0;
        in_used_ = 0;
        ended_ = frames <= 0;
        for (int i = 0; i < in_len_; i++)
          mono_[i] = channel_ < 0 ? mixed(i) : in_[i * info_.channels + channel_];
      }
      if (!src_) {
        len_ = in_len_ - in_used_;
        in_used_ = in_len_;
        if (len_ > 0) return true;
        if (ended_) return false;
        continue;
      }
      if (flushed_) return false;
      SRC_DATA d{};
      d.data_in = mono_.data() + in_used_;
      d.input_frames = in_len_ - in_used_;
      d.data_out = resampled_.data();
      d.output_frames = static_cast<long>(resampled_.size());
      d.src_ratio = static_cast<double>(samplefreq) / info_.samplerate;
      d.end_of_input = ended_ ? 1 : 0;
      if (src_process(src_, &d) != 0) return false;
      in_used_ += static_cast<int>(d.input_frames_used);
      len_ = static_cast<int>(d.output_frames_gen);
      // Once the input has ended, a call that gives nothing has flushed all.
      if (ended_ && len_ == 0) flushed_ = true;
      if (len_ > 0) return true;
    }
  }

  SNDFILE* f_;
  SF_INFO info_;
  int channel_;  // from 0; -1 mixes all channels
  std::vector<float> in_, mono_, resampled_;
  SRC_STATE* src_ = nullptr;
  int pos_ = 0, len_ = 0;         // the samples ready to hand out
  int in_used_ = 0, in_len_ = 0;  // the input frames read and not yet converted
  bool ended_ = false, flushed_ = false;
};

// Raw S16LE from a stream. With `keep`, its first seconds are kept so that
// the gain can be measured on them and the stream still be decoded from its
// start: until the rewind the stream seems to end where the kept part ends.
class RawSource : public AudioSource {
 public:
  RawSource(FILE* f, bool keep) : f_(f), keeping_(keep) {}
  int read(double* out, int n) override {
    int got = 0;
    while (got < n && replay_ < replay_end_)
      out[got++] = kept_[replay_++];
    if (keeping_) n = static_cast<int>(std::min<std::size_t>(n, got + (kKeep - kept_.size())));
    while (got < n) {
      const int lo = std::fgetc(f_);
      if (lo == EOF) break;
      const int hi = std::fgetc(f_);
      if (hi == EOF) break;  // a lone last byte is dropped
      const double x = static_cast<signed char>(hi) * 256 + lo;
      if (keeping_) kept_.push_back(x);
      out[got++] = x;
    }
    return got;
  }
  bool rewind() override {
    if (!keeping_) return false;
    keeping_ = false;
    replay_ = 0;
    replay_end_ = kept_.size();
    return true;
  }
  long long length() const override { return -1; }

 private:
  static constexpr std::size_t kKeep = 10 * samplefreq;
  FILE* f_;
  std::vector<double> kept_;
  std::size_t replay_ = 0, replay_end_ = 0;  // the kept samples still to hand out again
  bool keeping_;
};

std::string json_escape(const std::string& s) {
  std::string e;
  for (char c : s) {
    if (c == '"' || c == '\\') e.push_back('\\');
    e.push_back(c);
  }
  return e;
}

// What the engine decodes as it comes: in events format one JSON line per
// string; the calls found become spots (once per call and frequency in ten
// minutes), as lines on standard output, to the spot server, and as events.
class Happenings : public EngineSink {
 public:
  Happenings(const DecodeSettings& s, FILE* out)
      : s_(s), out_(out), start_utc_(static_cast<std::int64_t>(std::time(nullptr))) {}
  void event(const EngineEvent& e) override {
    const double t = static_cast<double>(e.sample) / s_.rate;
    if (e.is_call) {
      spot(e, t);
      return;
    }
    if (s_.format != DecodeSettings::kEvents) return;
    if (s_.receiver == ReceiverKind::kClassic) {
      std::fprintf(out_, "{\"t\": %.3f, \"center_hz\": %d, \"cpm\": %d, \"text\": \"%s\"}\n", t,
                   e.center_hz, e.cpm, json_escape(e.text).c_str());
    } else {
      std::fprintf(out_,
                   "{\"t\": %.3f, \"center_hz\": %d, \"cpm\": %d, \"wpm\": %d, \"snr_db\": %.0f, "
                   "\"text\": \"%s\"}\n",
                   t, e.center_hz, e.cpm, e.wpm, e.snr_db, json_escape(e.text).c_str());
    }
    std::fflush(out_);
  }

 private:
  void spot(const EngineEvent& e, double t) {
    spots::Spot sp;
    sp.call = e.call.call;
    sp.freq_hz = spots::radio_hz(s_.spots.dial_khz, s_.spots.sideband, e.tone_hz);
    sp.snr_db = static_cast<int>(std::lround(e.snr_db));
    sp.wpm = e.wpm;
    sp.type = e.call.type;
    // The time of the audio: the start plus how far into it the call was
    // heard, so that a recording decoded faster than real time keeps its
    // ten-minute windows (for a live stream this is the clock).
    sp.utc = start_utc_ + static_cast<std::int64_t>(t);
    if (!dedup_.admit(sp.call, sp.freq_hz, sp.utc)) return;
    const std::string line = spots::spot_line(s_.spots.spotter, sp);
    if (s_.spots.publisher) s_.spots.publisher->publish(line);
    if (s_.format == DecodeSettings::kEvents) {
      std::fprintf(out_,
                   "{\"t\": %.3f, \"center_hz\": %d, \"freq_khz\": %.1f, \"call\": \"%s\", "
                   "\"spot_type\": \"%s\", \"snr_db\": %d, \"wpm\": %d}\n",
                   t, e.center_hz, sp.freq_hz / 1000.0, json_escape(sp.call).c_str(),
                   spots::type_name(sp.type), sp.snr_db, sp.wpm);
      std::fflush(out_);
    } else if (s_.spots.print && s_.format == DecodeSettings::kText) {
      std::fprintf(out_, "%s\n", line.c_str());
      std::fflush(out_);
    }
  }

  const DecodeSettings& s_;
  FILE* out_;
  std::int64_t start_utc_;  // when decoding began, seconds since 1970 UTC
  spots::SpotDedup dedup_;
};

// Seconds into the recording as [hh:mm:ss.s].
std::string timestamp(double t) {
  const long tenths = std::lround(std::max(t, 0.0) * 10);
  char b[32];
  std::snprintf(b, sizeof b, "[%02ld:%02ld:%02ld.%ld]", tenths / 36000, tenths / 600 % 60,
                tenths / 10 % 60, tenths % 10);
  return b;
}

}  // namespace

// A two-channel file read as I/Q pairs at its own rate.
class IqFile : public IqSource {
 public:
  IqFile(SNDFILE* f, const SF_INFO& info) : f_(f), info_(info) {}
  ~IqFile() override { sf_close(f_); }
  int read(double* out, int n) override {
    if (interrupted()) return 0;
    const sf_count_t got = sf_readf_double(f_, out, n);
    for (sf_count_t i = 0; i < 2 * got; i++)
      out[i] *= 32768.0;
    return static_cast<int>(got);
  }
  long long length() const override { return info_.frames; }
  int rate() const override { return info_.samplerate; }

 private:
  SNDFILE* f_;
  SF_INFO info_;
};

// Raw stereo S16LE pairs from a stream.
class RawIq : public IqSource {
 public:
  explicit RawIq(FILE* f) : f_(f) {}
  int read(double* out, int n) override {
    const std::size_t got = std::fread(buf_, 4, static_cast<std::size_t>(std::min(n, kMax)), f_);
    for (std::size_t i = 0; i < 2 * got; i++) {
      const auto lo = static_cast<unsigned char>(buf_[2 * i]);
      const auto hi = static_cast<signed char>(buf_[2 * i + 1]);
      out[i] = hi * 256 + lo;
    }
    return static_cast<int>(got);
  }
  long long length() const override { return -1; }
  int rate() const override { return samplefreq; }

 private:
  static constexpr int kMax = 4096;
  FILE* f_;
  char buf_[4 * kMax];
};

Opened<IqSource> open_iq_recording(const std::string& path) {
  Opened<IqSource> o;
  std::string& error = o.error;
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) {
    error = std::string("not audio that can be read (") + sf_strerror(nullptr) + ")";
    return o;
  }
  if (info.channels != 2) {
    sf_close(f);
    error = "I/Q needs two channels (it has " + std::to_string(info.channels) + ")";
    return o;
  }
  o.source = std::make_unique<IqFile>(f, info);
  return o;
}

std::unique_ptr<IqSource> open_raw_iq(FILE* f) {
  return std::make_unique<RawIq>(f);
}

Opened<AudioSource> open_recording(const std::string& path, int channel) {
  Opened<AudioSource> o;
  std::string& error = o.error;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    error = std::strerror(errno);
    return o;
  }
  if (S_ISDIR(st.st_mode)) {
    error = "is a directory";
    return o;
  }
  if (st.st_size == 0) {
    error = "empty file";
    return o;
  }
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) {
    error = std::string("not audio that can be read (") + sf_strerror(nullptr) + ")";
    return o;
  }
  if (info.frames <= 0 || info.samplerate <= 0) {
    sf_close(f);
    error = "no audio in it";
    return o;
  }
  if (channel < 0 || channel > info.channels) {
    sf_close(f);
    error = "has no channel " + std::to_string(channel) + " (it has " +
            std::to_string(info.channels) + ")";
    return o;
  }
  o.source = std::make_unique<SndSource>(f, info, channel - 1);
  return o;
}

std::unique_ptr<AudioSource> sndfile_source(SNDFILE* f, const SF_INFO& info, int channel) {
  return std::make_unique<SndSource>(f, info, channel);
}

std::unique_ptr<AudioSource> open_raw(FILE* f, bool keep_start) {
  return std::make_unique<RawSource>(f, keep_start);
}

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

template <typename Source>
std::vector<ClusterResult> decode_frames(Source& src, const DecodeSettings& s, FILE* out) {
  EngineSettings es;
  es.receiver = s.receiver;
  es.centerfreq = s.centerfreq;
  es.centres = s.centres.empty() ? nine_around(s.centerfreq) : s.centres;
  es.rate = s.rate;
  es.iq = s.iq;
  es.threads = s.threads;
  // Text is kept only for the summary: events and spot lines go out as they
  // come, and a stream may run for days.
  es.keep_text =
      s.format != DecodeSettings::kEvents && !(s.spots.print && s.format == DecodeSettings::kText);
  es.find_calls = s.receiver == ReceiverKind::kFine;
  Engine engine(es);
  Happenings happenings(s, out);
  const int per_frame = s.iq ? 2 : 1;
  std::vector<double> in(static_cast<std::size_t>(Engine::kBatch * per_frame));
  const long long total = src.length();
  long long pos = 0;
  int shown = -1;
  // After the end of the input, silence: the last character ends only when
  // its gap has reached the end-of-character length, behind the receiver's
  // smoothing.
  long long tail = static_cast<long long>(s.tail * s.rate);
  for (int n;; pos += n) {
    n = src.read(in.data(), Engine::kBatch);
    if (n <= 0) {
      engine.input_ended();
      if (tail <= 0) break;
      n = static_cast<int>(std::min<long long>(Engine::kBatch, tail));
      std::fill(in.begin(), in.begin() + n * per_frame, 0.0);
      tail -= n;
    }
    if (s.receiver == ReceiverKind::kClassic)
      for (int k = 0; k < n; k++)
        in[static_cast<std::size_t>(k)] *= s.gain;
    engine.feed(in.data(), n, &happenings);
    if (s.progress && total > 0) {
      const int pct = static_cast<int>(100 * std::min(pos + n, total) / total);
      if (pct != shown) {
        shown = pct;
        std::fprintf(stderr, "\r[%-40.*s] %3d%%", pct * 40 / 100,
                     "########################################", pct);
      }
    }
  }
  engine.finish(&happenings);
  if (s.progress && total > 0) std::fputs("\n", stderr);
  return engine.results();
}

}  // namespace

std::vector<ClusterResult> decode_recording(AudioSource& src, const DecodeSettings& s, FILE* out) {
  return decode_frames(src, s, out);
}

std::vector<ClusterResult> decode_iq(IqSource& src, const DecodeSettings& s, FILE* out) {
  return decode_frames(src, s, out);
}

std::string format_results(const std::vector<ClusterResult>& all, const DecodeSettings& s,
                           bool timestamps) {
  std::string o;
  char buf[200];
  const bool fine = s.receiver == ReceiverKind::kFine;
  std::vector<ClusterResult> res = all;
  if (fine) {
    drop_neighbour_copies(res);
    std::erase_if(res, [](const ClusterResult& c) { return c.text.empty(); });
  }
  if (s.format == DecodeSettings::kJson) {
    o = "{\"clusters\": [";
    for (std::size_t i = 0; i < res.size(); i++) {
      if (fine)
        std::snprintf(
            buf, sizeof buf,
            "%s{\"center_hz\": %d, \"cpm\": %d, \"wpm\": %d, \"snr_db\": %.0f, \"text\": \"",
            i ? ", " : "", res[i].center_hz, res[i].cpm, res[i].wpm, res[i].snr_db);
      else
        std::snprintf(buf, sizeof buf,
                      "%s{\"center_hz\": %d, \"cpm\": %d, \"wpm\": %d, \"text\": \"", i ? ", " : "",
                      res[i].center_hz, res[i].cpm, res[i].cpm / 5);
      o += buf + json_escape(res[i].text) + "\"}";
    }
    return o + "]}\n";
  }
  for (const auto& c : res) {
    if (c.text.empty()) continue;
    if (timestamps) o += timestamp(c.first_t) + " ";
    if (fine)
      std::snprintf(buf, sizeof buf, "%6d Hz %3d wpm %3.0f dB  ", c.center_hz, c.wpm, c.snr_db);
    else
      std::snprintf(buf, sizeof buf, "%5d Hz %4d cpm  ", c.center_hz, c.cpm);
    o += buf + c.text + "\n";
  }
  return o;
}

}  // namespace talvo
