// Subtractor: strong stations taken out of their neighbours' envelopes.
//
// Filtering cannot part a weak station from the keying sidebands of a
// strong one 50 Hz away (about -15 dB in the channel at the strong one's
// key edges). So each cluster whose station stands well over the noise
// (12 dB in the channel), is not itself beside a station 6 dB stronger,
// and lies within 25 Hz of its centre, keeps a model of it (StationModel):
// its key edges, found where its envelope (turned by the measured tone,
// through a copy of the channel filter) crosses half the key-down carrier,
// between ticks; the key-down carrier's amplitude and phase, measured on
// the bodies of its marks; raised-cosine edges of 5 ms. A station heard on
// two clusters is modelled by the one nearer its tone only. The model is
// subtracted, sub_lag ticks (62 ms) behind the input, from the envelope of
// every cluster within 75 Hz whose own reach (25 Hz and 5 Hz spare) does
// not hold the station, and once it has settled (below) from the clusters
// 100 Hz away whose own tone lies within 85 Hz of its tone (a weak station
// 60-80 Hz from a strong one, each 20-odd Hz off its centre), and the
// stages after judge what is left. A clean
// station leaves about -52 dB instead of -15 dB. Clusters 45 Hz or more
// from the station take each mark with its own carrier (StationModel: a
// keyer that restarts its tone with each element); closer, where the
// station's body stands in the passband and a carrier measured on a few
// ticks of one mark (with the neighbours' tones in it) leaves more than its
// edges do, with the carrier learnt over many marks.
//
// How well each model fits its own station is measured at its key edges,
// where the neighbours' leakage comes from, on its envelope less the other
// models nearby: a model whose soft edges fit better than hard ones would
// (hard keying does not fit), and has run a second, lets the guard beside
// it ease (what it leaves lies near the noise: a cluster 6 dB over its own
// noise is clear, between -6 and -40 dB of the station's swing) on the
// clusters it is subtracted from.
//
// Life cycle: make once, reset; per tick track() every cluster, choose(),
// then (once sub_lag ticks have come) predict() and residue() per cluster.
#pragma once

#include <complex>
#include <span>
#include <vector>

#include "rx/fine/station_model.h"

namespace talvo::fine {

struct SubtractorParams {
  StationModelParams model;       // each cluster's model
  int carrier_lead_ticks = 10;    // ticks of a mark's body measured before it is subtracted
  double model_db = 12;           // carrier over the channel's noise that is modelled, dB
  double own_hz = 25;             // a station further off its centre is a neighbour's, Hz
  double spare_hz = 5;            // and this much more before it is taken from another, Hz
  double same_hz = 20;            // two clusters' tones this close are one station, Hz
  double dominated_db = 6;        // a neighbour this much stronger stops the model, dB
  double neighbour_hz = 75;       // clusters this close may dominate a model, Hz
  double edge_guard_db = -6;      // the edge guard beside a subtracted neighbour at least, dB
  double sub_guard_db = -40;      // and at most, dB
  double residue_db = 6;          // beside it a cluster this far over its noise is clear, dB
  int model_settle_ticks = 500;   // ticks a model runs before the guard beside it eases
  double subtract_hz = 75;        // models are subtracted from clusters this close, Hz
  double settled_hz = 100;        // settled ones from clusters this close, Hz
  double settled_tone_hz = 85;    // whose tone lies this close to theirs, Hz
  double mark_hz = 45;            // each mark's own carrier is taken from clusters this far, Hz
  double fit_reach_ticks = 2;     // ticks either side of a key edge where the fit is measured
  double fit_track = 0.02;        // weight of an edge tick in the misfit
  double fit_clean_hz = 260;      // models this close are taken out where the fit is measured, Hz
  double hard_half_ticks = 0.25;  // ticks, half the rise time of hard keying as modelled
};

// What the subtractor needs to know of a cluster's station, once a tick.
struct StationView {
  double floor = 0;    // the noise floor it keys against, units^2 (0: none)
  double carrier = 0;  // carrier power of its recent marks, units^2 (0: none yet)
  double off = 0;      // rad per tick, the tone's offset from the centre (0 before it is known)
  bool toned = false;  // the offset has been measured
  bool ready = false;  // the cluster may key
  // The same view as at the last choose() and not ready: nothing of it is
  // chosen afresh (its station is not subtracted, as then).
  bool still = false;
};

class Subtractor {
 public:
  // centres: Hz; mixing[q]: rad per band sample of cluster q's mixer;
  // taps: the cluster decimator's length; on: whether to subtract at all.
  void make(const SubtractorParams& p, const ChannelDesign& d, std::span<const double> centres,
            std::span<const double> mixing, int taps, bool on);
  void reset();
  int sub_lag() const { return sub_lag_; }  // ticks the subtracted envelope lags the input

