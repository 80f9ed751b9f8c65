// The receive chain against a plain transcription of its definition.
//
// The stages keep their windows as mirrored rings and weigh nlg1's window
// without branches; this reference shifts every history by one place per
// tick and takes the weight's branches as written. Fed the same long random
// input, both must agree to the last bit at every tick of every channel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "rx/stages.h"
#include "support/oracle.h"
#include "support/signal.h"

namespace talvo {
namespace {

struct Reference {
  struct Chan {
    int P = 0, t = 0, n_iq = 0, n_abs = 0, w = 0, adapt_p = 0;
    std::vector<double> mem, C, S, hre, him, habs, hnlg, hadapt;
    double infr = 0, mre = 0, mim = 0, iqre = 0, iqim = 0, abs = 0, mittel1 = 0, mittel = 0,
           nlg = 0, sum = 0, thr = 0;
    int newdata = 0;
  };
  std::vector<Chan> ch;         // index j + 21
  long weights[3] = {0, 0, 0};  // how often each branch of the nlg1 weight was taken

  explicit Reference(const Receiver& r) : ch(2 * kanaele + 1) {
    for (int j = -kanaele; j <= kanaele; j++) {
      Chan& c = ch[j + kanaele];
      c.P = r.mixperiode[j];
      c.C = r.C[j];
      c.S = r.S[j];
      c.mem.assign(c.P, 0.0);
      c.n_iq = r.freq(j) / 50;
      c.n_abs = r.freq(j) / 100;
      c.w = (r.centerfreq - j * 10) / 5;
      c.hre.assign(c.n_iq, 0.0);
      c.him.assign(c.n_iq, 0.0);
      c.habs.assign(c.n_abs, 0.0);
      c.hnlg.assign(2 * c.w + 1, 0.0);
      c.hadapt.assign(500, 0.0);
    }
  }
  Chan& at(int j) { return ch[j + kanaele]; }

  static void shift_in(std::vector<double>& h, double v) {
    for (std::size_t i = 0; i + 1 < h.size(); i++)
      h[i] = h[i + 1];
    h.back() = v;
  }
  static double taper(const std::vector<double>& h) {
    const int n = static_cast<int>(h.size());
    double s = 0.0;
    const double wt[5] = {0.2, 0.3, 0.5, 0.7, 0.9};
    for (int k = 0; k < 5; k++)
      s = s + wt[k] * h[k];
    if (n > 10)
      for (int k = 5; k <= n - 6; k++)
        s = s + h[k];
    for (int k = 0; k < 5; k++)
      s = s + wt[k] * h[n - 1 - k];
    return s;
  }

  void sample(double x) {
    for (auto& c : ch) {
      const double v = (1 - 0.1) * c.mem[c.t] + 0.1 * x;
      c.mem[c.t] = v;
      c.infr = v;
      c.mre = c.C[c.t] * c.infr + c.mre;
      c.mim = c.S[c.t] * c.infr + c.mim;
      c.t++;
      c.newdata = 0;
      if (c.t == c.P) {
        c.iqre = c.mre / c.P;
        c.iqim = c.mim / c.P;
        c.mre = c.mim = 0.0;
        c.t = 0;
        c.newdata = 1;
      }
    }
  }

