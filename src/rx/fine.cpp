// The fine receive front end (see fine.h for the account of the stages).
//
// Filter design and channelisation come from liquid-dsp: Kaiser low-passes
// (liquid_firdes_kaiser, lengths from estimate_req_filter_len), decimators
// (firdecim_crcf), the channel filter (firfilt_crcf) and the mixers
// (nco_crcf). The key decision is this file's own.
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
#include "rx/fine/group_floor.h"
#include "rx/fine/guards.h"
#include "rx/fine/noise_floor.h"
#include "rx/fine/subtractor.h"
#include "rx/fine/weak_runs.h"

namespace talvo {

namespace {

using fine::cfloat;
using fine::db;
using fine::kRing;
using fine::kTickRate;
using fine::undb;

// Stage design.
constexpr fine::ChannelParams kChannel{};

// Key decision.
constexpr int kShort = kChannel.short_ticks;  // ticks in the short (element) power average
constexpr int kLong = kChannel.long_ticks;    // ticks in the long (dash) power average
constexpr fine::GuardParams kGuard{};
constexpr int kGuardReach =
    kGuard.reach_ticks;  // ticks either side searched for a neighbour's key edge
constexpr fine::NoiseFloorParams kNoise{};
constexpr fine::RisenNoiseParams kRisen{};
constexpr int kBlockTicks = kNoise.block_ticks;  // ticks per noise block (20 ms)
constexpr int kBlocks = kNoise.blocks;           // noise blocks kept (3 s of clean ticks)
constexpr fine::AcquisitionParams kAcquire{};
constexpr int kSlowBlocks = kAcquire.slow_blocks;  // noise blocks before the mean power counts
static_assert(kSlowBlocks == kBlocks / 2, "the mean power waits for half the noise blocks");
constexpr fine::DotLengthParams kDots{};
constexpr double kMaxUnit = kDots.max_ticks;  // ticks, longest dot followed (10 WPM)
constexpr double kStayFloorDb = 5;            // lowest key-up threshold over the element noise, dB
constexpr double kFloorDb = 8;            // lowest key-down threshold over the element noise, dB
constexpr double kFraction = 0.5;         // threshold: noise + this fraction of (level - noise)
constexpr double kHystDb = 1.5;           // key-up threshold below key-down threshold, dB
constexpr double kInterior = 0.5;         // key-down power below this part of the level is an edge
constexpr double kTrack = 0.15;           // key-down level tracking weight per tick
constexpr double kDecayDbPerS = 40;       // key-down level decay while key up, dB/s
constexpr int kMaxClick = 40;             // ticks, longest mark dropped when nowhere clear
constexpr int kClearTicks = 4;            // clear ticks that make a mark this cluster's own
constexpr int kHoldBack = kMaxClick + 2;  // ticks a key state waits for its mark to be judged
static_assert(kRisen.ticks < kHoldBack, "a risen noise is told before its marks leave");
constexpr double kLevelFloorDb = -12;  // key-down level kept above the marks' carrier, dB
constexpr fine::CarrierParams kCarrier{};
constexpr int kToneTicks = kCarrier.tone_ticks;  // key-down ticks before the offset is used
// A mark once begun is dated back over the ticks before it whose statistic
// stood over the half-way threshold less kBackDb (key down needs more on a
// weak station), at most kBackWin windows and never nearer the previous
// mark than kBackGap dots. kBackDb lies between 0 (a 1 Hz flutter loses
// its weak marks' starts) and kHystDb (a strong station's marks grow long).
constexpr double kBackDb = 0.5;
constexpr double kBackWin = 0.75;
constexpr double kBackGap = 1.0;
// A run whose statistic stays over the start threshold less kSoftDb for
// kSoftLen dots or more, key up all along, is a weak dot the noise kept
// under the start threshold when its statistic averaged over the run stands
// within kSoftMeanDb of that threshold.
constexpr double kSoftDb = 3;        // dB
constexpr double kSoftLen = 0.6;     // dots
constexpr double kSoftMeanDb = 1.5;  // dB
constexpr fine::WeakRunsParams kWeak{};
constexpr int kRunsMarks = kWeak.runs_marks;  // marks learnt before the runs' lengths are trusted
constexpr int kMaxWin = kCarrier.max_win;     // ticks, longest coherent window, odd

// Subtraction of strong stations.
constexpr fine::SubtractorParams kSub{};
constexpr int kModelSettle = kSub.model_settle;  // ticks a model runs before the guard eases

}  // namespace

struct FineFrontEnd::State {
  // --- plan ----------------------------------------------------------------
  FinePlan plan;
  int spt = 0;         // input frames per tick
  double delay = 0;    // ticks, input to key state
  int decide_lag = 0;  // ticks between the newest power and the tick judged

