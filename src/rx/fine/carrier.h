// Carrier: a cluster's tone, the phase of its carrier and the element
// statistic.
//
// The complex envelope, turned back by the tone's offset from the centre
// (the phase advance of the envelope over the middle of marks, learnt from
// clear key-down ticks the channel filter has settled on), is averaged
// coherently over 0.6 of a dot of the speed the cluster has measured from
// its own marks (a strong station, 12 dB over the channel's noise) to 0.9 of
// one (a weak one, 6 dB), 9 to 41 ticks, centred on the tick being judged.
// Its power is the element statistic, whose noise part follows from the
// noise floor and the channel filter's autocorrelation. Once the carrier's
// phase (held still by turning back the offset tick by tick, at a rate a
// slow loop keeps on the carrier) is learnt on the marks, the statistic is
// the average's part along the carrier, squared where positive: all of the
// carrier, half of the noise (taken as 0.6 of it, the phase being learnt in
// noise). That holds only for a station whose carrier keeps its phase from
// one mark to the next (a transmitter's oscillator running on between the
// marks): one that starts each mark at a phase of its own (a keyer that
// restarts its tone with every element, as ebook2cw does, whose dot at 45
// WPM is not a whole number of cycles) would be keyed along a phase its next
// mark need not have, late by the ticks the phase takes to follow it (some
// 8), or not at all. So the phase of each measured mark is compared with the
// last one's, but only when both marks are steady tones (their held-still
// envelope keeps `steady` of its power coherently over the mark), both of a
// dot's or a dash's length and one character's elements apart, and measured
// once the tone's offset is: a weak station's marks, or a codec's products,
// whose phase wanders within the mark by noise, a crash's bursts, which come
// at random lengths and times, and the first marks, taken before the tone's
// offset is turned back, tell nothing about a restarted tone. The statistic
// goes along the carrier while the steady marks, on average, keep it (the
// mean cosine of their steps over hold_min); for a station whose steady
// marks do not keep it, at any speed, it is the average's power. The phase,
// learnt anew on each mark, does not follow such a station through a fade:
// the phase is learnt only on ticks 8 dB over the noise and near the
// key-down level, so a mark the fade has taken under either is keyed along
// the last strong mark's phase, which it need not have (a 1 Hz flutter 15 dB
// deep lost the dots and the dashes' starts in each trough).
// The window lies in a mark's body when both its halves hold alike. Ticks
// under a burst (a static crash, impulses.h) weigh by the floor over the
// floor and the burst; a window whose noise then stands within hold_db of
// the carrier tells nothing, and the cluster holds its key state.
//
// The tone's offset, less the pull of the noise towards the centre, tells
// the front end where to retune the cluster's channel filter (fine.cpp);
// before the cluster keys, it is heard on the ticks well over the noise.
// A retune turns the offset, the phase loop and the envelopes kept alike.
//
// The carrier's power is learnt from finished marks: the middle half of
// each, away from the edges, less the noise; averaged over marks in dB.
//
// Life cycle: make once, reset; step once a tick judged, learn_tone on the
// clear ticks of marks, learn_mark on each finished mark.
#pragma once

#include <complex>

#include "rx/fine/channel_power.h"
#include "rx/fine/impulses.h"

