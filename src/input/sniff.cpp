#include "input/sniff.h"

#include <poll.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "input/interrupt.h"

namespace talvo {
namespace {

// The bytes of a descriptor, with a window that can be read again.
class ByteStream {
 public:
  explicit ByteStream(int fd) : fd_(fd) {}

  // Copies up to n bytes from the current position; fewer only at the end of
  // the stream or when a stop was requested.
  std::size_t read(void* to, std::size_t n) {
    auto* p = static_cast<unsigned char*>(to);
    std::size_t got = 0;
    while (got < n) {
      if (pos_ == end() && !fill()) break;
      const std::size_t at = static_cast<std::size_t>(pos_ - base_);
      const std::size_t take = std::min(n - got, buf_.size() - at);
      std::memcpy(p + got, buf_.data() + at, take);
      pos_ += static_cast<long long>(take);
      got += take;
    }
    if (!keep_) drop_read();
    return got;
  }

  // Moves to a position: back within what is kept, forward by reading on.
  // Returns the new position, or -1.
  long long seek(long long offset, int whence) {
    long long to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? pos_ + offset : -1;
    if (to < base_) return -1;  // gone, or from the end: unknown
    // Not past what has come by more than a header's worth: a live stream
    // would have to be read to its end (a parser looking for chunks after
    // the audio) before the audio could be decoded.
    if (to > end() + kMaxSkip) return -1;
    while (to > end() && fill()) {
    }
    pos_ = std::min(to, end());
    return pos_ == to ? pos_ : -1;
  }

  long long tell() const { return pos_; }

  // From now on, bytes once read are let go.
  void stop_keeping() {
    keep_ = false;
    drop_read();
  }

 private:
  static constexpr long long kMaxSkip = 1 << 16;  // bytes a seek may skip ahead

  long long end() const { return base_ + static_cast<long long>(buf_.size()); }

  void drop_read() {
    const auto done = static_cast<std::size_t>(pos_ - base_);
    if (done < (1u << 16)) return;  // in pieces, not a move per read
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(done));
    base_ = pos_;
  }

  // Appends what the descriptor has next; false at its end, on an error, or
  // when a stop was requested.
  bool fill() {
    if (ended_) return false;
    unsigned char chunk[1 << 14];
    for (;;) {
      if (interrupted()) return false;
      pollfd p[2] = {{fd_, POLLIN, 0}, {interrupt_fd(), POLLIN, 0}};
      const int ready = poll(p, p[1].fd >= 0 ? 2 : 1, -1);
      if (ready < 0) {
        if (errno == EINTR) continue;
        ended_ = true;
        return false;
      }
      if (p[1].fd >= 0 && p[1].revents) continue;  // the loop top sees the request
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n > 0) {
        buf_.insert(buf_.end(), chunk, chunk + n);
        return true;
      }
      if (n < 0 && errno == EINTR) continue;
      ended_ = true;
      return false;
    }
  }

  int fd_;
  std::vector<unsigned char> buf_;  // bytes from stream offset base_ on
  long long base_ = 0;              // stream offset of buf_[0], bytes
  long long pos_ = 0;               // current stream offset, bytes
  bool keep_ = true;                // keep what was read (for seeking back)
  bool ended_ = false;
};

// Raw S16LE from the stream.
class RawStreamSource : public AudioSource {
 public:
  explicit RawStreamSource(std::unique_ptr<ByteStream> s) : s_(std::move(s)) { s_->stop_keeping(); }
  int read(double* out, int n) override {
    n = std::min(n, kMax);
    const std::size_t bytes = pending_ + s_->read(raw_ + pending_, 2 * n - pending_);
    const int got = static_cast<int>(bytes / 2);
    for (int i = 0; i < got; i++)
      out[i] = static_cast<signed char>(raw_[2 * i + 1]) * 256 + raw_[2 * i];
    // A lone byte waits for its partner (dropped at the end).
    pending_ = bytes % 2;
    if (pending_) raw_[0] = raw_[bytes - 1];
    return got;
  }
  bool rewind() override { return false; }
  long long length() const override { return -1; }

 private:
  static constexpr int kMax = 4096;
  std::unique_ptr<ByteStream> s_;
  unsigned char raw_[2 * kMax];
  std::size_t pending_ = 0;  // a byte read ahead of its sample
};

