// The fine receive front end: the stages of src/rx/fine/ composed (see
// fine.h for their order and each stage's header for its account). This
// file holds the plan, the construction, the order of the stage calls each
// tick up to the channel filters, the plain per-cluster values the stages
// that see every cluster are given, and the output; fine_judge.cpp judges
// each tick (fine_state.h: the parameters and the state both share).
#include "rx/fine.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>

#include "rx/fine_state.h"

namespace talvo {

std::string FineFrontEnd::check(const FinePlan& p) {
  if (p.sample_rate <= 0 || p.sample_rate % kTickRate != 0)
    return "the sample rate must be a positive multiple of 500 Hz";
  if (p.sample_rate / kTickRate < 2) return "the sample rate must be at least 1000 Hz";
  if (p.native_rate < 0) return "the native sample rate must not be negative";
  if (p.centres_hz.empty()) return "no cluster centres";
  if (p.bank && !p.iq) return "a shared filter bank takes I/Q input only";
  if (p.bank && std::lround(p.bank->rate() * p.bank->decimation()) != p.sample_rate)
    return "the shared filter bank runs at another rate";
  const double half = p.sample_rate / 2.0;
  for (std::size_t i = 0; i < p.centres_hz.size(); i++) {
    const double c = p.centres_hz[i];
    if (!std::isfinite(c)) return "a cluster centre is not a number";
    if (p.iq ? (c < -half + 50 || c > half - 50) : (c < 50 || c > half - 50))
      return "a cluster centre lies outside the band";
    if (i > 0 && c < p.centres_hz[i - 1] + 20)
      return "cluster centres must ascend at least 20 Hz apart";
  }
  return "";
}

FineFrontEnd::FineFrontEnd(const FinePlan& plan) : s_(std::make_unique<State>()) {
  const std::string why = check(plan);
  if (!why.empty()) throw std::invalid_argument(why);
  State& s = *s_;
  s.plan = plan;
  s.spt = plan.sample_rate / kTickRate;
  const int k = static_cast<int>(plan.centres_hz.size());
  // The rounding noise is white over the native band.
  const double native = plan.native_rate > 0 ? plan.native_rate : plan.sample_rate;
  if (plan.bank)
    s.chan.make(fine::ChanneliserParams{}, *plan.bank, s.spt, plan.centres_hz);
  else
    s.chan.make(fine::ChanneliserParams{}, plan.sample_rate, s.spt, plan.iq, plan.centres_hz,
                kMaxFrames);
  s.chd = fine::design_channel(kChannel, kMaxWin);

  fine::NoiseFloorParams noise = kNoise;
  noise.rises = plan.bank == nullptr;
  s.decide_lag = std::max({(kLong - 1) / 2, (kShort - 1) / 2 + kGuardReach, (kMaxWin - 1) / 2});
  s.cl.resize(k);
  for (int q = 0; q < k; q++) {
    auto& c = s.cl[q];
    c.centre = plan.centres_hz[q];
    c.power.make(kChannel, s.chd);
    c.key.make(kKey);
    c.weak.make(kWeak, kHoldBack);
    c.nf.make(noise, fine::kRounding * s.chd.bn / native);
    fine::DotLengthParams dp = kDots;
    dp.max_marks = kWeak.runs_marks;
    c.dot.make(dp);
    c.acq.make(kAcquire);
    c.car.make(kCarrier, s.chd, s.decide_lag);
  }
  s.runs.make(std::min(k, kWeak.pool), kDots.max_ticks, kHoldBack);
  std::vector<double> mixing(k);
  for (int q = 0; q < k; q++)
    mixing[q] = s.chan.mixing(plan.centres_hz[q]);
  fine::SubtractorParams sp = kSub;
  sp.neighbour_hz = kGuard.neighbour_hz;
  sp.edge_guard_db = kGuard.edge_db;
  s.sub.make(sp, s.chd, plan.centres_hz, mixing, s.chan.cluster_taps(), plan.subtract);
  s.views.resize(k);
  s.v_z.resize(k);
  s.v_turn.resize(k);
  fine::GroupFloorParams gp;
  gp.block_ticks = kNoise.block_ticks;
  gp.min_blocks = kNoise.min_blocks;
  gp.slow_blocks = kAcquire.slow_blocks;
  s.group.make(gp, k);
  s.risen.make(kRisen);
  s.imp.make(kImpulse, k);
  s.tone.make(kTone);
  s.wide.make(kWide, k);
  // White envelope noise passes the channel filter (its taps summing to 1)
  // at its noise bandwidth over the tick rate.
  s.wide_gain = kTickRate / s.chd.bn;
  s.watch.make(fine::WatchParams{}, k);
  s.sleeps = plan.bank != nullptr;
  fine::GuardParams guard = kGuard;
  guard.subtract_hz = kSub.subtract_hz;
  guard.settled_hz = kSub.settled_hz;
  guard.settled_tone_hz = kSub.settled_tone_hz;
  guard.same_hz = kSub.same_hz;
  guard.own_hz = sp.own_hz + sp.spare_hz;
  guard.short_half = (kShort - 1) / 2;
  s.guards.make(guard, plan.centres_hz);
  for (auto* v : {&s.v_noise, &s.v_slow, &s.v_carrier, &s.v_floor, &s.v_power, &s.v_long, &s.v_raw,
                  &s.v_n, &s.v_wide, &s.wide_log})
    v->resize(k);
  s.v_blocks.resize(k);
  s.delay = (s.chan.delay_frames() + (s.chd.taps.size() - 1) / 2.0 * s.spt) / s.spt +
            s.sub.sub_lag() + s.decide_lag + kHoldBack;
  s.max_ticks = kMaxFrames / s.spt + 1;
  s.frames.resize(s.max_ticks);
  s.keys.resize(static_cast<std::size_t>(k) * s.max_ticks);
  s.levels.resize(static_cast<std::size_t>(k) * s.max_ticks);
  reset();
}

FineFrontEnd::~FineFrontEnd() = default;

void FineFrontEnd::reset() {
  State& s = *s_;
  s.chan.reset();
  for (auto& c : s.cl) {
    c.power.reset();
    c.nf.reset();
    c.acq.reset();
    c.car.reset();
    c.dot.reset();
    c.weak.reset();
    c.key.reset();
    c.off_share = 0;
    c.tune = 0;
    c.turn_step = 1;
    c.mix = 1;
  }
  s.runs.reset();
  s.group.reset();
  s.guards.reset();
  s.sub.reset();
  for (auto& w : s.views)
    w.still = false;  // the subtractor chooses afresh for each
  s.risen.reset();
  s.imp.reset();
  s.tone.reset();
  s.wide.reset();
  std::fill(s.wide_log.begin(), s.wide_log.end(), 0.0);
  s.taps_left = 1;
  s.watch.reset();
  s.tick = 0;
  s.nticks = 0;
}

int FineFrontEnd::clusters() const {
  return static_cast<int>(s_->cl.size());
}
double FineFrontEnd::centre_hz(int q) const {
  return s_->cl[q].centre;
}
double FineFrontEnd::tick_rate() const {
  return kTickRate;
}
int FineFrontEnd::samples_per_tick() const {
  return s_->spt;
}
double FineFrontEnd::delay_ticks() const {
  return s_->delay;
}
double FineFrontEnd::noise_bandwidth_hz() const {
  return s_->chd.bn;
}
int FineFrontEnd::ticks() const {
  return s_->nticks;
}
int FineFrontEnd::tick_frame(int t) const {
  return s_->frames[t];
}
double FineFrontEnd::key(int q, int t) const {
  return s_->keys[q * s_->max_ticks + t];
}
double FineFrontEnd::level(int q, int t) const {
  return s_->levels[q * s_->max_ticks + t];
}

double FineFrontEnd::snr_db(int q) const {
  const auto& c = s_->cl[q];
  const double n = s_->floor_of(c);
  if (c.car.carrier() <= 0 || n <= 0) return -99;
  return db(c.car.carrier() / n) + db(s_->chd.bn / 500);
}

double FineFrontEnd::tone_hz(int q) const {
  const auto& c = s_->cl[q];
  const double off = std::norm(c.car.rot()) > 0 ? std::arg(c.car.rot()) : 0.0;
  return c.centre + (c.tune + off) * kTickRate / (2 * std::numbers::pi);
}

double FineFrontEnd::key_level(int q) const {
  const auto& c = s_->cl[q];
  const double p = c.car.carrier();
  return s_->plan.iq ? std::sqrt(p) : 2 * std::sqrt(p);
}

double FineFrontEnd::noise_floor(int q) const {
  const auto& c = s_->cl[q];
  return std::sqrt(s_->floor_of(c) * s_->plan.sample_rate / s_->chd.bn);
}

double FineFrontEnd::strongest_carrier() const {
  return s_->group.strongest();
}

bool FineFrontEnd::taken_out(int q) const {
  return s_->sub.settled()[static_cast<std::size_t>(q)] != 0 && s_->sub.model(q).fits();
}

double FineFrontEnd::subtract_near_hz() {
  return kSub.own_hz + kSub.spare_hz;
}

double FineFrontEnd::subtract_far_hz() {
  return kSub.subtract_hz;
}

void FineFrontEnd::set_band_carrier(double carrier) {
  s_->group.set_band(carrier);
}

long long FineFrontEnd::burst_newest(bool wide) const {
  return wide ? s_->wide.newest() : s_->imp.newest();
}

bool FineFrontEnd::burst_marked(bool wide, long long t) const {
  const auto& d = wide ? s_->wide : s_->imp;
  return t >= 0 && t <= d.newest() && d.told(t);
}

void FineFrontEnd::join_bursts(bool wide, long long from, std::span<const unsigned char> told) {
  (wide ? s_->wide : s_->imp).join(from, told);
}

void FineFrontEnd::run(const float* in, int n) {
  State& s = *s_;
  s.nticks = 0;
  n = std::clamp(n, 0, kMaxFrames);
  if (s.chan.banked()) {
    for (int i = s.chan.next_tick(0, n); i < n; i = s.chan.next_tick(i + 1, n))
      s.tick_done(i);
    return;
  }
  s.chan.begin(in, n);
  for (int i = 0; i < n; i++) {
    if (!s.chan.step(in, i)) continue;
    s.tick_done(i);
  }
}

// A band-wide burst on the wide envelopes of tick t (their powers scaled
// to the channel filter's noise bandwidth), against the floors the
// clusters key against or the mean log of their own power, whichever
// stands higher. Also keeps each cluster's floor for the tick in v_n.
//
// Mostly no burst can be there: a cluster whose power stands under its
// own floor's rise stands under the higher one too, so the mean log's
// floor is taken only where the power stands over its own (the test reads
// no other, impulses.h), and on every cluster, with the strongest
// station's level, only where enough of them do that a burst may be told.
void FineFrontEnd::State::wide_step(long long t) {
  const int k = static_cast<int>(cl.size());
  const double a = std::max(1.0 / (t + 1), kWideTrack);
  const double rise = wide.rise();
  int high = 0;
  for (int q = 0; q < k; q++) {
    v_wide[q] = std::norm(v_z[q]) / wide_gain;
    const double n = floor_of(cl[q]);
    v_n[q] = n;
    v_floor[q] = n;
    if (n > 0 && v_wide[q] > n * rise) {
      v_floor[q] = std::max(n, std::exp(wide_log[q]));
      high++;
    }
  }
  // Before any station keyed, and for the first seconds, none is told
  // there: the stations of a busy band starting together lift the wide
  // envelopes as one, over the noise their mean level has learnt so far.
  double over = HUGE_VAL;
  if (wide.may_tell(high)) {
    over = 0;
    for (int q = 0; q < k; q++) {
      const double n = v_n[q];
      if (!(n > 0)) continue;
      v_floor[q] = std::max(n, std::exp(wide_log[q]));
      over = std::max(over, cl[q].car.carrier() / n);
    }
    if (!(over > 0 && t >= kWideWarm)) over = HUGE_VAL;
  }
  wide.step(t, v_floor, v_wide, 1, over);
  if (!wide.blank(t))
    for (int q = 0; q < k; q++)
      wide_log[q] += a * (std::log(v_wide[q] + 1e-30) - wide_log[q]);
}

// The gain of the channel filters' output at tick v: 1 over the part of
// their taps that fell on ticks not blanked (at most 1 / kWideLeast); the
// part is kept for the burst stage.
float FineFrontEnd::State::blank_gain(long long v) {
  const int len = static_cast<int>(chd.taps.size());
  double left = 1;
  if (wide.any() && wide.blanked(v - (len - 1), v) > 0) {
    left = 0;
    for (int j = 0; j < len; j++)
      if (!wide.blank(v - j)) left += chd.taps[j];
  }
  taps_left = left;
  return left < 1 ? static_cast<float>(1 / std::max(left, kWideLeast)) : 1.0f;
}

// One tick on every cluster: the decimated envelope and the model of its
// station; then, sub_lag ticks back, the envelope less the models of the
// neighbours' strong stations through the channel filter, its power, its
// averages and the noise blocks; then the judgement of the tick decide_lag
// ticks back from that.
void FineFrontEnd::State::tick_done(int frame) {
  const long long t = tick;
  const int k = static_cast<int>(cl.size());
  chan.clusters(v_z.data(), v_turn.data());
  wide_step(t);
  for (int q = 0; q < k; q++) {
    if (sleeps && !watch.awake(q))
      sub.rest(q, t, v_z[q], v_turn[q]);
    else
      sub.track(q, t, v_z[q], v_turn[q], v_n[q]);
  }
  for (int q = 0; q < k; q++) {
    const auto& c = cl[q];
    auto& w = views[q];
    w.floor = v_n[q];
    // Asleep, its carrier and tone stand as they were (and it is not ready).
    w.still = sleeps && !watch.awake(q) && !w.ready;
    if (w.still) continue;
    w.carrier = c.car.carrier();
    w.toned = c.car.toned();
    w.off = w.toned ? c.tune + std::arg(c.car.rot()) : 0.0;
    w.ready = c.acq.ready();
  }
  sub.choose(views);
  frames[nticks] = frame;
  if (t < sub.sub_lag()) {  // nothing has come through the subtraction's delay yet
    for (int q = 0; q < k; q++)
      keys[q * max_ticks + nticks] = levels[q * max_ticks + nticks] = 0;
    nticks++;
    tick++;
    return;
  }
  const long long v = t - sub.sub_lag();
  sub.predict(v);
  const bool blanked = wide.any() && wide.blank(v);
  const float gain = blank_gain(v);
  for (int q = 0; q < k; q++) {
    auto& c = cl[q];
    cfloat r = blanked ? cfloat{} : sub.residue(q, v);
    if (c.tune != 0) {  // retuned onto its station's tone
      r *= cfloat(c.mix);
      c.mix *= c.turn_step;
    }
    if (!sleeps) {
      c.power.step(v, r, gain);
      continue;
    }
    // Asleep, only watched: its channel filter runs every few ticks, and
    // when it wakes the filter runs again over the ticks still held.
    if (watch.awake(q))
      c.power.step(v, r, gain);
    else
      c.power.rest(v, r, gain);
    const double n = v_n[q];
    const bool busy = c.acq.ready() || c.key.down() || c.key.run() > 0 || c.acq.present(n);
    watch.step(q, c.power.shrt(v - (kShort - 1) / 2), c.power.lng(v - (kLong - 1) / 2), n, busy);
    if (c.power.rested() && watch.awake(q)) c.power.prime(v);
  }
  judge(v - decide_lag, nticks);
  nticks++;
  tick++;
}

}  // namespace talvo