namespace talvo::fine {

struct CarrierParams {
  double tone_track = 0.005;  // weight of a key-down tick in the phase advance
  int tone_ticks = 20;        // key-down ticks measured before the offset is used
  int tone_ticks_fix = 150;   // ... before the cluster retunes onto it (offset())
  int hear_ticks = 300;       // heard ticks (hear()) before it retunes onto those
  double max_offset_hz = 30;  // offsets further out are not turned back, Hz
  double match = 0.6;         // coherent window length over the dot length
  double weak_match = 0.9;    // the same for a weak station
  double strong_db = 12;      // carrier over the channel noise of a strong station, dB
  double weak_db = 6;         // and of a weak one, dB (between: in proportion)
  int min_win_ticks = 9;      // ticks, shortest coherent window, odd
  int max_win_ticks = 41;     // ticks, longest coherent window, odd
  double flat = 0.5;          // a window's halves this alike (in power) lie in a mark's body
  double slack = 8;           // element noise powers of a half window allowed in that test
  double interior = 0.5;      // key-down power below this part of the level is an edge
  double learn_db = 8;        // statistic over the element noise that learns the phase, dB
  double phase_track = 0.1;   // weight of a key-down tick in the carrier's phase
  int phase_ticks = 60;       // key-down ticks measured before the phase is used
  // Once the phase is used, the offset `still` turns back by is its own:
  // each tick that learns the phase moves it by freq_track of the phase
  // error (rad per tick per rad), so the carrier stays still on the marks;
  // the offset measured tick to tick (rot) is too noisy on a weak station,
  // whose phase then wandered off between the marks.
  double freq_track = 0.0004;
  // The noise of the statistic along the carrier over that of the power:
  // half in theory; more keeps the gaps' noise peaks from keying, as the
  // phase learnt on a weak station's marks is itself noisy (measured).
  double along_noise = 0.6;
  // The mean cosine of the phase step between two steady measured marks
  // (each pair weighing hold_track, starting from 1: kept until the marks
  // show otherwise) at hold_min or more keeps the statistic along the
  // carrier.
  double hold_track = 0.1;
  double hold_min = 0.5;
  // A mark is a steady tone when the power of its held-still mean
  // envelope is this part of its mean power or more.
  double steady = 0.9;
  // Only the marks of an element's length count (dot lengths: a dot up to
  // dot_max, a dash from dash_min to dash_max), and a pair only when the
  // gap between them is that within a character (pair_gap dots at most):
  // a crash's bursts and a neighbour's leakage fit neither.
  double dot_max = 1.5;
  double dash_min = 2;
  double dash_max = 4.5;
  double pair_gap = 2;
  // Under a burst, a window whose noise (the statistic's noise part) lies
  // less than this under the carrier's power is held, dB: the key-down
  // threshold stands 8 dB over that noise.
  double hold_db = 10;
  int report_min_ticks = 8;    // ticks, shortest mark that measures the carrier
  double report_dots = 0.75;   // dots, shortest mark that measures the carrier
  int report_max_ticks = 200;  // ticks of a mark's end that measure it at most
  double report_track = 0.25;  // weight of each mark in the carrier power
};

// The element statistic of one tick.
struct ElementStat {
  double pd = 0;      // the statistic, units^2
  double nd = 0;      // what noise adds to it on average, units^2
  bool body = false;  // the window lies in a mark's body
  int win = 0;        // ticks in the coherent window
  double csnr = 0;    // carrier over the channel's noise, dB (strong_db before any)
  double along = 0;   // the carrier's magnitude along its phase, units (0: phase not learnt)
  bool held = false;  // the window lies mostly under an impulse: the tick tells nothing
};

// The unit phasor e^(i w), worked out again only when w changes: on most
// ticks a cluster's window turns by the same angle as on the tick before.
class Turn {
 public:
  const std::complex<double>& of(double w) {
    if (w != w_) {
      w_ = w;
      z_ = std::polar(1.0, w);
    }
    return z_;
  }

 private:
  double w_ = 0;                // rad
  std::complex<double> z_ = 1;  // e^(i w_)
};

class Carrier {
 public:
  void make(const CarrierParams& p, const ChannelDesign& d, int max_half);
  void reset();
  // Tick `at`: clear of the guards or not, n the noise floor (units^2),
  // unit the dot length (ticks), level the key-down level (units^2). The
  // ticks imp marked (null: none) weigh by their weight; a window whose
  // noise stands too near the carrier is held.
  ElementStat step(long long at, bool clear, double n, double unit, double level,
                   const ChannelPower& power, const Impulses* imp = nullptr);
  // A clear key-down tick inside a mark: it counts towards toned(); where
  // the channel filter has settled on the mark (`settled`: the tick lies
  // far enough inside it), its phase advance measures the offset and counts
  // towards fixed(). Through the filter's rise and fall the phase advances
  // about half as fast as the tone's offset.
  void learn_tone(const ChannelPower& power, long long at, bool settled);
  // A mark of `run` ticks ended at tick at (dot length unit, floor n); the
  // ticks imp blanked (null: none) do not measure it.
  // afresh: it is another station's than the marks before (KeyResult::other):
  // the tone, phase and carrier learnt so far are dropped, and are learnt
  // anew from this mark on.
  void learn_mark(int run, double unit, long long at, double n, const ChannelPower& power,
                  bool afresh, const Impulses* imp = nullptr);