// A file format on the stream, through libsndfile.
class SndStreamSource : public AudioSource {
 public:
  SndStreamSource(std::unique_ptr<ByteStream> s, std::unique_ptr<AudioSource> file)
      : s_(std::move(s)), file_(std::move(file)) {}
  int read(double* out, int n) override { return file_->read(out, n); }
  bool rewind() override { return false; }
  long long length() const override { return -1; }
  int native_rate() const override { return file_->native_rate(); }

 private:
  std::unique_ptr<ByteStream> s_;  // outlives the file reading it
  std::unique_ptr<AudioSource> file_;
};

// libsndfile's view of the stream. Its length is unknown: it is given as
// far beyond anything a header may claim, so the header's sizes hold and a
// stream written without them reads to its end.
constexpr sf_count_t kUnknownLength = sf_count_t{1} << 50;

sf_count_t vio_length(void*) {
  return kUnknownLength;
}
sf_count_t vio_seek(sf_count_t offset, int whence, void* user) {
  return static_cast<ByteStream*>(user)->seek(offset, whence);
}
sf_count_t vio_read(void* ptr, sf_count_t count, void* user) {
  return static_cast<sf_count_t>(
      static_cast<ByteStream*>(user)->read(ptr, static_cast<std::size_t>(count)));
}
sf_count_t vio_write(const void*, sf_count_t, void*) {
  return 0;
}
sf_count_t vio_tell(void* user) {
  return static_cast<ByteStream*>(user)->tell();
}

bool starts(const unsigned char* head, std::size_t n, std::size_t at, const char* magic) {
  const std::size_t len = std::strlen(magic);
  return n >= at + len && std::memcmp(head + at, magic, len) == 0;
}

}  // namespace

StreamKind sniff(const unsigned char* h, std::size_t n) {
  if ((starts(h, n, 0, "RIFF") || starts(h, n, 0, "RF64")) && starts(h, n, 8, "WAVE"))
    return StreamKind::kWav;
  if (starts(h, n, 0, "fLaC")) return StreamKind::kFlac;
  if (starts(h, n, 0, "OggS")) return StreamKind::kOgg;
  if (starts(h, n, 0, "FORM") && (starts(h, n, 8, "AIFF") || starts(h, n, 8, "AIFC")))
    return StreamKind::kAiff;
  return StreamKind::kRaw;
}

const char* kind_name(StreamKind k) {
  switch (k) {
    case StreamKind::kWav:
      return "WAV";
    case StreamKind::kFlac:
      return "FLAC";
    case StreamKind::kOgg:
      return "Ogg";
    case StreamKind::kAiff:
      return "AIFF";
    case StreamKind::kRaw:
      break;
  }
  return "raw";
}

StreamInput open_stream(int fd, bool force_raw, int channel) {
  StreamInput in;
  auto bytes = std::make_unique<ByteStream>(fd);
  if (!force_raw) {
    unsigned char head[12];
    const std::size_t n = bytes->read(head, sizeof head);
    in.kind = sniff(head, n);
    bytes->seek(0, SEEK_SET);
  }
  if (in.kind == StreamKind::kRaw) {
    in.source = std::make_unique<RawStreamSource>(std::move(bytes));
    return in;
  }
  SF_VIRTUAL_IO vio{vio_length, vio_seek, vio_read, vio_write, vio_tell};
  SF_INFO info{};
  SNDFILE* f = sf_open_virtual(&vio, SFM_READ, &info, bytes.get());
  if (!f) {
    in.error = std::string("a ") + kind_name(in.kind) + " stream that cannot be read (" +
               sf_strerror(nullptr) + ")";
    return in;
  }
  if (info.samplerate <= 0 || info.channels <= 0) {
    sf_close(f);
    in.error = std::string("a ") + kind_name(in.kind) + " stream without audio";
    return in;
  }
  if (channel < 0 || channel > info.channels) {
    sf_close(f);
    in.error = "has no channel " + std::to_string(channel) + " (it has " +
               std::to_string(info.channels) + ")";
    return in;
  }
  bytes->stop_keeping();
  auto file = sndfile_source(f, info, channel - 1);
  in.source = std::make_unique<SndStreamSource>(std::move(bytes), std::move(file));
  return in;
}

}  // namespace talvo
