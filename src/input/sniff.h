// Standard input as audio: a stream that starts like a WAV, FLAC, Ogg or
// AIFF file is read as that file through libsndfile's virtual I/O (at any
// rate, resampled to 48 kHz); anything else is raw S16LE mono at 48 kHz.
//
// The stream cannot seek. While libsndfile reads the header, everything read
// is kept so that it may seek back within it (or forward, by reading on);
// after that only what has not been handed out yet is kept. A read that
// blocks returns early when SIGINT or SIGTERM asks to stop (interrupt.h).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "input/recording.h"

namespace talvo {

enum class StreamKind { kRaw, kWav, kFlac, kOgg, kAiff, kMp3, kNotAudio };

// What the first bytes of a stream say it is (12 bytes are enough for the
// file formats; fewer give kRaw). MP3 is known by its ID3 tag or by two
// MPEG audio frame headers in a row (kHeadBytes suffice). kNotAudio is
// text (kHeadBytes of printable characters, line ends and UTF-8, which raw
// audio never is) or a known file that holds no sound (gzip, bzip2, xz,
// zip, PDF, ELF, PNG, JPEG).
StreamKind sniff(const unsigned char* head, std::size_t n);
constexpr std::size_t kHeadBytes = 512;

// The name of a kind, for messages: "raw", "WAV", "FLAC", "Ogg", "AIFF",
// "MP3"; for kNotAudio what it starts like ("text", "a gzip file", ...).
const char* kind_name(StreamKind k);
// What non-audio bytes start like: "text", "a gzip file", ...
const char* not_audio_name(const unsigned char* head, std::size_t n);

struct StreamInput {
  std::unique_ptr<AudioSource> source;  // null when it cannot be read
  StreamKind kind = StreamKind::kRaw;
  std::string error;  // why not, when source is null
};

// Opens the stream on descriptor `fd`. With `force_raw` it is raw whatever
// it starts with. `channel` counts from 1; 0 mixes all channels to one. The
// source's length is -1 and it cannot rewind (a stream).
StreamInput open_stream(int fd, bool force_raw, int channel);

}  // namespace talvo
