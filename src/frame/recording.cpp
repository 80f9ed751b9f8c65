#include "frame/recording.h"

#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include <cmath>
#include <ctime>

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

// The decoded strings, kept per cluster and, in events format, printed
// with the time of the sample on which they were decoded.
class Report : public DecoderOutput, public WalkSteps {
 public:
  Report(const FrontEnd& fe, FILE* out, bool events)
      : fe_(fe),
        out_(out),
        events_(events),
        text_(static_cast<std::size_t>(fe.clusters())),
        first_(static_cast<std::size_t>(fe.clusters()), -1.0) {}
  void print(const ClusterDecoder& d, int q, const char* s) override {
    const double t = static_cast<double>(block_start + k_ + 1) / samplefreq;
    if (first(q) < 0 && s[std::strspn(s, " ")] != '\0') first(q) = t;
    // Streamed strings are not kept: a stream may run for days.
    if (!events_) {
      text_[static_cast<std::size_t>(q)] += s;
      return;
    }
    std::fprintf(out_, "{\"t\": %.3f, \"center_hz\": %d, \"cpm\": %d, \"text\": \"%s\"}\n", t,
                 fe_.centre_hz(q), d.speed, json_escape(s).c_str());
    std::fflush(out_);
  }
  bool before_keys(int k) override {
    k_ = k;
    return true;
  }
  static std::string json_escape(const std::string& s) {
    std::string e;
    for (char c : s) {
      if (c == '"' || c == '\\') e.push_back('\\');
      e.push_back(c);
    }
    return e;
  }
  const std::string& text(int q) const { return text_[static_cast<std::size_t>(q)]; }
  // When cluster q decoded its first character other than a blank, seconds; -1 before.
  double& first(int q) { return first_[static_cast<std::size_t>(q)]; }
  long long block_start = 0;  // samples before the block being walked

 private:
  const FrontEnd& fe_;
  FILE* out_;
  bool events_;
  int k_ = 0;  // the sample of the block being walked
  std::vector<std::string> text_;
  std::vector<double> first_;
};

std::string trim(const std::string& s) {
  const std::size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// Seconds into the recording as [hh:mm:ss.s].
std::string timestamp(double t) {
  const long tenths = std::lround(std::max(t, 0.0) * 10);
  char b[32];
  std::snprintf(b, sizeof b, "[%02ld:%02ld:%02ld.%ld]", tenths / 36000, tenths / 600 % 60,
                tenths / 10 % 60, tenths % 10);
  return b;
}

}  // namespace

std::unique_ptr<AudioSource> open_recording(const std::string& path, int channel,
                                            std::string& error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) {
    error = "is a directory";
    return nullptr;
  }
  if (st.st_size == 0) {
    error = "empty file";
    return nullptr;
  }
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) {
    error = std::string("not audio that can be read (") + sf_strerror(nullptr) + ")";
    return nullptr;
  }
  if (info.frames <= 0 || info.samplerate <= 0) {
    sf_close(f);
    error = "no audio in it";
    return nullptr;
  }
  if (channel < 0 || channel > info.channels) {
    sf_close(f);
    error = "has no channel " + std::to_string(channel) + " (it has " +
            std::to_string(info.channels) + ")";
    return nullptr;
  }
  return std::make_unique<SndSource>(f, info, channel - 1);
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

std::vector<ClusterResult> decode_recording(AudioSource& src, const DecodeSettings& s, FILE* out) {
  ClassicFrontEnd fe(s.centerfreq);
  Decoder dec = decoder_for(fe, Rules::kClassic, 100);
  Report report(fe, out, s.format == DecodeSettings::kEvents);
  std::vector<double> in(kBlock);
  const long long total = src.length();
  long long pos = 0;
  int shown = -1;
  // After the end of the input, silence: the last character ends only when
  // its gap has reached the end-of-character length, behind the receiver's
  // 0.2 s of smoothing.
  long long tail = static_cast<long long>(s.tail * samplefreq);
  for (int n;; pos += n) {
    n = src.read(in.data(), kBlock);
    if (n <= 0) {
      if (tail <= 0) break;
      n = static_cast<int>(std::min<long long>(kBlock, tail));
      std::fill(in.begin(), in.begin() + n, 0.0);
      tail -= n;
    }
    for (int k = 0; k < n; k++)
      in[k] *= s.gain;
    report.block_start = pos;
    walk_block(fe, dec, in.data(), n, report, report);
    if (s.progress && total > 0) {
      const int pct = static_cast<int>(100 * std::min(pos + n, total) / total);
      if (pct != shown) {
        shown = pct;
        std::fprintf(stderr, "\r[%-40.*s] %3d%%", pct * 40 / 100,
                     "########################################", pct);
      }
    }
  }
  dec.flush(report);
  if (s.progress && total > 0) std::fputs("\n", stderr);
  std::vector<ClusterResult> res;
  for (int q = 0; q < fe.clusters(); q++)
    res.push_back({fe.centre_hz(q), dec[q].speed, trim(report.text(q)), report.first(q)});
  return res;
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
        std::snprintf(buf, sizeof buf,
                      "%s{\"center_hz\": %d, \"cpm\": %d, \"wpm\": %d, \"snr_db\": %.0f, \"text\": \"",
                      i ? ", " : "", res[i].center_hz, res[i].cpm, res[i].wpm, res[i].snr_db);
      else
        std::snprintf(buf, sizeof buf, "%s{\"center_hz\": %d, \"cpm\": %d, \"wpm\": %d, \"text\": \"",
                      i ? ", " : "", res[i].center_hz, res[i].cpm, res[i].cpm / 5);
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
