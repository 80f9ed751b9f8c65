#include "rx/block.h"

#include "rx/comb.h"
#include "rx/stages.h"

namespace talvo {
namespace {

// The comb and the mixer of one channel over the block, with the channel's
// state held in locals; records the I/Q pair of every tick.
void comb_and_mix(Receiver& r, int j, const double* in, int n, BlockTicks& bt) {
  const int ci = j + kanaele;
  double* const mem = r.inframesmem[j].data();
  const double* const C = r.C[j].data();
  const double* const S = r.S[j].data();
  const int P = r.mixperiode[j];
  const double gew = r.infrgew;
  const double keep = 1 - gew;
  const uint64_t bit = uint64_t{1} << ci;
  int t = r.time[j];
  double mre = r.Mixre[j];
  double mim = r.Mixim[j];
  double v = r.infr[j];
  int ticks = 0;
  bt.start_time[ci] = t;
  for (int k = 0; k < n; k++) {
    v = keep * mem[t] + gew * in[k];
    mem[t] = v;
    mre = C[t] * v + mre;
    mim = S[t] * v + mim;
    if (++t == P) {
      bt.iqre[ticks] = mre / P;
      bt.iqim[ticks] = mim / P;
      bt.tick_sample[ci][ticks] = k;
      bt.mask[k] |= bit;
      ticks++;
      mre = 0.0;
      mim = 0.0;
      t = 0;
    }
  }
  r.time[j] = t;
  r.Mixre[j] = mre;
  r.Mixim[j] = mim;
  r.infr[j] = v;
  bt.ticks[ci] = ticks;
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

  // Channel by channel: comb, mixer, then the I/Q low-pass and the average
  // at each tick.
  for (int j = -kanaele; j <= kanaele; j++) {
    const int ci = j + kanaele;
    bt.start_mittel1[ci] = r.valueabsmittel1[j];
    comb_and_mix(r, j, in, n, bt);
    for (int m = 0; m < bt.ticks[ci]; m++) {
      r.IQre[j] = bt.iqre[m];
      r.IQim[j] = bt.iqim[m];
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
    int m = 0;
    // Two ticks at a time where the block has them: their smoothing sums
    // are independent and overlap.
    for (; m + 1 < ticks; m += 2) {
      double out[2];
      nlg1_channel_pair(r, c, bt.env[m], bt.env[m + 1], out);
      for (int i = 0; i < 2; i++) {
        r.valuenlg1[c] = out[i];
        adaptthreshold2_channel(r, c);
        bt.thr[q][m + i] = r.valuethr[c];
      }
    }
    for (; m < ticks; m++) {
      r.valueabsmittel[c] = bt.env[m];
      nlg1_channel(r, c);
      adaptthreshold2_channel(r, c);
      bt.thr[q][m] = r.valuethr[c];
    }
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
  for (uint64_t b = now; b != 0; b &= b - 1) {
    const int j = __builtin_ctzll(b) - kanaele;
    r.newdata[j] = 1;
    if (is_cluster_centre(j)) {
      const int q = (j + kLastCentre) / 5;
      r.valuethr[j] = bt.thr[q][bt.next_thr[q]++];
    }
  }
  bt.applied = now;
  r.newdataflag = now != 0;
  r.txtick = static_cast<int>((now >> (r.txch + kanaele)) & 1);
  return r.newdataflag;
}

short tone_at(const Receiver& r, const BlockTicks& bt, int k) {
  const int ci = r.txch + kanaele;
  const int pos = (bt.start_time[ci] + k + 1) % r.mixperiode[r.txch];
  return static_cast<short>(static_cast<int>(r.txampl * r.S[r.txch][pos]));
}

}  // namespace talvo
