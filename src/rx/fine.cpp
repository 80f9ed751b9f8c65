// The fine receive front end: the stages of src/rx/fine/ composed (see
// fine.h for their order and each stage's header for its account). This
// file holds the plan, the order of the stage calls each tick, the plain
// per-cluster values the stages that see every cluster are given, and the
// output.
#include "rx/fine.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>

#include "rx/fine/acquisition.h"
#include "rx/fine/carrier.h"
#include "rx/fine/channel_power.h"
#include "rx/fine/channeliser.h"
#include "rx/fine/common.h"
#include "rx/fine/dot_length.h"
#include "rx/fine/filter_bank.h"
#include "rx/fine/group_floor.h"
#include "rx/fine/guards.h"
#include "rx/fine/impulses.h"
#include "rx/fine/key_decision.h"
#include "rx/fine/noise_floor.h"
#include "rx/fine/subtractor.h"
#include "rx/fine/watch.h"
#include "rx/fine/weak_runs.h"

namespace talvo {

namespace {

using fine::cfloat;
using fine::db;
using fine::kTickRate;

// The stages' parameters (their defaults). Where two stages share a
// figure, one takes it from the other in the constructor.
constexpr fine::ChannelParams kChannel{};
constexpr fine::NoiseFloorParams kNoise{};
constexpr fine::RisenNoiseParams kRisen{};
constexpr fine::GuardParams kGuard{};
constexpr fine::ImpulseParams kImpulse{};
// The same test on the clusters' wide envelopes (+-250 Hz, each tick
// nearly alone), sub_lag ticks before they reach the channel filters: a
// burst 12 dB over the floors on three clusters in four for three ticks in
// a row is blanked there (its spread in the cluster decimator padded), so
// that the channel filters do not spread it over their 43 ticks. A
// station's wide envelope lifts its neighbours 250 Hz either side: a few
// stations keyed together, or the clicks of their edges, lift most of the
// band for a tick or two and some 7-14 dB (the bundled sample, the five
// stations of the golden outputs). Stations 400-500 Hz apart keyed down
// together lift all of it as long as their marks last, but each cluster's
// window holds their carriers as steady lines (within 4 dB over 3 ticks):
// no burst starts where three in four of the clusters standing high do.
// A crash rises within a tick: it starts where half the clusters rose
// over 5 ticks, or rose 8 dB over what they held then (a crash over the
// tail of the one before, which went unmarked where they had to stand low
// 20 ticks before). Its clusters spread further than white noise's 12 dB
// (at 20-50 dB over the floors, each tick a few samples of a decaying
// burst): its strongest cluster is not held against the others here, the
// strongest carrier is.
constexpr fine::ImpulseParams kWide{.rise_db = 12,
                                    .pad_before = 2,
                                    .pad_after = 3,
                                    .clicks_db = 12,
                                    .onset_ticks = 5,
                                    .fresh_db = 8,
                                    .min_run = 3,
                                    .steady_db = 4,
                                    .weights = false};
// Where strong stations fill the band, each cluster's wide envelope stands
// at their level much of the time: it is taken against the mean log of its
// own power as well (followed over 500 ticks), where that stands over its
// floor. A burst more than 14 dB under the strongest station's carrier is
// none (a clean recording's codec noise rises with its station's marks).
constexpr double kWideTrack = 1.0 / 500;  // per tick, the part the mean log moves
constexpr double kWideLeast = 0.3;        // least part of the channel taps scaled up to the whole
constexpr long long kWideWarm = 1500;     // ticks before a burst is told on the wide envelopes
// A cluster whose station's tone stands kRetuneMinHz or more off its
// centre mixes its envelope onto the tone before the channel filter (which
// is 3.4 dB down 25 Hz off, so that a station between two centres was
// heard that much worse), once the tone is measured (Carrier::offset), as
// far as kRetuneMaxHz from the centre: a station further out lies nearer
// the next cluster, which takes it. A station on the centre never moves it.
// Measured with ebook2cw's stations: retuned from 12 Hz on, those 13-17 Hz
// off lost a character or two (the filter: -0.4 to -0.8 dB there), and a
// +6 dB one 20 Hz off left the cluster 30 Hz away printing fragments.
constexpr double kRetuneMinHz = 22;  // Hz, offsets left standing (the filter: -2.2 dB)
constexpr double kRetuneMaxHz = 26;  // Hz, furthest a cluster retunes from its centre
// Before its keyed ticks tell the tone, a cluster hears it on the clear
// ticks whose short average stands this much over the floor (power ratio,
// 5 dB): a station too weak to key off its centre is retuned onto first.
const double kHear = fine::undb(5);
// The tone is learnt on the ticks of a mark the channel filter has settled
// on: kSettleTicks or more inside it either way (the short average there
// over the mark's threshold). Through the filter's rise and fall the
// envelope's phase advances about half as fast as the tone's offset, so
// the ticks of every edge pulled the offset towards the centre: by 4-5 Hz
// of 25 for a 35 WPM station, whose dots (17 ticks) never settle, and a
// station between two centres was then retuned onto by neither (it was
// read 20-21 Hz off both) and copied in pieces on both. The filter's
// impulse response has its main lobe within 9 ticks of its middle.
constexpr int kSettleTicks = 10;  // ticks from a mark's edges before its tone is learnt
constexpr fine::SubtractorParams kSub{};
constexpr fine::AcquisitionParams kAcquire{};
constexpr fine::CarrierParams kCarrier{};
constexpr fine::DotLengthParams kDots{};
constexpr fine::WeakRunsParams kWeak{};
constexpr fine::KeyDecisionParams kKey{};

constexpr int kShort = kChannel.short_ticks;     // ticks in the short power average
constexpr int kLong = kChannel.long_ticks;       // ticks in the long power average
constexpr int kGuardReach = kGuard.reach_ticks;  // ticks either side searched for a key edge
constexpr int kMaxWin = kCarrier.max_win_ticks;  // ticks, longest coherent window
constexpr int kHoldBack = kKey.hold_back_ticks;  // ticks a key state waits for its mark
static_assert(kHoldBack == kKey.max_click_ticks + 2,
              "a mark is judged before its key states leave");
static_assert(kRisen.run_ticks < kHoldBack, "a risen noise is told before its marks leave");
static_assert(kSettleTicks + (kShort - 1) / 2 <= (kLong - 1) / 2,
              "the short average a settled tick looks ahead to is known when it is judged");
static_assert(kAcquire.slow_blocks == kNoise.blocks / 2,
              "the mean power waits for half the noise blocks");

}  // namespace

struct FineFrontEnd::State {
  // --- plan ----------------------------------------------------------------
  FinePlan plan;
  int spt = 0;         // input frames per tick
  double delay = 0;    // ticks, input to key state
  int decide_lag = 0;  // ticks between the newest power and the tick judged

