// The skimmer's spotter: takes the calls the decoder heard and turns each
// into a spot (once per call and frequency in ten minutes, see SpotDedup),
// hands its line to the spot publisher (the telnet server, behind a seam so
// that tests can see every line) and gives it back to the caller to print.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "spots/call_finder.h"
#include "spots/spot.h"

namespace talvo::spots {

// Where spot lines go besides standard output.
class SpotPublisher {
 public:
  virtual ~SpotPublisher() = default;
  virtual void publish(const std::string& line) = 0;
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
  virtual void spotted(const Heard& h, const Made& m) = 0;
};

struct SpotSettings {
  bool print = false;             // spot lines on standard output (text format)
  std::string spotter = "TALVO";  // the skimmer operator's call
  double dial_khz = 0;            // the radio's dial, kHz
  Sideband sideband = Sideband::kUsb;
  SpotPublisher* publisher = nullptr;  // the telnet server, when one runs
  DialSource* dial = nullptr;  // the radio's tuning as it moves; null: dial_khz and sideband
  SpotSink* sink = nullptr;    // the spots as values (the MQTT feed), when one runs
};

// A call as the decoder heard it.
struct Heard {
  FoundCall call;
  double tone_hz = 0;    // the audio frequency it was keyed on, Hz
  double snr_db = 0;     // signal to noise, dB
  int wpm = 0;           // speed, words per minute
  std::int64_t utc = 0;  // when, seconds since 1970-01-01 00:00 UTC
};

// A spot that went out, with its line.
struct Made {
  Spot spot;
  std::string line;  // in the DX-cluster shape, without line end
};

class Spotter {
 public:
  explicit Spotter(const SpotSettings& s) : s_(s) {}
  // The spot of a heard call, published; nothing when it is held back as
  // a repeat or while the dial source does not know the tuning. Its
  // frequency is the dial source's tuning at this call.
  std::optional<Made> heard(const Heard& h);

 private:
  const SpotSettings& s_;
  SpotDedup dedup_;
};

}  // namespace talvo::spots