  // The envelope e's part along the carrier, over the carrier's magnitude.
  double along_part(cfloat e, double along) const {
    return (std::complex<double>(e.real(), e.imag()) * still_ * std::conj(phase_)).real() / along;
  }
  double carrier() const { return carrier_; }  // carrier power of the recent marks, units^2
  bool toned() const { return rot_n_ >= p_.tone_ticks; }  // the offset is measured
  // Whether the statistic goes along the carrier: its phase learnt, and
  // kept from one mark to the next.
  bool along() const { return phase_n_ >= p_.phase_ticks && hold_ >= p_.hold_min; }
  std::complex<double> rot() const { return rot_; }  // phase advance per tick, units^2
  // Before the cluster keys, a tick whose power stands well over the
  // noise (clear of the guards): the phase advance as heard there.
  void hear(const ChannelPower& power, long long at);
  bool fixed() const { return fix_n_ >= p_.tone_ticks_fix; }  // the keyed ticks tell the offset
  // The tone's offset from where the envelope is mixed to, rad per tick,
  // once tone_ticks_fix key-down ticks measured it, or before that
  // hear_ticks heard ticks (else 0): the phase advance less what the
  // noise adds to it (n the floor, units^2, rho1 the noise's correlation
  // one tick apart), which pulls it towards 0.
  double offset(double n, double rho1) const;
  // The envelope is from the next tick on mixed down by dw more (rad per
  // tick), its past alike (ChannelPower::retune); `at` the tick last
  // judged: the tone, the offset the phase is held still by and its
  // phase are turned to match.
  void retune(double dw, long long at);

 private:
  // The tone, phase, carrier and phase steps learnt of the cluster's
  // station are dropped, to be learnt anew.
  void forget_station();
  CarrierParams p_;
  const double* coh_noise_ = nullptr;   // the channel's coherent noise per window length
  int max_win_ = 41;                    // ticks, longest window the decision delay allows
  double learn_ = 1;                    // learn_db as a power ratio
  double burst_hold_ = 1;               // hold_db as a power ratio
  std::complex<double> rot_;            // phase advance per tick over settled ticks, units^2
  int rot_n_ = 0;                       // key-down ticks seen (saturates)
  double rot_w_ = 0;                    // the part of rot_ the ticks measured (1 - the start's)
  int fix_n_ = 0;                       // settled ticks that measured rot (to tone_ticks_fix)
  std::complex<double> heard_;          // phase advance per tick over heard ticks, units^2
  double heard_w_ = 0;                  // the part of heard_ the ticks measured
  int heard_n_ = 0;                     // heard ticks that measured heard_ (to hear_ticks)
  std::complex<double> still_ = 1;      // the tone's offset turned back up to the tick judged
  std::complex<double> phase_ = 0;      // the carrier at that phase on the marks, units
  int phase_n_ = 0;                     // key-down ticks that measured phase (saturates)
  double freq_ = 0;                     // rad per tick `still` turns back by (the loop's offset)
  double carrier_ = 0;                  // carrier power of the recent marks, units^2 (0: none yet)
  std::complex<double> last_mark_ = 0;  // the last measured mark's mean envelope, held still, units
  bool last_steady_ = false;            // that mark was a steady tone
  long long last_end_ = 0;              // tick that mark ended
  double hold_ = 1;                     // mean cosine of the phase step between steady marks
  // What the window of step() turns by, kept from tick to tick:
  std::complex<double> rot_seen_ = 0;  // rot_ when its angle was last taken
  double rot_arg_ = 0;                 // that angle, rad per tick
  Turn back_, start_, still_step_;     // e^(-i wrot), e^(i wrot h), e^(-i freq_)
};

}  // namespace talvo::fine