  // --- the stages that see every cluster ------------------------------------
  fine::Channeliser chan;   // band mixing, decimation, per-cluster dot product
  fine::ChannelDesign chd;  // the channel filter, its noise bandwidth and correlation
  fine::Subtractor sub;     // strong stations' models, taken from their neighbours
  fine::GroupFloor group;   // the group's floor and typical mean power
  fine::RisenNoise risen;   // whether the noise rose on every cluster
  fine::Impulses imp;       // ticks under a band-wide burst (a static crash)
  fine::Impulses wide;      // the same on the wide envelopes: ticks blanked before the filter
  double wide_gain = 1;     // a wide envelope's noise power over its channel's (white noise)
  fine::Guards guards;      // whether a tick is clear of the other clusters
  fine::RunsPool runs;      // followers of weak stations' key runs, decided kHoldBack ticks late
  fine::Watch watch;        // which clusters are awake
  bool sleeps = false;      // clusters sleep while quiet (I/Q behind a shared bank)

  // --- clusters ------------------------------------------------------------
  // Each cluster's own stages, in the order a tick passes them.
  struct Cluster {
    double centre = 0;         // Hz
    fine::ChannelPower power;  // channel filter, envelope, power and its averages
    fine::NoiseFloor nf;       // the cluster's own noise floor
    fine::Acquisition acq;     // whether the cluster may key
    fine::Carrier car;         // tone, phase loop and element statistic
    fine::DotLength dot;       // the dot length from the marks
    fine::WeakRuns weak;       // a weak station keyed by whole runs
    fine::KeyDecision key;     // thresholds, soft dots, back-dating, take-back
    double tune = 0;           // rad per tick the envelope is mixed down by before the filter
    std::complex<double> turn_step = 1;  // exp(-j tune)
    std::complex<double> mix = 1;        // exp(-j tune v) at the next tick v filtered
  };
  std::vector<Cluster> cl;
  // The plain per-cluster values the stages that see every cluster are given.
  std::vector<fine::StationView> views;  // [q]: scratch, what the subtractor sees of q
  std::vector<cfloat> v_z;               // [q]: scratch, its decimated envelope, units
  std::vector<cfloat> v_turn;            // [q]: scratch, its mixer's phasor
  std::vector<double> v_noise;           // [q]: scratch, each cluster's own noise floor, units^2
  std::vector<int> v_blocks;             // [q]: scratch, its noise blocks held
  std::vector<double> v_slow;            // [q]: scratch, its mean power, units^2
  std::vector<double> v_carrier;         // [q]: scratch, its carrier power, units^2
  std::vector<double> v_floor;           // [q]: scratch, the floor it keys against, units^2
  std::vector<double> v_power;   // [q]: scratch, its short average at the tick judged, units^2
  std::vector<double> v_raw;     // [q]: scratch, its power at the newest tick, units^2
  std::vector<double> v_n;       // [q]: scratch, floor_of() through the tick, units^2
  std::vector<double> v_wide;    // [q]: scratch, its wide envelope's power, channel units^2
  std::vector<double> wide_log;  // [q]: the mean log of its wide envelope's power
  double taps_left = 1;  // the part of the channel taps on ticks not blanked, at the newest power
  long long tick = 0;    // ticks since reset

