#include "input/recording.h"

#include <samplerate.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "input/interrupt.h"
#include "input/replay.h"

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

// Raw S16LE from a stream (ReplayStart keeps its start to be read twice).
class RawSource : public AudioSource {
 public:
  explicit RawSource(FILE* f) : f_(f) {}
  int read(double* out, int n) override {
    int got = 0;
    while (got < n) {
      const int lo = std::fgetc(f_);
      if (lo == EOF) break;
      const int hi = std::fgetc(f_);
      if (hi == EOF) break;  // a lone last byte is dropped
      out[got++] = static_cast<signed char>(hi) * 256 + lo;
    }
    return got;
  }
  bool rewind() override { return false; }
  long long length() const override { return -1; }

 private:
  FILE* f_;
};

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

// Raw I/Q pairs from a stream, in any of the formats.
class RawIq : public IqSource {
 public:
  RawIq(FILE* f, IqFormat format, int rate) : f_(f), format_(format), rate_(rate) {}
  int read(double* out, int n) override {
    if (interrupted()) return 0;
    const std::size_t size = format_ == IqFormat::kU8 ? 2 : format_ == IqFormat::kS16 ? 4 : 8;
    const std::size_t got = std::fread(buf_, size, static_cast<std::size_t>(std::min(n, kMax)), f_);
    const auto* b = reinterpret_cast<const unsigned char*>(buf_);
    for (std::size_t i = 0; i < 2 * got; i++) {
      if (format_ == IqFormat::kU8) {
        out[i] = (b[i] - 127.5) * 256.0;
      } else if (format_ == IqFormat::kS16) {
        out[i] = static_cast<signed char>(b[2 * i + 1]) * 256 + b[2 * i];
      } else {
        const std::uint32_t u = static_cast<std::uint32_t>(b[4 * i]) |
                                static_cast<std::uint32_t>(b[4 * i + 1]) << 8 |
                                static_cast<std::uint32_t>(b[4 * i + 2]) << 16 |
                                static_cast<std::uint32_t>(b[4 * i + 3]) << 24;
        float v = 0;
        std::memcpy(&v, &u, sizeof v);
        out[i] = std::isfinite(v) ? v * 32768.0 : 0.0;
      }
    }
    return static_cast<int>(got);
  }
  long long length() const override { return -1; }
  int rate() const override { return rate_; }

 private:
  static constexpr int kMax = 4096;
  FILE* f_;
  IqFormat format_;
  int rate_;  // pairs a second
  char buf_[8 * kMax];
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

std::unique_ptr<IqSource> open_raw_iq(FILE* f, IqFormat format, int rate) {
  return std::make_unique<RawIq>(f, format, rate);
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
  auto raw = std::make_unique<RawSource>(f);
  if (keep_start) return std::make_unique<ReplayStart>(std::move(raw));
  return raw;
}

}  // namespace talvo
