// Audio to decode: a file that libsndfile reads (resampled to 48000 Hz with
// libsamplerate), raw S16LE from a stream, or I/Q pairs from a two-channel
// recording or a raw stereo stream.
#pragma once

#include <sndfile.h>

#include <cstdio>
#include <memory>
#include <string>

#include "rx/chanarray.h"
#include "util/opened.h"

namespace talvo {

// 48 kHz mono samples in signed 16-bit units, from wherever they come.
class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // Fills up to n samples; returns how many (0 at the end).
  virtual int read(double* out, int n) = 0;
  // Starts again from the beginning; false where the source cannot.
  virtual bool rewind() = 0;
  // Total length in samples at 48 kHz, or -1 when unknown (a stream).
  virtual long long length() const = 0;
  // The rate the audio had before it was resampled to 48 kHz: the highest
  // frequency it carries is half of it.
  virtual int native_rate() const { return samplefreq; }
};

// I/Q input for SDR users: two channels, in-phase and quadrature, read as
// interleaved pairs at the recording's own rate (read(out, n) fills n
// pairs, 2n values; length and rate count pairs).
class IqSource {
 public:
  virtual ~IqSource() = default;
  virtual int read(double* out, int n) = 0;
  virtual long long length() const = 0;
  virtual int rate() const = 0;
};

// A two-channel recording as I/Q, or why it cannot be read.
Opened<IqSource> open_iq_recording(const std::string& path);
// How raw I/Q pairs come on a stream: signed 16-bit little-endian, unsigned
// 8-bit (offset 127.5, as rtl_sdr writes them) or 32-bit little-endian float
// (full scale 1, as csdr writes them). Every format is read in 16-bit
// sample units (full scale 32768).
enum class IqFormat { kS16, kU8, kF32 };
// Raw I/Q pairs from a stream, `rate` pairs a second.
std::unique_ptr<IqSource> open_raw_iq(FILE* f, IqFormat format = IqFormat::kS16,
                                      int rate = samplefreq);

// Opens a recording, or says why it cannot be read. `channel` counts from
// 1; 0 mixes all channels to one.
Opened<AudioSource> open_recording(const std::string& path, int channel);
// A source over a file libsndfile has opened (it closes it). `channel`
// counts from 0; -1 mixes all channels to one.
std::unique_ptr<AudioSource> sndfile_source(SNDFILE* f, const SF_INFO& info, int channel);
// Raw S16LE mono 48 kHz from a stream. With `keep_start` its first 10 s
// can be read twice (for measure_auto_gain).
std::unique_ptr<AudioSource> open_raw(FILE* f, bool keep_start);

}  // namespace talvo