  // --- stages ------------------------------------------------------------
  fine::Channeliser chan;   // band mixing, decimation, per-cluster dot product
  fine::ChannelDesign chd;  // the channel filter, its noise bandwidth and correlation
  fine::RunsPool runs;      // followers of weak stations' key runs, decided kHoldBack ticks late

  // --- clusters ------------------------------------------------------------
  struct Cluster {
    double centre = 0;          // Hz
    fine::ChannelPower power;   // channel filter, envelope, power and its averages
    std::vector<double> tent;   // ring: key state as judged, before marks are checked
    std::vector<double> stat;   // ring: element statistic of each tick judged, units^2
    long long run_start = 0;    // tick the current key-down run began
    long long last_down = 0;    // the last key-down tick of the previous run
    int run_clear = 0;          // ticks of the current run clear of every guard
    long long soft_start = -1;  // tick a run over the soft threshold began (key up); -1: none
    double soft_sum = 0;        // that run's statistic over the start threshold, summed
    int soft_clear = 0;         // that run's ticks clear of every guard
    fine::Carrier car;          // tone, phase loop and element statistic
    fine::NoiseFloor nf;        // the cluster's own noise floor
    double level = 0;           // key-down power (carrier + noise), units^2
    fine::DotLength dot;        // the dot length from the marks
    int run = 0;                // ticks of the current key-down run
    double hi = 0, lo = 0;      // short average's extremes around the tick judged, units^2
    fine::Acquisition acq;      // whether the cluster may key
    bool down = false;          // key state of the last tick judged
    fine::WeakRuns weak;        // a weak station keyed by whole runs
  };
  std::vector<Cluster> cl;
  fine::GroupFloor group;                // the group's floor and typical mean power
  fine::RisenNoise risen;                // whether the noise rose on every cluster
  fine::Guards guards;                   // whether a tick is clear of the other clusters
  fine::Subtractor sub;                  // strong stations' models, taken from their neighbours
  std::vector<fine::StationView> views;  // [q]: scratch, what the subtractor sees of q
  std::vector<double> v_noise;           // [q]: scratch, each cluster's own noise floor, units^2
  std::vector<int> v_blocks;             // [q]: scratch, its noise blocks held
  std::vector<double> v_slow;            // [q]: scratch, its mean power, units^2
  std::vector<double> v_floor;           // [q]: scratch, the floor it keys against, units^2
  std::vector<double> v_power;  // [q]: scratch, its short average at the tick judged, units^2
  long long tick = 0;           // ticks since reset

  // --- output of the last run ---------------------------------------------
  int nticks = 0;              // ticks completed
  std::vector<int> frames;     // frame of each tick
  std::vector<double> keys;    // [q * max_ticks + t]
  std::vector<double> levels;  // [q * max_ticks + t]
  int max_ticks = 0;           // ticks one run can complete

