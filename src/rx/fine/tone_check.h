// Tone check: a short mark that does not stand on its cluster's tone, while
// a voice is in the band.
//
// A voice beside CW stations (single sideband, overdriven, its splatter
// over the whole passband) sweeps its pitch harmonics through the clusters'
// channels: each passes in some 10-80 ms, and in a station's channel its
// power can reach the station's own key-down level, so the threshold keys
// it as a mark. The station's marks stand on its tone and hold it from end
// to end; a harmonic passing through stands off the tone, or moves across
// the mark. So each short mark (one that can still be taken back whole) on
// a cluster whose tone is known is measured: the mean frequency of its
// envelope (the power-weighted phase advance from tick to tick) over the
// whole mark against the tone, and over its second half against its first.
// It is off the tone when it stands more than off_hz from it, or its halves
// differ by more than sweep_hz, beyond `spread` times what the noise alone
// moves either figure at the mark's own signal-to-noise ratio: over n
// ticks at a power ratio rho of signal to noise the phase at each end
// wanders by about 1 / sqrt(2 rho) radians, the mean frequency by
// kTickRate / (2 pi n sqrt(rho)) Hz.
//
// Off the tone is not enough: where two stations take turns on a cluster
// (a runner and its caller 20-40 Hz apart) the one whose tone the cluster
// has not learnt is off it on every mark, and beside strong neighbours a
// weak station's short marks wander. Such marks are the stations' own. So
// a mark off the tone is taken back only while a voice is in the band (of
// the marks measured across the band lately, voice_on or more off the tone,
// until under voice_off; a contest band stays under 0.25, a voice at the
// stations' level lifts it to 0.45-0.55), and only on a cluster whose own
// marks lately stood on the tone (under own_share of them off it; a cluster
// the voice or an FSK signal keys on its own finds half or more off it, and
// its text is left to the stages after, which know its marks for no
// Morse).
//
// Life cycle: make once, reset; judge() each measured mark.
#pragma once

#include <complex>

#include "rx/fine/channel_power.h"

namespace talvo::fine {

struct ToneCheckParams {
  int min_ticks = 6;         // ticks, shorter marks are not measured
  int max_ticks = 40;        // ticks, longer ones neither (they cannot be taken back)
  double off_hz = 5;         // mean frequency allowed off the tone, Hz
  double sweep_hz = 7;       // difference allowed between the halves' frequencies, Hz
  double spread = 2;         // standard errors of the noise allowed over those
  double own_track = 0.02;   // weight of a measured mark in its cluster's share off the tone
  double own_share = 0.15;   // a cluster's share from which its marks are left alone
  double band_track = 0.01;  // weight of a measured mark in the band's share off the tone
  double voice_on = 0.30;    // the band's share from which a voice is in the band
  double voice_off = 0.20;   // the band's share under which it is gone
};

// Whether the mark on ticks [from, to) of `power`'s envelope stands off the
// tone whose phase advance per tick is rot (any magnitude), n the noise
// floor (units^2).
bool off_tone(const ToneCheckParams& p, const ChannelPower& power, long long from, long long to,
              std::complex<double> rot, double n);

class ToneCheck {
 public:
  void make(const ToneCheckParams& p) { p_ = p; }
  void reset() {
    band_ = 0;
    voice_ = false;
  }
  // Whether a mark `run` ticks long is measured.
  bool measures(int run) const { return run >= p_.min_ticks && run <= p_.max_ticks; }
  // A measured mark, `off` the tone or not, of a cluster whose share off
  // the tone is `own` (updated here). True: the mark is taken back.
  bool judge(bool off, double& own);

 private:
  ToneCheckParams p_;
  double band_ = 0;     // share of the band's measured marks off the tone
  bool voice_ = false;  // a voice is in the band
};

}  // namespace talvo::fine
