#include "rx/fine/group_floor.h"

#include <algorithm>

#include "rx/fine/common.h"

namespace talvo::fine {

void GroupFloor::make(const GroupFloorParams& p, int clusters) {
  p_ = p;
  cap_ = undb(p.floor_cap_db);
  range_ = undb(-p.range_db);
  floors_.resize(clusters);
  near_.assign(clusters, 0.0);
}

void GroupFloor::reset() {
  floor_ = 0;
  strongest_ = band_ = range_floor_ = 0;
  slow_ = 1;
  std::fill(near_.begin(), near_.end(), 0.0);
}

void GroupFloor::forget() {
  floor_ = 0;
  strongest_ = band_ = range_floor_ = 0;
  std::fill(near_.begin(), near_.end(), 0.0);
}

void GroupFloor::estimate_near(std::span<const double> noise, std::span<const int> blocks) {
  const int k = static_cast<int>(noise.size());
  for (int q = 0; q < k; q++) {
    double louder = 0;  // the louder side's quieter neighbour, units^2
    for (const int side : {-1, 1}) {
      double quieter = 0;
      for (int d = p_.near_from; d <= p_.near_to; d++) {
        const int j = q + side * d;
        if (j < 0 || j >= k || blocks[j] < p_.start_blocks || !(noise[j] > 0)) continue;
        quieter = quieter > 0 ? std::min(quieter, noise[j]) : noise[j];
      }
      louder = std::max(louder, quieter);
    }
    near_[q] = louder;
  }
}

void GroupFloor::estimate(std::span<const double> noise, std::span<const int> blocks,
                          std::span<const double> slow, std::span<const double> carrier) {
  const int k = static_cast<int>(noise.size());
  strongest_ = carrier.empty() ? 0.0 : *std::max_element(carrier.begin(), carrier.end());
  set_range_floor();
  int nf = 0;
  for (int q = 0; q < k; q++)
    if (blocks[q] >= p_.start_blocks && noise[q] > 0) floors_[nf++] = noise[q];
  if (nf > 0) {
    const int r = static_cast<int>(p_.group_percentile * nf);
    std::nth_element(floors_.begin(), floors_.begin() + r, floors_.begin() + nf);
    floor_ = floors_[r];
  }
  estimate_near(noise, blocks);
  int ns = 0;
  for (int q = 0; q < k; q++) {
    const double f = floor_of(q, noise[q], blocks[q]);
    if (blocks[q] >= p_.slow_blocks && f > 0) floors_[ns++] = slow[q] / f;
  }
  if (ns > 0) {
    std::nth_element(floors_.begin(), floors_.begin() + ns / 2, floors_.begin() + ns);
    slow_ = std::max(1.0, floors_[ns / 2]);
  }
}

void RisenNoise::make(const RisenNoiseParams& p) {
  p_ = p;
  rose_ratio_ = undb(p.rose_db);
  range_ = undb(-p.range_db);
  gentle_ratio_ = undb(p.gentle_db);
  gentle_cap_ = undb(p.gentle_cap_db);
  lifted_.assign(static_cast<std::size_t>(std::max(1, p.gentle_ticks)), 0);
}

void RisenNoise::reset() {
  lifted_n_ = lifted_pos_ = 0;
  lifted_sum_ = 0;
  rose_ = false;
  rose_run_ = 0;
  since_rose_ = 1 << 20;
}

RisenNoise::Result RisenNoise::step(std::span<const double> floor, std::span<const double> power,
                                    std::span<const double> lng, bool burst) {
  const int k = static_cast<int>(floor.size());
  // What stands more than range_db under the strongest cluster is its
  // station's products (clicks, a codec's noise), not a risen noise.
  const double strongest = k > 0 ? *std::max_element(power.begin(), power.end()) : 0.0;
  const double under = strongest * range_;
  int high = 0, lifted = 0;
  for (int q = 0; q < k; q++) {
    if (!(floor[q] > 0 && power[q] > under)) continue;
    high += power[q] > floor[q] * rose_ratio_;
    lifted += lng[q] > floor[q] * gentle_ratio_ && lng[q] < floor[q] * gentle_cap_;
  }
  rose_run_ = k >= p_.min_clusters && high >= p_.share * k && !burst ? rose_run_ + 1 : 0;
  const bool gently = gentle(lifted, k, burst);
  rose_ = rose_run_ >= p_.run_ticks || gently;
  Result r;
  r.rose = rose_;
  r.forget = rose_ && since_rose_ > p_.forget_ticks;
  since_rose_ = rose_ ? 0 : since_rose_ + 1;
  return r;
}

bool RisenNoise::gentle(int lifted, int k, bool burst) {
  if (burst || k < p_.gentle_clusters) {
    lifted_n_ = 0;
    lifted_sum_ = 0;
    return false;
  }
  const int w = static_cast<int>(lifted_.size());
  int& slot = lifted_[static_cast<std::size_t>(lifted_pos_)];
  lifted_pos_ = (lifted_pos_ + 1) % w;
  if (lifted_n_ == w)
    lifted_sum_ -= slot;
  else
    lifted_n_++;
  slot = lifted;
  lifted_sum_ += lifted;
  return lifted_n_ == w && static_cast<double>(lifted_sum_) >= p_.gentle_share * w * k;
}

}  // namespace talvo::fine
