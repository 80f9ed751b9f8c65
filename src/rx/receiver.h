// The classic receive chain's state: the channel plan and every per-channel
// array of the chain, from the comb pre-filter to the key states.
//
// `init` builds one Receiver for a centre frequency and gives every array its
// starting value; the stages (comb pre-filter, mixer, iqabs, absmittel, nlg1,
// adaptthreshold2) then work on it and on nothing else. All
// rows are allocated here, once: no stage allocates while samples flow. A test
// that wants a fresh receiver simply calls `init` again.
//
// Times are counted in ticks: one tick of channel j is one completed period of
// its oscillator, mixperiode[j] input samples, about f(j) ticks a second.
//
// Glossary of the names, which come from the receiver's first author and are
// kept so that its description still reads (German-derived words):
//   kanaele          channels on each side of channel 0 (21)
//   kanalzahl        elements in every per-channel block (47: 43 channels, 4 spare)
//   infr, inframesmem  the comb pre-filter's output and its ring ("in frame")
//   Mixre, Mixim     the mixer's running sums, real and imaginary
//   valueabs         the magnitude of the low-passed I/Q pair
//   absmittel        "mean of magnitudes": the envelope averaging stage;
//                    valueabsmittel1 the per-channel average, valueabsmittel
//                    the cluster maximum (the 1 marks the first of the two)
//   nlg1             "nichtlinearer Glaettungsfilter" (nonlinear smoothing),
//                    first version; nlg1weite its half window, nlg1sigmaw its
//                    value tolerance
//   adaptthreshold2  the adaptive threshold, second version
//   valuethr         the key state: 0 key up, else the excess over the threshold
//   wert             "value": the transmit tone sample
//   Hist...          histories (sliding windows and rings) of each stage
// The number suffixes (nlg1, adaptthreshold2, and decode3, print3 in the
// decoder) are the versions of the first author's routines.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "rx/chanarray.h"

namespace talvo {

using Row = std::vector<double>;

// The lowest and highest centre frequencies whose channel plan every stage can
// serve: the I/Q low-pass needs at least 5 history entries (f >= 250 Hz on the
// lowest channel), and the highest channel must stay below the Nyquist
// frequency of 24000 Hz.
inline constexpr int kMinCenterfreq = 460;
inline constexpr int kMaxCenterfreq = samplefreq / 2 - kanaele * freqstep - 1;

struct Receiver {
  // --- channel plan --------------------------------------------------------
  int centerfreq = 0;         // Hz, frequency of channel 0
  ChanArray<int> mixperiode;  // samples per oscillator period: 48000 / f(j)
  int maxperiode = 1;         // the longest mixperiode: length of C, S, inframesmem rows

  // --- comb pre-filter -----------------------------------------------------
  double infrgew = 0.1;        // weight of the new sample in each ring slot
  ChanArray<Row> inframesmem;  // per phase position, the running average
  // The slot the next sample updates is the mixer's phase counter `time`: the
  // two would always start at 0, advance once per sample and wrap at
  // mixperiode, so one counter serves both.
  ChanArray<double> infr;  // filter output for the current sample

  // --- mixer ---------------------------------------------------------------
  ChanArray<Row> C, S;             // cos / sin of 2*pi*i/mixperiode, i = 0 .. maxperiode-1
  ChanArray<double> Mixre, Mixim;  // running sums of the current period
  ChanArray<double> IQre, IQim;    // I/Q pair of the last completed period
  ChanArray<int> newdata;          // 1 on the sample on which the channel ticks
  ChanArray<int> time;             // table position and comb slot, 0 .. mixperiode-1
  int newdataflag = 0;             // 1 when any channel ticked on this sample
  int txch = 0;                    // transmit channel: its tone and its tick drive the keyer
  int txampl = 0;                  // transmit tone amplitude, 0 .. 20000 (set by the keyer)
  short wert = 0;                  // transmit tone sample of this sample (S16)
  int txtick = 0;                  // 1 when channel txch ticked on this sample (RTS refresh)

  // --- I/Q low-pass and magnitude ------------------------------------------
  ChanArray<Row> Histre, Histim;  // last iqhistlen I/Q values, kept as a mirrored ring
  ChanArray<int> iqhistpos;       // ring position of the oldest of them
  ChanArray<int> iqhistlen;       // window length, ticks: f / 50
  ChanArray<double> valueabs;     // magnitude of the filtered pair

  // --- envelope averaging --------------------------------------------------
  ChanArray<Row> Histabs;             // last histabslen magnitudes, mirrored ring
  ChanArray<int> histabspos;          // ring position of the oldest of them
  ChanArray<int> histabslen;          // averaging length, ticks: f / 100
  ChanArray<double> valueabsmittel1;  // per channel: the moving average
  ChanArray<double> valueabsmittel;   // per cluster centre: the largest member average

  // --- nonlinear smoothing -------------------------------------------------
  ChanArray<Row> Histnlg1;      // last 2w+1 envelope values, mirrored ring
  ChanArray<int> histnlg1pos;   // ring position of the oldest of them
  ChanArray<int> nlg1weite;     // half window w, ticks: (centerfreq - 10 j) / 5
  ChanArray<int> nlg1sigmaw;    // value tolerance s, envelope units: 200
  ChanArray<double> valuenlg1;  // smoothed envelope

  // --- adaptive threshold --------------------------------------------------
  ChanArray<Row> Histadapt;       // ring of the last histadaptlen smoothed values
  ChanArray<int> Histadaptindex;  // slot of the oldest value, 0 .. histadaptlen-1
  ChanArray<int> histadaptlen;    // ring length, ticks: 500
  ChanArray<double> sum;          // running sum of the ring
  ChanArray<int> decthresh;       // floor of the excess that counts as key down: 1000
  ChanArray<double> valuethr;     // key state: 0 key up, else the excess (> decthresh)

  // Channel frequency in Hz.
  int freq(int j) const { return centerfreq + j * freqstep; }
};

// A failed allocation while building the receiver: the message to write on
// standard error and the exit status the program ends with.
struct InitError : std::runtime_error {
  InitError(const std::string& message, int status) : std::runtime_error(message), status(status) {}
  int status;
};

// Makes the receiver for a centre frequency (kMinCenterfreq .. kMaxCenterfreq;
// callers refuse others). Throws InitError when memory runs out: the
// receiver itself, or a row (one allocation each, in creation order).
std::unique_ptr<Receiver> init(int centerfreq);

}  // namespace talvo