  void tick_done(int frame);
  void judge(long long c, int out);
  void learn_mark(Cluster& c, long long at, double n);
  // The noise floor a cluster keys against, units^2 (0: none yet).
  double floor_of(const Cluster& c) const { return group.floor_of(c.nf.noise(), c.nf.blocks()); }
};

std::string FineFrontEnd::check(const FinePlan& p) {
  if (p.sample_rate <= 0 || p.sample_rate % kTickRate != 0)
    return "the sample rate must be a positive multiple of 500 Hz";
  if (p.sample_rate / kTickRate < 2) return "the sample rate must be at least 1000 Hz";
  if (p.centres_hz.empty()) return "no cluster centres";
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
  s.chan.make(fine::ChanneliserParams{}, plan.sample_rate, s.spt, plan.iq, plan.centres_hz,
              kMaxFrames);
  s.chd = fine::design_channel(kChannel, kMaxWin);

  s.decide_lag = std::max({(kLong - 1) / 2, (kShort - 1) / 2 + kGuardReach, (kMaxWin - 1) / 2});
  s.cl.resize(k);
  for (int q = 0; q < k; q++) {
    auto& c = s.cl[q];
    c.centre = plan.centres_hz[q];
    c.power.make(kChannel, s.chd);
    c.tent.resize(kRing);
    c.stat.resize(kRing);
    c.weak.make(kWeak, kHoldBack);
    c.nf.make(kNoise, s.chd.bn / (12.0 * plan.sample_rate));
    fine::DotLengthParams dp = kDots;
    dp.max_marks = kRunsMarks;
    c.dot.make(dp);
    c.acq.make(kAcquire);
    c.car.make(kCarrier, s.chd, s.decide_lag);
  }
  s.runs.make(std::min(k, kWeak.pool), kMaxUnit, kHoldBack);
  std::vector<double> mixing(k);
  for (int q = 0; q < k; q++)
    mixing[q] = s.chan.mixing(plan.centres_hz[q]);
  fine::SubtractorParams sp = kSub;
  sp.neighbour_hz = kGuard.neighbour_hz;
  sp.edge_guard_db = kGuard.edge_db;
  s.sub.make(sp, s.chd, plan.centres_hz, mixing, s.chan.cluster_taps(), plan.subtract);
  s.views.resize(k);
  fine::GroupFloorParams gp;
  gp.block_ticks = kNoise.block_ticks;
  gp.min_blocks = kNoise.min_blocks;
  gp.slow_blocks = kSlowBlocks;
  s.group.make(gp, k);
  s.risen.make(kRisen);
  fine::GuardParams guard = kGuard;
  guard.subtract_hz = kSub.subtract_hz;
  s.guards.make(guard, plan.centres_hz);
  for (auto* v : {&s.v_noise, &s.v_slow, &s.v_floor, &s.v_power})
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
    std::fill(c.tent.begin(), c.tent.end(), 0.0);
    std::fill(c.stat.begin(), c.stat.end(), 0.0);
    c.last_down = -(1 << 20);
    c.run_start = 0;
    c.run_clear = 0;
    c.soft_start = -1;
    c.soft_sum = 0;
    c.soft_clear = 0;
    c.car.reset();
    c.nf.reset();
    c.dot.reset();
    c.level = 0;
    c.run = 0;
    c.acq.reset();
    c.down = false;
    c.weak.reset();
  }
  s.runs.reset();
  s.group.reset();
  s.guards.reset();
  s.sub.reset();
  s.risen.reset();
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
  if (std::norm(c.car.rot()) <= 0) return c.centre;
  return c.centre + std::arg(c.car.rot()) * kTickRate / (2 * std::numbers::pi);
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

void FineFrontEnd::run(const float* in, int n) {
  State& s = *s_;
  s.nticks = 0;
  n = std::clamp(n, 0, kMaxFrames);
  s.chan.begin(in, n);
  for (int i = 0; i < n; i++) {
    if (!s.chan.step(in, i)) continue;
    s.tick_done(i);
  }
}

// One tick on every cluster: the decimated envelope and the model of its
// station; then, sub_lag ticks back, the envelope less the models of the
// neighbours' strong stations through the channel filter, its power, its
// averages and the noise blocks; then the judgement of the tick decide_lag
// ticks back from that.
void FineFrontEnd::State::tick_done(int frame) {
  const long long t = tick;
  const int k = static_cast<int>(cl.size());
  for (int q = 0; q < k; q++) {
    cfloat z, turn;
    chan.cluster(q, &z, &turn);
    sub.track(q, t, z, turn, floor_of(cl[q]));
  }
  for (int q = 0; q < k; q++) {
    const auto& c = cl[q];
    auto& w = views[q];
    w.floor = floor_of(c);
    w.carrier = c.car.carrier();
    w.toned = c.car.toned();
    w.off = w.toned ? std::arg(c.car.rot()) : 0.0;
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
  for (int q = 0; q < k; q++)
    cl[q].power.step(v, sub.residue(q, v));
  judge(v - decide_lag, nticks);
  nticks++;
  tick++;
}

void FineFrontEnd::State::judge(long long at, int out) {
  const int m = kRing - 1;
  const int k = static_cast<int>(cl.size());
  const bool valid = at >= kLong + kGuardReach;
  const double decay = undb(-kDecayDbPerS / kTickRate);
  for (int q = 0; q < k; q++) {
    guards.swing(q, cl[q].power, at);
  }
  // The group's floor: white noise lies alike on every cluster, so a
  // cluster whose own estimate is young, or was taken while its station
  // keyed, is held to that of its quieter fellows.
  for (int q = 0; q < k; q++) {
    v_noise[q] = cl[q].nf.noise();
    v_blocks[q] = cl[q].nf.blocks();
    v_slow[q] = cl[q].acq.slow();
  }
  group.step(at, v_noise, v_blocks, v_slow);
  // The noise rose (or came after near silence): then every cluster's ticks
  // teach its floor, keyed or not, and the floors learnt before are
  // forgotten. What they keyed since the noise rose has not left yet
  // (kRisen.ticks is under kHoldBack): it is taken back.
  for (int q = 0; q < k; q++) {
    v_floor[q] = floor_of(cl[q]);
    v_power[q] = cl[q].power.shrt(at);
  }
  if (risen.step(v_floor, v_power).forget) {
    for (auto& c : cl) {
      c.nf.forget();
      for (long long u = at - kHoldBack + 1; u <= at; u++)
        c.tent[u & m] = 0;
    }
    group.forget();
  }
  for (int q = 0; q < k; q++) {
    auto& c = cl[q];
    // Key states leave kHoldBack ticks after their judgement, so that a
    // mark nowhere clear of the guards can still be taken back whole.
    keys[q * max_ticks + out] = c.tent[(at - kHoldBack) & m];
    levels[q * max_ticks + out] = valid ? c.power.shrt(at - kHoldBack) : 0;
    double& key_out = c.tent[at & m];
    key_out = 0;
    c.stat[at & m] = 0;
    const double n = floor_of(c);
    if (!valid || !(n > 0)) {
      c.down = false;
      c.nf.step(at, c.down, c.run, risen.rose(), c.power);
      continue;
    }
    const double ps = c.power.shrt(at);
    const double pl = c.power.lng(at);
    // Beside a subtracted station whose soft edges fit, the edge guard eases
    // to its sub_guard.
    const bool clear = guards.step(q, ps, sub.settled(), sub.sub_guard()).clear;
    c.acq.step(clear, c.power.raw(at), pl, ps, n, c.nf.blocks(), group.slow());
    // The element statistic: the envelope, turned back by the tone's
    // measured offset, averaged coherently over about a dot of this
    // cluster's speed (the filter matched to a dot), as power. Noise adds
    // nd to it on average.
    const fine::ElementStat es = c.car.step(at, clear, n, c.dot.unit(), c.level, c.power);
    const double csnr = es.csnr;
    const double pd = es.pd;
    const double nd = es.nd;
    const bool body = es.body;
    const int win = es.win;
    c.stat[at & m] = pd;
    // A weak station's key state: the best sequence of whole runs, from
    // each tick's log-likelihood ratio of key down (the envelope's part along
    // the carrier, whose noise per component is half the floor, its ticks
    // alike over kappa of them).
    if (c.weak.claim(runs, c.car.carrier(), es.along, csnr)) {
      const double y = c.car.along_part(c.power.env(at), es.along);
      const bool kd = c.weak.step(at, runs, y, es.along, c.dot.unit(), n, chd.kappa);
      if (c.weak.trusted(csnr, c.dot.marks(), c.acq.present(n))) {
        const double v = c.stat[(at - kHoldBack) & m];
        keys[q * max_ticks + out] =
            kd && c.acq.ready() ? std::max(1.0, 100 * db(std::max(v / nd - 1, 1e-9))) : 0.0;
      }
    }
    bool down = false;
    bool soft = false;  // over the soft threshold, key up
    double start = 0;   // the start threshold, units^2
    double back = 0;    // the statistic a mark's start is dated back over, units^2
    if (c.acq.spend()) {
      // The threshold sits at a fixed part of the way from the element
      // noise to the key-down level (the coherent average's edges are
      // ramps, so marks keep their length), never low enough for the
      // noise (whose statistic is exponential) to key often. The level
      // never sinks far below that of the recent marks, so that the noise
      // after a strong station does not key.
      const double lv = std::max(
          {c.level, nd, c.car.carrier() > 0 ? nd + c.car.carrier() * undb(kLevelFloorDb) : 0.0});
      // Key down needs kFloorDb over the element noise; a mark already
      // running holds down to kStayFloorDb (a dip of noise does not split it).
      const double rel = nd + kFraction * (lv - nd);
      const double stay = std::max(nd * undb(kStayFloorDb), rel * undb(-kHystDb));
      back = std::max(stay, rel * undb(-kBackDb));
      start = std::max(nd * undb(kFloorDb), rel);
      const double thr = c.down ? stay : start;
      down = pd > thr;
      soft = !c.down && !down && pd > std::max(nd * undb(kStayFloorDb), start * undb(-kSoftDb));
    }
    if (soft) {
      if (c.soft_start < 0) {
        c.soft_start = at;
        c.soft_sum = 0;
        c.soft_clear = 0;
      }
      c.soft_sum += pd / start;
      c.soft_clear += clear;
    } else if (c.soft_start >= 0) {
      const long long len = at - c.soft_start;
      if (!down && len >= kSoftLen * c.dot.unit() &&
          c.soft_sum >= undb(-kSoftMeanDb) * static_cast<double>(len) &&
          c.soft_clear >= kClearTicks && c.soft_start > at - kHoldBack &&
          c.soft_start > c.last_down + static_cast<long long>(kBackGap * c.dot.unit())) {
        for (long long u = c.soft_start; u < at; u++)
          c.tent[u & m] = std::max(1.0, 100 * db(std::max(c.stat[u & m] / nd - 1, 1e-9)));
        c.last_down = at - 1;
      }
      c.soft_start = -1;
    }
    if (down) {
      if (!c.down) {
        c.run_start = at;
        c.run_clear = 0;
        // Its start, late against the key-down floor on a weak station,
        // goes back to where the statistic first stood near the threshold
        // half way to the level (the key states still wait).
        const long long lim = std::max(
            {at - static_cast<long long>(kBackWin * win),
             c.last_down + static_cast<long long>(kBackGap * c.dot.unit()), at - kHoldBack + 1});
        while (c.run_start - 1 > lim && c.stat[(c.run_start - 1) & m] > back) {
          c.run_start--;
          c.tent[c.run_start & m] =
              std::max(1.0, 100 * db(std::max(c.stat[c.run_start & m] / nd - 1, 1e-9)));
          c.run++;
        }
      }
      c.run_clear += clear;
      // The level follows the mark's body, not its edges, and is learnt
      // only where no other cluster can be what this one sees.
      if (clear) {
        if (!c.down)
          c.level = std::max(c.level, pd);
        else if ((body || pd > c.level) && pd > kInterior * c.level)
          c.level += kTrack * (pd - c.level);
        if (pd > kInterior * c.level) c.car.learn_tone(c.power, at);
      }
      key_out = std::max(1.0, 100 * db(std::max(pd / nd - 1, 1e-9)));
      c.run++;
      // A mark hardly clear in its first kMaxClick ticks is another
      // station's leakage: silent until enough ticks are clear.
      if (c.run_clear < kClearTicks && c.run >= kMaxClick) {
        for (long long u = std::max(c.run_start, at - kHoldBack + 1); u <= at; u++)
          c.tent[u & m] = 0;
      }
    } else {
      c.level = std::max(nd, c.level * decay);
      if (c.down) c.last_down = at - 1;
      if (c.down && c.run_clear < kClearTicks && c.run <= kMaxClick) {
        // A short mark hardly any tick of which was clear of the guards: another
        // cluster's sidebands or clicks. Taken back whole.
        for (long long u = c.run_start; u < at; u++)
          c.tent[u & m] = 0;
      } else if (c.down && c.run_clear >= kClearTicks) {
        learn_mark(c, at, n);
      }
      c.run = 0;
    }
    c.down = down;
    c.nf.step(at, c.down, c.run, risen.rose(), c.power);
  }
}

// A finished mark teaches the speed: it is counted by its length (older
// marks weighing less), and the dot length is the one that best explains
// the marks counted (DotLength). It also tells the carrier's power:
// the middle half of the mark, away from the edges, less the noise;
// averaged over marks in dB.
void FineFrontEnd::State::learn_mark(Cluster& c, long long at, double n) {
  c.dot.step(c.run);
  c.car.learn_mark(c.run, c.dot.unit(), at, n, c.power);
}

}  // namespace talvo