  void tick() {
    for (auto& c : ch) {
      if (!c.newdata) continue;
      shift_in(c.hre, c.iqre);
      shift_in(c.him, c.iqim);
      const double R = taper(c.hre) / c.n_iq, I = taper(c.him) / c.n_iq;
      c.abs = std::sqrt(R * R + I * I);
      shift_in(c.habs, c.abs);
      double s = 0.0;
      for (double v : c.habs)
        s = s + v;
      c.mittel1 = s / c.n_abs;
    }
    for (int c = -20; c <= 20; c += 5) {
      double m = 0.0;
      for (int i = -2; i <= 2; i++)
        if (std::abs(c + i) <= kanaele && at(c + i).mittel1 > m) m = at(c + i).mittel1;
      at(c).mittel = m;
    }
    for (int j = -20; j <= 20; j += 5) {
      Chan& c = at(j);
      if (!c.newdata) continue;
      shift_in(c.hnlg, c.mittel);
      const double centre = c.hnlg[c.w], s = 200;
      double sum = 0.0, gew = 0.0;
      for (double v : c.hnlg) {
        const double d = std::fabs(v - centre);
        double g;
        if (d < s) {
          g = 1;
          weights[0]++;
        } else if (d < 1.5 * s) {
          g = 1 - (d - s) / (0.5 * s);
          weights[1]++;
        } else {
          g = 0;
          weights[2]++;
        }
        sum = sum + g * v;
        gew = gew + g;
      }
      c.nlg = sum / gew;
      const long double x = static_cast<long double>(c.nlg) -
                            static_cast<long double>(0.2) * (static_cast<long double>(c.sum) / 500);
      const int sigdiff = static_cast<int>(x);
      c.thr = sigdiff > 1000 ? sigdiff : 0.0;
      c.sum = (c.nlg - c.hadapt[c.adapt_p]) + c.sum;
      c.hadapt[c.adapt_p] = c.nlg;
      c.adapt_p = (c.adapt_p + 1) % 500;
    }
  }
};

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void compare_on(int centerfreq, const std::vector<int16_t>& audio, double gain) {
  auto rx = init(centerfreq);
  Reference ref(*rx);
  long ticks = 0;
  for (std::size_t n = 0; n < audio.size(); n++) {
    const double in = audio[n] * gain;
    receive_sample(*rx, in);
    ref.sample(in);
    if (!rx->newdataflag) continue;
    tick_stages(*rx);
    ref.tick();
    for (int j = -kanaele; j <= kanaele; j++) {
      auto& c = ref.at(j);
      ASSERT_EQ(rx->newdata[j], c.newdata) << "sample " << n << " channel " << j;
      if (!c.newdata) continue;
      ticks++;
      ASSERT_TRUE(same_bits(rx->valueabs[j], c.abs)) << "sample " << n << " channel " << j;
      ASSERT_TRUE(same_bits(rx->valueabsmittel1[j], c.mittel1)) << n << " " << j;
      if (!is_cluster_centre(j)) continue;
      ASSERT_TRUE(same_bits(rx->valueabsmittel[j], c.mittel)) << n << " " << j;
      ASSERT_TRUE(same_bits(rx->valuenlg1[j], c.nlg)) << n << " " << j;
      ASSERT_TRUE(same_bits(rx->valuethr[j], c.thr)) << n << " " << j;
    }
  }
  EXPECT_GT(ticks, 0);
  // The input must have exercised every branch of the weight, or the
  // comparison proves little about it.
  EXPECT_GT(ref.weights[0], 0);
  EXPECT_GT(ref.weights[1], 1000);
  EXPECT_GT(ref.weights[2], 1000);
}

// Random keyed tones on random channels, noise whose level jumps, and a
// stretch of silence.
std::vector<int16_t> random_audio(int centerfreq, uint32_t seed, double seconds) {
  const auto tones =
      test::random_tones(6, centerfreq - 220, centerfreq + 220, 500, 6500, seconds, seed);
  auto a = test::mix(tones, seconds, 300, seed);
  auto noise = test::mix({}, seconds, 2500, seed + 1);
  for (std::size_t i = 0; i < a.size(); i++) {
    const double t = static_cast<double>(i) / 48000;
    if (static_cast<int>(t * 2) % 3 == 1) a[i] = static_cast<int16_t>(a[i] / 2 + noise[i] / 2);
    if (t > seconds * 0.8 && t < seconds * 0.85) a[i] = 0;
  }
  return a;
}

TEST(ReferenceChain, BitExactOnLongRandomInputAt700Hz) {
  compare_on(700, random_audio(700, 11, 40.0), 1.0);
}

TEST(ReferenceChain, BitExactAtOtherCentresAndGains) {
  compare_on(460, random_audio(460, 12, 10.0), 2.3);
  compare_on(1500, random_audio(1500, 13, 10.0), 0.7);
}

}  // namespace
}  // namespace talvo
