// Decoding recordings: audio from a file that libsndfile reads (resampled to
// 48000 Hz with libsamplerate) or raw S16LE from standard input, through the
// same receive chain and decoder as the program's window, with an idle keyer
// and no window.
#pragma once

#include <sndfile.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

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
};

// Opens a recording. On failure returns null and sets `error` to the reason.
// `channel` counts from 1; 0 mixes all channels to one.
std::unique_ptr<AudioSource> open_recording(const std::string& path, int channel,
                                            std::string& error);
// A source over a file libsndfile has opened (it closes it). `channel`
// counts from 0; -1 mixes all channels to one.
std::unique_ptr<AudioSource> sndfile_source(SNDFILE* f, const SF_INFO& info, int channel);
// Raw S16LE mono 48 kHz from a stream. With `keep_start` its first 10 s
// can be read twice (for measure_auto_gain).
std::unique_ptr<AudioSource> open_raw(FILE* f, bool keep_start);

struct DecodeSettings {
  int centerfreq = 700;
  double gain = 1.0;
  bool auto_gain = false;
  enum Format { kText, kJson, kEvents } format = kText;
  bool progress = false;  // a progress bar on standard error
  // Seconds of silence decoded after the input, so that the last character
  // and its word space complete.
  double tail = 1.0;
};

struct ClusterResult {
  int center_hz = 0;
  int cpm = 0;
  std::string text;
  double first_t = -1;  // seconds of audio when its first character was decoded; -1 for none
};

// The input gain that brings the strongest signal of the source to the
// level the receiver decodes best at. Reads the source once and rewinds it;
// 1.0 when the source is silent.
double measure_auto_gain(AudioSource& src, int centerfreq);

// Decodes the whole source; in events format every decoded string is
// printed to `out` as it comes. Returns the nine clusters, lowest first.
std::vector<ClusterResult> decode_recording(AudioSource& src, const DecodeSettings& s, FILE* out);

// The results in text or json format; with `timestamps` each text line
// starts with the time its first character was decoded, [hh:mm:ss.s].
std::string format_results(const std::vector<ClusterResult>& r, DecodeSettings::Format f,
                           bool timestamps = false);

// The program talvo-decode; returns its exit status.
int decode_main(int argc, const char* const* argv);

}  // namespace talvo
