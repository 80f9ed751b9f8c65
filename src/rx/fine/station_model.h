// Station model: a cluster's own station as key edges and a carrier, to be
// subtracted from its neighbours.
//
// The envelope, turned by the tone's measured offset so that the station
// stands still, passes a copy of the channel filter; where its magnitude
// crosses half the key-down carrier lies a key edge (the filter and the
// raised-cosine edge are both symmetric), placed between ticks by linear
// interpolation and dated back by the filter's delay. The key-down
// carrier (amplitude and phase, turning by the offset) is measured on the
// bodies of the marks, edge_lag ticks back, where every edge near it is
// known. The keying envelope is modelled with raised-cosine edges of 5 ms
// centred on the edges found.
//
// The channel filter (43 ticks) reaches over the mark and gap before an
// edge, and where each mark has a phase of its own (below), what it keeps
// of the mark before moves the crossing: ebook2cw's edges were found
// about half a tick off on average and as much again either way from edge
// to edge, leaving -10 dB of the carrier at them. So once a mark's own carrier is
// known (its key-down edge mark_first body ticks on, its key-up edge when
// found), the edge is placed again where the envelope through a short
// filter (the mean of 10 ticks), in phase with that carrier, crosses half
// of it: only the edge's own ticks weigh, and what lies off the carrier's
// phase (codec noise) much less. A key-down edge takes the amplitude from
// the whole body of the mark before (its own few ticks sway with the tones
// of other stations). Where the envelope there does not fit the modelled
// edge (another station's tone or edges in the short filter), the edge
// found first stays. A lone ebook2cw station is then modelled to -35 dB at
// its edges as in its body. The share of key-up edges so placed tells
// whether the model fits the station's edges (fits()): a fast station's
// dots end before their own carrier is known, and stay where found.
//
// A keyer that starts each element's tone afresh (ebook2cw, and FSK
// modems alike) gives each mark a phase of its own, which a carrier learnt
// over many marks cannot follow: subtracted with the learnt phase such a
// mark leaves up to twice its own leakage. So each mark's carrier is also
// measured on its own body (the body ticks known when it is subtracted,
// carrier_lead ticks ahead), and once mark_first of them are known the mark
// is modelled with its own carrier. Even a keyer whose elements keep nearly
// one phase (whole cycles to a dot) leaves 6 dB less at the key edges so.
//
// Life cycle: make once, reset, set_offset and step once a tick.
#pragma once

#include <complex>
#include <vector>

#include "rx/fine/channel_power.h"

namespace talvo::fine {

struct StationModelParams {
  double edge_half_ticks = 1.25;  // ticks, half the rise time modelled (5 ms raised cosine)
  int edge_settle_ticks = 3;      // ticks from the newest edge-known tick to the carrier tick
  int interior_ticks = 2;         // ticks from a key edge to the body of a mark
  double carrier_track = 0.05;    // weight of a body tick in the carrier estimate
  int carrier_first = 8;          // body ticks before the carrier estimate is trusted
  int mark_first = 6;             // body ticks of a mark before its own carrier is used
  double refine_ticks = 2;        // ticks an edge moves at most when placed on its mark's carrier
  double refine_db = 15;          // carrier over the short filter's noise for that, dB
  double refine_misfit = 0.03;    // RMS misfit to the modelled edge allowed there, of the carrier
  double refine_noise = 2;        // and that many times the noise through the short filter
  int fit_edges = 50;             // key-up edges the share placed is a running mean over
  double fit_share = 0.85;        // share of them placed for the model to fit
};

class StationModel {
 public:
  static constexpr int kEdges = 16;  // key edges kept

  // d: the channel filter (the edge filter copies it); sub_lag: ticks the
  // subtracted envelope lags the input (`back` turns the carrier over that
  // less edge_lag).
  void make(const StationModelParams& p, const ChannelDesign& d, int sub_lag);
  void reset();
  // The tone's offset, rad per tick (changed only when it moved 1e-3).
  void set_offset(double off);
  // The newest tick t: the decimated envelope z, mixed by the phasor turn,
  // and the noise floor the cluster keys against (units^2).
  void step(long long t, cfloat z, cfloat turn, double floor);
  // The newest tick of a cluster asleep (rx/fine/watch.h, never modelled
  // then): the envelope is kept and the phasors turn on, but no edges are
  // sought; the next step() first fills the edge filter from the kept
  // envelope.
  void rest(long long t, cfloat z, cfloat turn) {
    zin_[t & mask_] = z * turn;
    turn_[t & mask_] = turn;
    spin_ *= step_;
    carrier_z_ *= step_;
    resting_ = true;
  }
  // The keying envelope (0 .. 1) at tick `at` with edges 2 half ticks
  // long; *apart: ticks to the nearest edge held.
  double envelope(double at, double* apart, double half) const;
  double envelope(double at, double* apart) const {
    return envelope(at, apart, p_.edge_half_ticks);
  }
  // The modelled station at the subtracted tick `at` (units): the keying
  // envelope with edges 2 half ticks long times the carrier of the mark
  // keyed there; *apart as envelope(). *learnt (when given): the same
  // with the carrier learnt over many marks.
  std::complex<double> at_tick(double at, double* apart, double half,
                               std::complex<double>* learnt = nullptr) const;
  std::complex<double> at_tick(double at, double* apart, std::complex<double>* learnt) const {
    return at_tick(at, apart, p_.edge_half_ticks, learnt);
  }

