// The skimmer's spotter: takes the calls the decoder heard, lets the spot
// judge decide which become spots (enough copies, a valid prefix, no better
// supported rival, once per call and frequency in ten minutes, re-spotted
// while still calling; see judge.h), hands each spot's line to the spot
// publisher (the telnet server, behind a seam so that tests can see every
// line) and gives it back to the caller to print.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "spots/call_book.h"
#include "spots/call_finder.h"
#include "spots/judge.h"
#include "spots/spot.h"

namespace talvo::spots {

// Where spot lines go besides standard output.
class SpotPublisher {
 public:
  virtual ~SpotPublisher() = default;
  virtual void publish(const std::string& line) = 0;
  // The line with the spot it was made of (for its date and fields); by
  // default the line alone.
  virtual void publish_spot(const std::string& line, const Spot& /*spot*/) { publish(line); }
};

struct Heard;
struct Made;

// The radio's tuning at the moment of a spot, for a receiver whose dial
// moves (the programs read the radio; this folder does no I/O).
class DialSource {
 public:
  virtual ~DialSource() = default;
  // The tuning now; empty while it is not known (the radio has not yet
  // answered): the spot is then held back. Must not wait for the radio.
  virtual std::optional<Tuning> tuning() = 0;
};

// Where spots go as values besides their lines (the MQTT feed). Must not
// wait for the network.
class SpotSink {
 public:
  virtual ~SpotSink() = default;
  virtual void spotted(const Made& m) = 0;
};

struct SpotSettings {
  bool print = false;             // spot lines on standard output (text format)
  std::string spotter = "TALVO";  // the skimmer operator's call
  double dial_khz = 0;            // the radio's dial, kHz
  Sideband sideband = Sideband::kUsb;
  SpotPublisher* publisher = nullptr;  // the telnet server, when one runs
  const CallBook* book = nullptr;      // country file and call list; null: shape alone
  std::int64_t start_utc = 0;          // UTC of audio time 0, seconds since 1970
  DialSource* dial = nullptr;  // the radio's tuning as it moves; null: dial_khz and sideband
  SpotSink* sink = nullptr;    // the spots as values (the MQTT feed), when one runs
};

// A call as the decoder heard it.
struct Heard {
  FoundCall call;
  double tone_hz = 0;  // the audio frequency it was keyed on, Hz
  double snr_db = 0;   // signal to noise, dB
  int wpm = 0;         // speed, words per minute
  double t = 0;        // when, seconds of audio (never decreasing)
};

// A spot that went out, with its line.
struct Made {
  Spot spot;
  std::string line;  // in the DX-cluster shape, without line end
};

class Spotter {
 public:
  explicit Spotter(const SpotSettings& s) : s_(s), judge_(s.book, s.start_utc) {}
  // Hears a call: appends the spot it makes, if any, published, to `out`.
  // Returns how many it appended. With a dial source that does not know the
  // tuning yet, the call is not heard at all (its spot is held back).
  int heard(const Heard& h, std::vector<Made>& out);
  // Audio time has reached `t`: appends the re-spots due by then (calls
  // still calling ten minutes after their last spot), published, to `out`.
  // Returns how many it appended.
  int tick(double t, std::vector<Made>& out);

 private:
  int emit(std::vector<Made>& out);

  const SpotSettings& s_;
  SpotJudge judge_;
  std::vector<Spot> made_;                            // scratch
  std::unordered_map<std::string, double> audio_hz_;  // per call: its tone when last heard, Hz
};

}  // namespace talvo::spots
