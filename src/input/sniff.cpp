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

namespace {

// The bytes of an MPEG audio frame header at h (4 bytes), or 0 when none.
std::size_t mpeg_frame_bytes(const unsigned char* h) {
  if (h[0] != 0xff || (h[1] & 0xe0) != 0xe0) return 0;
  const int version = (h[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1; 1 is reserved
  const int layer = (h[1] >> 1) & 3;    // 1: III, 2: II, 3: I; 0 is reserved
  const int rate_index = (h[2] >> 2) & 3, bitrate_index = h[2] >> 4;
  if (version == 1 || layer == 0 || rate_index == 3 || bitrate_index == 0 || bitrate_index == 15)
    return 0;
  static const int kbps[2][3][15] = {
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
  static const int hz[3] = {44100, 48000, 32000};
  const int v1 = version == 3 ? 0 : 1;
  const int l = 3 - layer;  // 0: I, 1: II, 2: III
  const int rate = hz[rate_index] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  const long bps = kbps[v1][l][bitrate_index] * 1000L;
  const int pad = (h[2] >> 1) & 1;
  if (l == 0) return static_cast<std::size_t>((12 * bps / rate + pad) * 4);
  const long per = l == 2 && v1 ? 72 : 144;
  return static_cast<std::size_t>(per * bps / rate + pad);
}

bool mp3(const unsigned char* h, std::size_t n) {
  if (starts(h, n, 0, "ID3")) return true;
  if (n < 4) return false;
  const std::size_t len = mpeg_frame_bytes(h);
  // A second header where the first frame ends: two in a row are no accident.
  return len >= 4 && len + 4 <= n && mpeg_frame_bytes(h + len) > 0;
}

// Printable ASCII, tab and line ends, and well-formed UTF-8 sequences.
bool text(const unsigned char* h, std::size_t n) {
  for (std::size_t i = 0; i < n; i++) {
    const unsigned char c = h[i];
    if (c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c < 0x7f)) continue;
    const int more = (c & 0xe0) == 0xc0 ? 1 : (c & 0xf0) == 0xe0 ? 2 : (c & 0xf8) == 0xf0 ? 3 : -1;
    if (more < 0 || c == 0xc0 || c == 0xc1) return false;
    for (int k = 1; k <= more; k++)
      // A sequence cut by the end of the head is given the benefit.
      if (i + static_cast<std::size_t>(k) < n &&
          (h[i + static_cast<std::size_t>(k)] & 0xc0) != 0x80)
        return false;
    i += static_cast<std::size_t>(more);
  }
  return true;
}

}  // namespace

const char* not_audio_name(const unsigned char* h, std::size_t n) {
  if (n >= 2 && h[0] == 0x1f && h[1] == 0x8b) return "a gzip file";
  if (starts(h, n, 0, "BZh")) return "a bzip2 file";
  if (starts(h, n, 0,
             "\xfd"
             "7zXZ"))
    return "an xz file";
  if (starts(h, n, 0, "PK\x03\x04")) return "a zip file";
  if (starts(h, n, 0, "%PDF")) return "a PDF file";
  if (starts(h, n, 0,
             "\x7f"
             "ELF"))
    return "a program (ELF)";
  if (starts(h, n, 0, "\x89PNG")) return "a PNG image";
  if (n >= 3 && h[0] == 0xff && h[1] == 0xd8 && h[2] == 0xff) return "a JPEG image";
  if (n >= 32 && text(h, n)) return "text";
  return nullptr;
}

StreamKind sniff(const unsigned char* h, std::size_t n) {
  if ((starts(h, n, 0, "RIFF") || starts(h, n, 0, "RF64")) && starts(h, n, 8, "WAVE"))
    return StreamKind::kWav;
  if (starts(h, n, 0, "fLaC")) return StreamKind::kFlac;
  if (starts(h, n, 0, "OggS")) return StreamKind::kOgg;
  if (starts(h, n, 0, "FORM") && (starts(h, n, 8, "AIFF") || starts(h, n, 8, "AIFC")))
    return StreamKind::kAiff;
  if (mp3(h, n)) return StreamKind::kMp3;
  if (not_audio_name(h, n)) return StreamKind::kNotAudio;
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
    case StreamKind::kMp3:
      return "MP3";
    case StreamKind::kNotAudio:
      return "not audio";
    case StreamKind::kRaw:
      break;
  }
  return "raw";
}

StreamInput open_stream(int fd, bool force_raw, int channel) {
  StreamInput in;
  auto bytes = std::make_unique<ByteStream>(fd);
  if (!force_raw) {
    unsigned char head[kHeadBytes];
    const std::size_t n = bytes->read(head, sizeof head);
    in.kind = sniff(head, n);
    bytes->seek(0, SEEK_SET);
    if (in.kind == StreamKind::kNotAudio) {
      in.error = std::string("not audio: it starts like ") + not_audio_name(head, n) +
                 " (--raw reads it as raw S16LE all the same)";
      return in;
    }
  }
  if (in.kind == StreamKind::kRaw) {
    if (channel > 1) {  // raw S16LE carries one channel
      in.error = "has no channel " + std::to_string(channel) + " (it has 1)";
      return in;
    }
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