  // --- output of the last run ---------------------------------------------
  int nticks = 0;              // ticks completed
  std::vector<int> frames;     // frame of each tick
  std::vector<double> keys;    // [q * max_ticks + t]
  std::vector<double> levels;  // [q * max_ticks + t]
  int max_ticks = 0;           // ticks one run can complete

  void tick_done(int frame);
  void wide_step(long long t);
  float blank_gain(long long v);
  void judge(long long at, int out);
  void judge_cluster(int q, long long at, int out, double n, bool buried, bool burst);
  void retune(Cluster& c, long long at, double dw);
  bool nearest(int q, double tune) const;
  // Whether cluster c's short average stands over `over` (units^2)
  // kSettleTicks either side of tick at.
  bool settled(const Cluster& c, long long at, double over) const {
    return c.power.shrt(at - kSettleTicks) > over && c.power.shrt(at + kSettleTicks) > over;
  }
  // The noise floor a cluster keys against, units^2 (0: none yet).
  double floor_of(const Cluster& c) const {
    return group.floor_of(static_cast<int>(&c - cl.data()), c.nf.noise(), c.nf.blocks());
  }
};

std::string FineFrontEnd::check(const FinePlan& p) {
  if (p.sample_rate <= 0 || p.sample_rate % kTickRate != 0)
    return "the sample rate must be a positive multiple of 500 Hz";
  if (p.sample_rate / kTickRate < 2) return "the sample rate must be at least 1000 Hz";
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
  if (plan.bank)
    s.chan.make(fine::ChanneliserParams{}, *plan.bank, s.spt, plan.centres_hz);
  else
    s.chan.make(fine::ChanneliserParams{}, plan.sample_rate, s.spt, plan.iq, plan.centres_hz,
                kMaxFrames);
  s.chd = fine::design_channel(kChannel, kMaxWin);

  s.decide_lag = std::max({(kLong - 1) / 2, (kShort - 1) / 2 + kGuardReach, (kMaxWin - 1) / 2});
  s.cl.resize(k);
  for (int q = 0; q < k; q++) {
    auto& c = s.cl[q];
    c.centre = plan.centres_hz[q];
    c.power.make(kChannel, s.chd);
    c.key.make(kKey);
    c.weak.make(kWeak, kHoldBack);
    c.nf.make(kNoise, s.chd.bn / (12.0 * plan.sample_rate));
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
  s.wide.make(kWide, k);
  // White envelope noise passes the channel filter (its taps summing to 1)
  // at its noise bandwidth over the tick rate.
  s.wide_gain = kTickRate / s.chd.bn;
  s.watch.make(fine::WatchParams{}, k);
  s.sleeps = plan.bank != nullptr;
  fine::GuardParams guard = kGuard;
  guard.subtract_hz = kSub.subtract_hz;
  guard.own_hz = sp.own_hz + sp.spare_hz;
  guard.short_half = (kShort - 1) / 2;
  s.guards.make(guard, plan.centres_hz);
  for (auto* v : {&s.v_noise, &s.v_slow, &s.v_carrier, &s.v_floor, &s.v_power, &s.v_raw, &s.v_n,
                  &s.v_wide, &s.wide_log})
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

void FineFrontEnd::State::judge(long long at, int out) {
  const int k = static_cast<int>(cl.size());
  const bool valid = at >= kLong + kGuardReach;
  // The guards' swings are read only by clusters judged awake: while every
  // cluster sleeps they are not taken.
  bool any_awake = !sleeps;
  for (int q = 0; q < k && !any_awake; q++)
    any_awake = watch.awake(q);
  if (any_awake)
    for (int q = 0; q < k; q++)
      guards.swing(q, cl[q].power, at, &imp);
  if (group.due(at)) {
    for (int q = 0; q < k; q++) {
      v_noise[q] = cl[q].nf.noise();
      v_blocks[q] = cl[q].nf.blocks();
      v_slow[q] = cl[q].acq.slow();
      v_carrier[q] = cl[q].car.carrier();
    }
    group.step(at, v_noise, v_blocks, v_slow, v_carrier);
  }
  // The noise rose (or came after near silence): then every cluster's ticks
  // teach its floor, keyed or not, and the floors learnt before are
  // forgotten. What they keyed since the noise rose has not left yet
  // (kRisen.run_ticks is under kHoldBack): it is taken back.
  // Whether the newest tick (decide_lag ahead) lies under a band-wide
  // burst: known before any window around the tick judged reaches it.
  for (int q = 0; q < k; q++) {
    v_floor[q] = floor_of(cl[q]);
    v_power[q] = cl[q].power.shrt(at);
    v_raw[q] = cl[q].power.raw(at + decide_lag);
  }
  imp.step(at + decide_lag, v_floor, v_raw, taps_left);
  // A burst lifts every cluster at once as a risen noise does, for a few
  // ticks: those do not tell one.
  const bool burst = imp.any() && imp.blanked(at - (kShort - 1) / 2, at + (kShort - 1) / 2) > 0;
  if (risen.step(v_floor, v_power, burst).forget) {
    for (auto& c : cl) {
      c.nf.forget();
      c.key.take_back(at);
    }
    group.forget();
  }
  // The tick a noise floor would learn from lies under a burst.
  const bool buried = imp.any() && imp.blank(at - kNoise.clean_ticks);
  for (int q = 0; q < k; q++) {
    auto& c = cl[q];
    // Key states leave kHoldBack ticks after their judgement, so that a
    // mark nowhere clear of the guards can still be taken back whole.
    keys[q * max_ticks + out] = c.key.held(at);
    levels[q * max_ticks + out] = valid ? c.power.shrt(at - kHoldBack) : 0;
    c.key.open(at);
    const double n = floor_of(c);
    const bool asleep = sleeps && !watch.awake(q);
    if (!valid || !(n > 0) || asleep) {
      if (valid && asleep) c.acq.rest(c.power.raw(at));
      c.key.idle();
      c.nf.step(at, false, c.key.run(), risen.rose(), c.power, buried);
      continue;
    }
    judge_cluster(q, at, out, n, buried, burst);
  }
}

// One cluster's tick at, judged against its noise floor n: the guards,
// acquisition, the element statistic, a weak station's runs, the key
// decision and what the tick and a finished mark teach. buried: the tick
// its noise floor would learn from lies under a burst; burst: the short
// average around the tick holds one. A tick whose window lies mostly under
// a burst holds its key state.
void FineFrontEnd::State::judge_cluster(int q, long long at, int out, double n, bool buried,
                                        bool burst) {
  auto& c = cl[q];
  const double ps = c.power.shrt(at);
  const double pl = c.power.lng(at);
  const bool clear = guards.step(q, ps, sub.settled(), sub.sub_guard(), sub.tones()).clear;
  // A short average over a burst is no station's power.
  const bool heard =
      !burst && c.acq.step(clear, c.power.raw(at), pl, ps, n, c.nf.blocks(), group.slow());
  const fine::ElementStat es = c.car.step(at, clear, n, c.dot.unit(), c.key.level(), c.power, &imp);
  if (c.weak.claim(runs, c.car.carrier(), es.along, es.csnr)) {
    const bool kd = es.held ? c.weak.blind(at, runs, c.dot.unit())
                            : c.weak.step(at, runs, c.car.along_part(c.power.env(at), es.along),
                                          es.along, c.dot.unit(), n, chd.kappa);
    if (c.weak.trusted(es.csnr, c.dot.marks(), c.acq.present(n)))
      keys[q * max_ticks + out] =
          kd && c.acq.ready() ? fine::key_value(c.key.stat(at - kHoldBack), es.nd) : 0.0;
  }
  if (es.held) {
    c.acq.spend();
    c.key.hold(at);
    c.nf.step(at, c.key.down(), c.key.run(), risen.rose(), c.power, buried);
    return;
  }
  fine::KeyInput in;
  in.clear = clear;
  in.ready = c.acq.spend();
  in.heard = heard;
  in.heard_p = pl - n;
  in.pd = es.pd;
  in.nd = es.nd;
  in.body = es.body;
  in.win = es.win;
  in.unit = c.dot.unit();
  in.carrier = c.car.carrier();
  const fine::KeyResult r = c.key.step(at, in);
  if (!c.car.fixed() && clear && !burst && ps > n * kHear) c.car.hear(c.power, at);
  if (r.tone)
    c.car.learn_tone(c.power, at, !burst && settled(c, at, kKey.interior * c.key.level()));
  if (r.mark > 0) {
    // A finished mark teaches the speed (DotLength) and the carrier's power.
    c.dot.step(r.mark);
    c.car.learn_mark(r.mark, c.dot.unit(), at, n, c.power, r.other, &imp);
  }
  c.nf.step(at, c.key.down(), c.key.run(), risen.rose(), c.power, buried);
  // Another station: back to the centre. The tone measured well off the
  // centre: onto it.
  const double two_pi = 2 * std::numbers::pi;
  if (r.other && c.tune != 0) {
    retune(c, at, -c.tune);
  } else if ((at & 31) == 0) {  // looked at every 64 ms
    const double off = c.car.offset(n, chd.rho1);
    if (std::abs(off) >= two_pi * kRetuneMinHz / kTickRate &&
        std::abs(c.tune + off) <= two_pi * kRetuneMaxHz / kTickRate && nearest(q, c.tune + off))
      retune(c, at, off);
  }
}

// Whether cluster q may retune to `tune` (rad per tick off its centre): the
// neighbour on that side, if any, holds no more of the station's power
// (its mean power over the floor) than q does, so that the station lies
// nearer q. A station 30 Hz off q, 20 Hz off the neighbour, stands some 5
// dB higher there; one half way, alike in both (the first to retune then
// stands 3.4 dB higher, and keeps it).
bool FineFrontEnd::State::nearest(int q, double tune) const {
  const int o = q + (tune > 0 ? 1 : -1);
  if (o < 0 || o >= static_cast<int>(cl.size())) return true;
  if (std::abs(cl[o].centre - cl[q].centre) > kGuard.neighbour_hz) return true;
  return cl[q].acq.slow() - floor_of(cl[q]) >= cl[o].acq.slow() - floor_of(cl[o]);
}

// Cluster c, its tick `at` judged, mixes its envelope down by dw more (rad
// per tick) from the next tick filtered on; what it holds is turned alike.
void FineFrontEnd::State::retune(Cluster& c, long long at, double dw) {
  const long long v = at + decide_lag;  // the newest tick filtered
  c.tune += dw;
  c.turn_step = std::polar(1.0, -c.tune);
  c.mix =
      std::polar(1.0, -std::remainder(c.tune * static_cast<double>(v + 1), 2 * std::numbers::pi));
  c.power.retune(v, dw);
  c.car.retune(dw, at);
}

}  // namespace talvo
