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

#include "engine/engine.h"
#include "rx/chanarray.h"
#include "spots/spot.h"
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
// Raw stereo S16LE at 48 kHz from a stream as I/Q.
std::unique_ptr<IqSource> open_raw_iq(FILE* f);

// Opens a recording, or says why it cannot be read. `channel` counts from
// 1; 0 mixes all channels to one.
Opened<AudioSource> open_recording(const std::string& path, int channel);
// A source over a file libsndfile has opened (it closes it). `channel`
// counts from 0; -1 mixes all channels to one.
std::unique_ptr<AudioSource> sndfile_source(SNDFILE* f, const SF_INFO& info, int channel);
// Raw S16LE mono 48 kHz from a stream. With `keep_start` its first 10 s
// can be read twice (for measure_auto_gain).
std::unique_ptr<AudioSource> open_raw(FILE* f, bool keep_start);

// Where spot lines go besides standard output: the telnet server, behind a
// seam so that tests can see every line.
class SpotPublisher {
 public:
  virtual ~SpotPublisher() = default;
  virtual void publish(const std::string& line) = 0;
};

struct SpotSettings {
  bool print = false;             // spot lines on standard output (text format)
  std::string spotter = "TALVO";  // the skimmer operator's call
  double dial_khz = 0;            // the radio's dial
  spots::Sideband sideband = spots::Sideband::kUsb;
  SpotPublisher* publisher = nullptr;  // the telnet server, when one runs
};

struct DecodeSettings {
  ReceiverKind receiver = ReceiverKind::kClassic;
  int centerfreq = 700;      // classic: the centre of the nine clusters
  std::vector<int> centres;  // fine: the clusters (empty: nine around centerfreq)
  int rate = samplefreq;     // input frames per second (I/Q files keep their own)
  bool iq = false;           // fine: the input is I/Q pairs
  int threads = 1;           // threads decoding side by side (fine)
  double gain = 1.0;         // classic: input gain
  bool auto_gain = false;    // classic: the gain was measured
  enum Format { kText, kJson, kEvents } format = kText;
  bool progress = false;  // a progress bar on standard error
  // Seconds of silence decoded after the input, so that the last character
  // and its word space complete.
  double tail = 1.0;
  SpotSettings spots;  // fine: calls picked out of the text and spotted
};

// The input gain that brings the strongest signal of the source to the
// level the receiver decodes best at. Reads the source once and rewinds it;
// 1.0 when the source is silent.
double measure_auto_gain(AudioSource& src, int centerfreq);

// Decodes the whole source; in events format every decoded string is
// printed to `out` as it comes, and spots as they are made. Returns every
// cluster, lowest first. Throws std::invalid_argument for clusters the
// receiver cannot serve.
std::vector<ClusterResult> decode_recording(AudioSource& src, const DecodeSettings& s, FILE* out);
// The same for I/Q input (s.iq set, s.rate the source's rate).
std::vector<ClusterResult> decode_iq(IqSource& src, const DecodeSettings& s, FILE* out);

// The results in text or json format; with `timestamps` each text line
// starts with the time its first character was decoded, [hh:mm:ss.s]. The
// fine receiver lists only the clusters that decoded something (a station
// in two neighbouring clusters once, where it is strongest), with speed in
// words per minute and signal-to-noise ratio.
std::string format_results(const std::vector<ClusterResult>& r, const DecodeSettings& s,
                           bool timestamps = false);

// The program talvo-decode; returns its exit status.
int decode_main(int argc, const char* const* argv);

}  // namespace talvo