  int edge_lag() const { return edge_lag_; }  // ticks from the newest to the edge-known tick
  // The newest ticks' envelope (units) and mixer's phasor, back to the
  // subtracted tick and the edge filter's length.
  cfloat zin(long long t) const { return zin_[t & mask_]; }
  cfloat turn(long long t) const { return turn_[t & mask_]; }
  std::complex<double> carrier_z() const { return carrier_z_; }  // at the carrier tick, units
  std::complex<double> back() const { return back_; }  // from there to the subtracted tick
  int carrier_n() const { return carrier_n_; }         // body ticks that measured the carrier
  double step_rad() const { return step_rad_; }        // rad per tick the model turns by
  // The share of recent key-up edges placed on their mark's carrier (the
  // mean of the first fit_edges, then a running mean over that many), and
  // whether it reaches fit_share: the model then fits the station's key
  // edges, and subtracted takes its clicks out.
  double placed() const { return placed_; }
  bool fits() const { return placed_ >= p_.fit_share; }

 private:
  StationModelParams p_;
  int g_ = 0;         // ticks, the channel filter's delay
  int edge_lag_ = 0;  // ticks from the newest input to the newest edge-known tick
  int sub_lag_ = 0;   // ticks the subtracted envelope lags the input
  // The rings hold the fewest ticks (a power of two) that reach back to the
  // subtracted tick and over the edge filter's taps.
  int mask_ = 0;                        // ring length - 1
  std::vector<cfloat> zin_;             // ring: decimated envelope before the channel filter, units
  std::vector<cfloat> turn_;            // ring: the mixer's phasor at each tick
  Firfilt edge_;                        // channel filter on zin turned by the tone's offset
  std::complex<double> spin_ = 1;       // the tone's offset turned up to the newest tick
  std::complex<double> step_ = 1;       // the tone's offset per tick (unit phasor)
  std::complex<double> back_ = 1;       // step^-(carrier tick - subtracted tick)
  double step_rad_ = 0;                 // rad per tick that step turns by
  std::complex<double> carrier_z_ = 0;  // key-down carrier at the carrier tick, units
  int carrier_n_ = 0;                   // body ticks that measured carrier_z_ (saturates)
  double aprev_ = 0;                    // edge filter magnitude at the previous tick, units
  bool mdown_ = false;                  // the model's key state at the newest edge
  double edge_at_[kEdges] = {};         // ring: edge times, ticks (fractional)
  bool edge_up_[kEdges] = {};           // ring: key down (true) or key up at that edge
  // ring, at each key-down edge: the sum of its mark's body ticks turned
  // back by the tone's offset as it stood at the newest tick (a steady
  // carrier sums to a fixed phasor), units; and how many ticks
  std::complex<double> mark_sum_[kEdges] = {};
  int mark_n_[kEdges] = {};
  int nedges_ = 0;        // edges ever found (the ring holds the last kEdges)
  int taps_ = 0;          // the edge filter's length, ticks
  bool resting_ = false;  // the last ticks were rest()ed
  void wake(long long t, double floor);
  // envelope() that also gives the ring slot of the key-down edge of the
  // mark it belongs to (-1: none held).
  double keyed(double at, double* apart, double half, int* mark) const;
  // The carrier of the mark keyed down at ring slot `mark`, turned as the
  // envelope is in refined() (units).
  std::complex<double> own_carrier(int mark) const;
  // The key edge found near `coarse` (up: key-down) at the newest tick t,
  // placed where the envelope through the short filter, in phase with the
  // mark's carrier, crosses half of it; `coarse` when the carrier stands
  // too low over the floor, no crossing lies within refine_ticks or the
  // envelope there does not fit the modelled edge.
  double refined(long long t, double coarse, bool up, std::complex<double> carrier,
                 double floor) const;

  static constexpr int kRefineReach = 3;  // ticks either side of the coarse edge searched
  // The short filter: the mean of 10 ticks, nought 50 Hz off the carrier
  // and its multiples (a neighbour on the next cluster), at least 13 dB
  // down from 55 Hz on.
  static constexpr int kShortTicks = 10;
  double short_gain_ = 1;  // noise through the short filter over that through the channel filter
  double refine_snr_ = 1;  // refine_db as a power ratio
  double placed_ = 0;      // share of recent key-up edges placed on their carrier
  int placed_n_ = 0;       // key-up edges it is the mean of (to fit_edges)
};

}  // namespace talvo::fine
