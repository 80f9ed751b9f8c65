// The decoding engine of talvo-decode: a stream of samples through a front
// end and the decoders of all its clusters, spread over threads, with what
// they decode handed out in time order.
//
// The clusters are split into even groups of at most kGroupClusters neighbours,
// each group with a front end (which also runs the nearest clusters of the
// groups beside it, to guard against their stations) and decoders of its own,
// built by the receiver factory (receivers.h); the split depends on the
// clusters alone, never on the number of threads, so that any number of
// threads gives the very same output. The input comes in batches; every
// thread walks its groups over the batch, and then the engine merges what
// the groups decoded (strings, and calls found in them) by sample and
// cluster and hands it to the caller's EngineSink on the calling thread.
// A cluster's first strings, which the fine decoder holds back until it
// judges the cluster's signal Morse, keep the time they were decoded: they
// come out in a later batch, dated before the events handed out already.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/receivers.h"
#include "spots/call_finder.h"

namespace talvo {

class FineFrontEnd;

struct EngineSettings {
  ReceiverKind receiver = ReceiverKind::kFine;
  int centerfreq = 700;      // classic: the centre of its nine clusters, Hz
  std::vector<int> centres;  // fine: the cluster centres, Hz, ascending, 50 Hz apart
  int rate = 48000;          // input frames per second
  int native_rate = 0;       // fine: frames per second before resampling (0: rate)
  bool iq = false;           // fine: input frames are I/Q pairs
  double gain = 1.0;         // classic: input gain (the fine front end needs none)
  int threads = 1;           // threads decoding side by side
  bool keep_text = true;     // keep each cluster's text for the summary
  bool find_calls = false;   // pick callsigns out of each cluster's text
};

// One cluster as the summary shows it.
struct ClusterResult {
  int center_hz = 0;
  int cpm = 0;          // speed, characters per minute
  int wpm = 0;          // speed, words per minute
  double snr_db = 0;    // fine: key-down power over the noise in 500 Hz, dB
  double tone_hz = 0;   // fine: the measured frequency of what it keyed on, Hz
  std::string text;     // decoded text, blanks at either end trimmed
  double first_t = -1;  // seconds of audio when its first character was decoded; -1 for none
};

// A decoded string or a call found, as it happened.
struct EngineEvent {
  long long sample = 0;  // input frames before it was decoded (its time)
  int cluster = 0;       // the cluster's index
  int center_hz = 0;
  int cpm = 0;
  int wpm = 0;
  double snr_db = 0;
  double tone_hz = 0;
  std::string text;  // the string; empty for a call
  bool is_call = false;
  spots::FoundCall call;
};

class EngineSink {
 public:
  virtual ~EngineSink() = default;
  virtual void event(const EngineEvent& e) = 0;
  // The input has been decoded up to `frames` frames and every event before
  // them handed out (after each batch): for what is due by a time rather
  // than an event.
  virtual void advanced(long long frames) { (void)frames; }
};

class Engine {
 public:
  static constexpr int kGroupClusters = 25;
  // Clusters of each neighbouring group a group's front end also runs, so
  // that it guards against their stations (100 Hz: the neighbour guards
  // and the subtraction reach 75 Hz).
  static constexpr int kEdgeClusters = 2;

  // Refuses (throws std::invalid_argument with the reason) what the front
  // end cannot serve.
  explicit Engine(const EngineSettings& s);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  int clusters() const;
  int centre_hz(int q) const;
  // Frames of one batch: the most `feed` takes at once (kBankTicks' worth
  // behind the filter bank of an I/Q span: batch() for this engine).
  static constexpr int kBatch = 8 * 512;
  // Behind the bank each group walks a whole batch before the next group
  // does: a longer batch keeps a group's rings in the cache over more ticks
  // (its stages read them back up to a few dozen ticks after writing them).
  static constexpr int kBankTicks = 256;  // ticks of the front ends (500 a second) a batch
  int batch() const { return batch_; }

  // Decodes n frames (n <= batch(); for I/Q 2n values, I first) and hands
  // what they gave to `sink` (when one is set), in time order (see above).
  void feed(const double* in, int n, EngineSink* sink);
  // The input ended (what is fed from now on is the silence that lets the
  // last characters end): the clusters' measurements are taken as they stand.
  void input_ended();
  // Closes what the decoders hold back; with `close` false (the input was
  // cut off) a character in progress is dropped instead.
  void finish(EngineSink* sink, bool close = true);

  // Every cluster, lowest first.
  std::vector<ClusterResult> results() const;

 private:
  struct Group;
  struct Pool;
  void merge(EngineSink* sink);
  void walk_batch(const double* in, int n, long long start);
  void share_bursts(int frames);
  void share_carrier();

  EngineSettings set_;
  std::vector<std::unique_ptr<Group>> groups_;
  std::unique_ptr<Pool> pool_;
  // I/Q at a rate it serves: one filter bank cuts the whole span into
  // channels for every group's front end, run on the calling thread before
  // the groups walk the batch.
  std::unique_ptr<fine::FilterBank> bank_;
  // Audio through fine groups: the groups walk each batch block by block
  // together, and after each block every group joins the crashes the
  // others marked (a crash is band-wide: a group that heard its station
  // through one would print it). Per group, its fine front end.
  std::vector<FineFrontEnd*> shared_;
  std::vector<unsigned char> told_;  // scratch: ticks some group marked
  long long frames_ = 0;             // frames fed so far
  int batch_ = kBatch;               // the most frames `feed` takes
  std::vector<EngineEvent> merged_;
  bool measured_ = false;       // input_ended() took the measurements
  std::vector<double> snr_db_;  // per cluster, when the input ended
  std::vector<double> tone_hz_;
};

// Of two neighbouring clusters that copied the same station (the same tone
// within 20 Hz, texts alike), the one farther from the station's tone drops
// its text: a station keyed into two clusters appears once, where it is
// strongest.
void drop_neighbour_copies(std::vector<ClusterResult>& r);

}  // namespace talvo
