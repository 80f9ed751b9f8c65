// The block pipeline against the sample-by-sample chain: the same input in
// blocks of every size must give the same key states on the same samples,
// and leave the same receiver behind, to the last bit.
#include "rx/block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "rx/stages.h"
#include "support/oracle.h"
#include "support/signal.h"

namespace talvo {
namespace {

bool same(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::vector<int16_t> busy_audio(int centerfreq, uint32_t seed, double seconds) {
  const auto tones = test::random_tones(5, centerfreq - 200, centerfreq + 200, 3000, 9000, seconds,
                                        seed, 0.03, 0.15, 0.05, 0.2);
  return test::mix(tones, seconds, 1500, seed);
}

void expect_same_as_per_sample(int centerfreq, const std::vector<int16_t>& audio, uint32_t seed,
                               int fixed_block = 0, long min_keydown = 1000) {
  auto a = init(centerfreq);  // sample by sample
  auto b = init(centerfreq);  // in blocks
  auto bt = std::make_unique<BlockTicks>();
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> size(1, kBlock);
  std::vector<double> in(kBlock);
  a->txch = b->txch = 5;
  a->txampl = b->txampl = 12345;
  long tick_samples = 0, keydown = 0;
  for (std::size_t s = 0; s < audio.size();) {
    const int n = static_cast<int>(
        std::min<std::size_t>(fixed_block ? fixed_block : size(gen), audio.size() - s));
    for (int k = 0; k < n; k++)
      in[k] = audio[s + k] * 1.7;
    receive_block(*b, in.data(), n, *bt);
    for (int k = 0; k < n; k++) {
      receive_sample(*a, in[k]);
      const int flag = apply_ticks(*b, *bt, k);
      apply_key_states(*b, *bt, k);
      ASSERT_EQ(flag, a->newdataflag) << "sample " << s + k;
      ASSERT_EQ(b->txtick, a->txtick) << "sample " << s + k;
      ASSERT_EQ(tone_at(*b, *bt, k, 5, 12345), a->wert) << "sample " << s + k;
      if (!flag) continue;
      tick_samples++;
      tick_stages(*a);
      for (int j = -kanaele; j <= kanaele; j++)
        ASSERT_EQ(b->newdata[j], a->newdata[j]);
      for (int c = -20; c <= 20; c += 5) {
        ASSERT_TRUE(same(b->valuethr[c], a->valuethr[c])) << "sample " << s + k << " " << c;
        keydown += a->valuethr[c] != 0.0;
      }
    }
    s += n;
    // Between blocks the whole receiver agrees.
    for (int j = -kanaele; j <= kanaele; j++) {
      ASSERT_EQ(b->time[j], a->time[j]);
      ASSERT_TRUE(same(b->infr[j], a->infr[j])) << j;
      ASSERT_TRUE(same(b->Mixre[j], a->Mixre[j])) << j;
      ASSERT_TRUE(same(b->Mixim[j], a->Mixim[j])) << j;
      ASSERT_TRUE(same(b->IQre[j], a->IQre[j])) << j;
      ASSERT_TRUE(same(b->valueabs[j], a->valueabs[j])) << j;
      ASSERT_TRUE(same(b->valueabsmittel1[j], a->valueabsmittel1[j])) << j;
      if (!is_cluster_centre(j)) continue;
      ASSERT_TRUE(same(b->valueabsmittel[j], a->valueabsmittel[j])) << j;
      ASSERT_TRUE(same(b->valuenlg1[j], a->valuenlg1[j])) << j;
      ASSERT_TRUE(same(b->sum[j], a->sum[j])) << j;
    }
  }
  EXPECT_GT(tick_samples, 1000);
  EXPECT_GE(keydown, min_keydown);  // the key states were not all trivially zero
}

TEST(BlockPipeline, SameAsSampleBySampleInBlocksOfRandomSize) {
  expect_same_as_per_sample(700, busy_audio(700, 21, 12.0), 1);
  expect_same_as_per_sample(1000, busy_audio(1000, 22, 4.0), 2);
}

TEST(BlockPipeline, SameInSingleSamplesAndFullBlocks) {
  const auto audio = busy_audio(600, 23, 3.0);
  expect_same_as_per_sample(600, audio, 3, 1);
  expect_same_as_per_sample(600, audio, 4, kBlock);
}

TEST(BlockPipeline, ShortestPeriodsFillTheTickRecords) {
  // At the top of the channel plan the highest channels tick every second
  // sample: a full block holds the most ticks it ever will.
  auto r = init(kMaxCenterfreq);
  ASSERT_EQ(r->mixperiode[kanaele], 2);
  expect_same_as_per_sample(kMaxCenterfreq, test::mix({}, 0.2, 3000, 5), 6, kBlock, 0);
}

}  // namespace
}  // namespace talvo