  // The newest tick t on cluster q: its decimated envelope and mixer phasor.
  void track(int q, long long t, cfloat z, cfloat turn, double floor) {
    models_[q].step(t, z, turn, floor);
  }
  // The same for a cluster asleep (StationModel::rest).
  void rest(int q, long long t, cfloat z, cfloat turn) { models_[q].rest(t, z, turn); }
  // Which clusters' stations are subtracted now.
  void choose(std::span<const StationView> st);
  // The models at the subtracted tick v, and how well each fits.
  void predict(long long v);
  // Cluster q's envelope at tick v less its neighbours' models.
  cfloat residue(int q, long long v) const {
    // Where no model near is subtracted its envelope passes as it came (the
    // sum of none is nought).
    if (!reached_[q]) return models_[q].zin(v);
    return subtracted(q, v);
  }

  // Per cluster: its model is subtracted, has run model_settle_ticks and
  // fits (as char, 1: yes); the edge guard beside it (power ratio).
  std::span<const char> settled() const { return settled_; }
  bool any_model() const { return any_model_; }  // some cluster's station is subtracted
  std::span<const double> sub_guard() const { return sub_guard_; }
  // Per cluster: the tone its model stands on, Hz (a cluster whose centre
  // lies within own_hz + spare_hz of it is not subtracted from).
  std::span<const double> tones() const { return tones_; }
  const StationModel& model(int q) const { return models_[q]; }

 private:
  struct Cluster {
    double centre = 0;             // Hz
    bool model = false;            // subtracted from its neighbours now
    double tone = 0;               // Hz, the tone the model stands on
    int model_age = 0;             // ticks the model has been subtracted without a break
    std::complex<double> own = 0;  // the model at the subtracted tick in this envelope, units
    double edge_apart = 0;         // ticks from there to the nearest key edge
    double misfit = 0;             // power of envelope less model at the key edges, units^2
    double hardfit = 0;            // the same for a model with hard key edges, units^2
    bool fits = false;             // the model's soft edges fit better than hard ones
    std::complex<double> mod = 0;  // the model at the subtracted tick, turned back, units
    std::complex<double> mod_learnt = 0;  // the same with the carrier learnt over many marks
    std::vector<int> near;                // clusters close enough to dominate this one's model
    std::vector<int> fitn;  // clusters whose models are taken from this one's when it fits
    std::vector<std::complex<double>> fit_turn;  // their constant phases, as sub_turn
    std::vector<int> sub;  // clusters whose models are subtracted from this one
    // sub_turn[i]: the constant phase between this cluster's envelope and
    // that of sub[i] for what lies in both passbands.
    std::vector<std::complex<double>> sub_turn;
    std::vector<char> sub_far;  // sub_far[i]: sub[i] lies over subtract_hz away
  };
  cfloat subtracted(int q, long long v) const;  // residue() where some model near is subtracted
  // Whether q's model, settled_hz away from o, is taken out of o: it has
  // settled, and the two tones lie within settled_tone_hz.
  bool far_taken(int q, int o) const;

  SubtractorParams p_;
  bool on_ = true;                                  // subtract at all
  double model_ = 1, dominated_ = 1, residue_ = 1;  // model_db etc. as power ratios
  double sub_guard_min_ = 1, sub_guard_max_ = 1;    // sub_guard_db, edge_guard_db as ratios
  int sub_lag_ = 0;                                 // ticks the subtracted envelope lags the input
  std::vector<StationModel> models_;                // [q]
  std::vector<Cluster> cl_;                         // [q]
  bool any_model_ = false;                          // some cluster's station is subtracted now
  std::vector<int> modelled_;                       // the clusters subtracted now, ascending
  std::vector<char> reached_;      // [q]: some model within subtract_hz is subtracted now
  std::vector<char> settled_;      // [q]
  std::vector<double> sub_guard_;  // [q]: the edge guard beside q's model (power ratio)
  std::vector<double> tones_;      // [q]: the tone q's model stands on, Hz
};

}  // namespace talvo::fine
