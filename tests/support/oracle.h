// The receive chain sample by sample: the oracle the block pipeline
// (rx/block.h) is held to, to the last bit. Each stage is written as the
// receiver defines it, running over every channel (or every cluster centre)
// that ticked on the current sample; the program itself runs the block
// pipeline, which shares the per-tick stage bodies (rx/stages.h) with these.
//
// Comb pre-filter: before a channel mixes the input down, the input passes a
// recursive comb whose delay is the channel's own period, y[n] = 0.9 y[n - P]
// + 0.1 x[n]; the ring slot is the mixer's phase counter `time`.
//
// Channel mixer.
//
// Multiplies every channel's comb output by the channel's own cosine and sine
// and sums the products over exactly one period of its oscillator: one bin of
// a discrete Fourier transform per period. When the period completes (the
// channel's tick) it publishes the averaged pair in IQre/IQim and raises
// newdata for that sample.
//
// The same pass forms the transmit tone: txampl times the sine table of the
// transmit channel txch, at the channel's running phase, so the tone has
// exactly the frequency that channel receives and never breaks phase. The
// mixer does no I/O: it leaves the tone sample in `wert` and flags in
// `txtick` that txch ticked, and the program writes the sample to the output
// pipe and refreshes the RTS line from them.
//
// `receive_sample` is what the sample loop runs on every input sample: the
// comb and the mixer channel by channel, which gives the same results as the
// comb over all channels followed by the mixer over all channels (the
// channels do not touch each other) while each channel's data is at hand.
#pragma once

#include "rx/receiver.h"
#include "rx/stages.h"

namespace talvo {

// One channel's comb step; `keep` is 1 - infrgew and `gew` is infrgew.
inline void comb_channel(Receiver& r, int j, double x, double keep, double gew) {
  const int m = r.time[j];
  const double v = keep * r.inframesmem[j][m] + gew * x;
  r.inframesmem[j][m] = v;
  r.infr[j] = v;
}

// The tick stages over every channel that ticked on this sample, in the
// order the sample loop calls them.
void iqabs(Receiver& r);
void absmittel(Receiver& r);
void nlg1(Receiver& r);
void adaptthreshold2(Receiver& r);

// All four, after a sample on which some channel ticked (newdataflag).
inline void tick_stages(Receiver& r) {
  iqabs(r);
  absmittel(r);
  nlg1(r);
  adaptthreshold2(r);
}

inline void mix_channel(Receiver& r, int j) {
  const int t = r.time[j];
  r.Mixre[j] = r.C[j][t] * r.infr[j] + r.Mixre[j];
  r.Mixim[j] = r.S[j][t] * r.infr[j] + r.Mixim[j];
  if (t + 1 != r.mixperiode[j]) {
    r.time[j] = t + 1;
    r.newdata[j] = 0;
  } else {
    r.IQre[j] = r.Mixre[j] / r.mixperiode[j];
    r.IQim[j] = r.Mixim[j] / r.mixperiode[j];
    r.Mixre[j] = 0.0;
    r.Mixim[j] = 0.0;
    r.time[j] = 0;
    r.newdata[j] = 1;
    r.newdataflag = 1;
  }
}

// The tone is taken at the counter as just advanced: 0 on the tick itself.
// |txampl| <= 20000, so the truncated product always fits 16 bits.
inline void transmit_tone(Receiver& r) {
  r.txtick = r.newdata[r.txch];
  r.wert = static_cast<short>(static_cast<int>(r.txampl * r.S[r.txch][r.time[r.txch]]));
}

inline void mixer(Receiver& r, double /*in: the comb output is what is mixed*/) {
  for (int j = -kanaele; j <= kanaele; j++)
    mix_channel(r, j);
  transmit_tone(r);
}

// Comb and mixer for one input sample; clears and sets newdataflag.
inline void receive_sample(Receiver& r, double in) {
  const double gew = r.infrgew;
  r.newdataflag = 0;
  for (int j = -kanaele; j <= kanaele; j++) {
    comb_channel(r, j, in, 1 - gew, gew);
    mix_channel(r, j);
  }
  transmit_tone(r);
}

}  // namespace talvo
