#include "rx/block.h"

#include "rx/stages.h"

namespace talvo {
namespace {

// One channel's comb and mixer state, held in locals over a block.
struct Lane {
  int j, ci;
  double* mem;      // comb ring
  const double* C;  // oscillator tables
  const double* S;
  int P;       // period, samples
  int t;       // phase counter and comb slot
  double mre;  // running sums of the current period
  double mim;
  double v;  // comb output of the last sample
  int ticks;

  Lane(Receiver& r, int ch, BlockTicks& bt)
      : j(ch),
        ci(ch + kanaele),
        mem(r.inframesmem[ch].data()),
        C(r.C[ch].data()),
        S(r.S[ch].data()),
        P(r.mixperiode[ch]),
        t(r.time[ch]),
        mre(r.Mixre[ch]),
        mim(r.Mixim[ch]),
        v(r.infr[ch]),
        ticks(0) {
    bt.start_time[ci] = t;
  }

  // Comb and mixer for sample k; records the I/Q pair when the period ends.
  void step(double x, double keep, double gew, int k, BlockTicks& bt) {
    v = keep * mem[t] + gew * x;
    mem[t] = v;
    mre = C[t] * v + mre;
    mim = S[t] * v + mim;
    if (++t == P) {
      bt.iqre[ci][ticks] = mre / P;
      bt.iqim[ci][ticks] = mim / P;
      bt.tick_sample[ci][ticks] = k;
      bt.mask[k] |= uint64_t{1} << ci;
      ticks++;
      mre = 0.0;
      mim = 0.0;
      t = 0;
    }
  }

  void store(Receiver& r, BlockTicks& bt) const {
    r.time[j] = t;
    r.Mixre[j] = mre;
    r.Mixim[j] = mim;
    r.infr[j] = v;
    bt.ticks[ci] = ticks;
  }
};

// The comb and the mixer of every channel over the block, two channels side
// by side so that their running sums overlap in the processor.
void comb_and_mix(Receiver& r, const double* in, int n, BlockTicks& bt) {
  const double gew = r.infrgew;
  const double keep = 1 - gew;
  int j = -kanaele;
  for (; j + 1 <= kanaele; j += 2) {
    Lane a(r, j, bt), b(r, j + 1, bt);
    for (int k = 0; k < n; k++) {
      a.step(in[k], keep, gew, k, bt);
      b.step(in[k], keep, gew, k, bt);
    }
    a.store(r, bt);
    b.store(r, bt);
  }
  for (; j <= kanaele; j++) {
    Lane a(r, j, bt);
    for (int k = 0; k < n; k++)
      a.step(in[k], keep, gew, k, bt);
    a.store(r, bt);
  }
}

// The cluster maximum as it stood on sample k: each member's average after
// its last tick up to and including k.
double cluster_max_at(const BlockTicks& bt, int c, int k, int (&cursor)[5]) {
  double locmax = 0.0;
  for (int i = -2; i <= 2; i++) {
    const int m = c + i;
    if (m < -kanaele || m > kanaele) continue;
    const int mi = m + kanaele;
    int& cur = cursor[i + 2];
    while (cur < bt.ticks[mi] && bt.tick_sample[mi][cur] <= k)
      cur++;
    const double v = cur == 0 ? bt.start_mittel1[mi] : bt.tick_mittel1[mi][cur - 1];
    locmax = v > locmax ? v : locmax;
  }
  return locmax;
}

}  // namespace

void receive_block(Receiver& r, const double* in, int n, BlockTicks& bt) {
  bt.n = n;
  for (int k = 0; k < n; k++)
    bt.mask[k] = 0;

  // Channel by channel: comb and mixer, then the I/Q low-pass and the
  // average at each tick.
  comb_and_mix(r, in, n, bt);
  for (int j = -kanaele; j <= kanaele; j++) {
    const int ci = j + kanaele;
    bt.start_mittel1[ci] = r.valueabsmittel1[j];
    for (int m = 0; m < bt.ticks[ci]; m++) {
      r.IQre[j] = bt.iqre[ci][m];
      r.IQim[j] = bt.iqim[ci][m];
      iqabs_channel(r, j);
      absmittel_channel(r, j);
      bt.tick_mittel1[ci][m] = r.valueabsmittel1[j];
    }
  }

  // Cluster by cluster: envelope, smoothing and threshold at each tick of
  // the centre.
  for (int c = -kLastCentre; c <= kLastCentre; c += 5) {
    const int ci = c + kanaele;
    const int q = (c + kLastCentre) / 5;
    bt.start_thr[q] = r.valuethr[c];
    bt.next_thr[q] = 0;
    int cursor[5] = {};
    const int ticks = bt.ticks[ci];
    for (int m = 0; m < ticks; m++)
      bt.env[m] = cluster_max_at(bt, c, bt.tick_sample[ci][m], cursor);
    nlg1_run(r, c, bt.env, ticks, bt.nlg);
    for (int m = 0; m < ticks; m++) {
      r.valuenlg1[c] = bt.nlg[m];
      adaptthreshold2_channel(r, c);
      bt.thr[q][m] = r.valuethr[c];
    }
    if (ticks > 0) r.valueabsmittel[c] = bt.env[ticks - 1];
    // The envelope as the block's last tick sample leaves it (a cluster none
    // of whose members ticked computes its old value again).
    absmittel_cluster(r, c);
    // The key states are replayed sample by sample.
    r.valuethr[c] = bt.start_thr[q];
  }
}

int apply_ticks(Receiver& r, BlockTicks& bt, int k) {
  const uint64_t now = bt.mask[k];
  for (uint64_t b = bt.applied & ~now; b != 0; b &= b - 1)
    r.newdata[__builtin_ctzll(b) - kanaele] = 0;
  for (uint64_t b = now; b != 0; b &= b - 1)
    r.newdata[__builtin_ctzll(b) - kanaele] = 1;
  bt.applied = now;
  r.newdataflag = now != 0;
  r.txtick = static_cast<int>((now >> (r.txch + kanaele)) & 1);
  return r.newdataflag;
}

void apply_key_states(Receiver& r, BlockTicks& bt, int k) {
  for (uint64_t b = bt.mask[k]; b != 0; b &= b - 1) {
    const int j = __builtin_ctzll(b) - kanaele;
    if (is_cluster_centre(j)) {
      const int q = (j + kLastCentre) / 5;
      r.valuethr[j] = bt.thr[q][bt.next_thr[q]++];
    }
  }
}

short tone_at(const Receiver& r, const BlockTicks& bt, int k, int ch, int amplitude) {
  const int ci = ch + kanaele;
  const int pos = (bt.start_time[ci] + k + 1) % r.mixperiode[ch];
  return static_cast<short>(static_cast<int>(amplitude * r.S[ch][pos]));
}

}  // namespace talvo
