// The fine front end's own parts, shared by its two files: the stages'
// parameters as it sets them, and its state (the stages that see every
// cluster, each cluster's own stages, the scratch and the output of a run).
// fine.cpp builds the front end and walks each tick through the
// channeliser, the subtraction and the channel filters; fine_judge.cpp
// judges a tick on every cluster. Nothing else includes this header.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <stdexcept>

#include "rx/fine.h"
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
#include "rx/fine/tone_check.h"
#include "rx/fine/watch.h"
#include "rx/fine/weak_runs.h"

namespace talvo {

// Internal to the fine front end's two files, as if each held them.
namespace fine_parts {

using fine::cfloat;
using fine::db;
using fine::kTickRate;

// The stages' parameters (their defaults). Where two stages share a
// figure, one takes it from the other in the constructor.
inline constexpr fine::ChannelParams kChannel{};
inline constexpr fine::NoiseFloorParams kNoise{};
inline constexpr fine::RisenNoiseParams kRisen{};
inline constexpr fine::GuardParams kGuard{};
inline constexpr fine::ImpulseParams kImpulse{};
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
inline constexpr fine::ImpulseParams kWide{.rise_db = 12,
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
inline constexpr double kWideTrack = 1.0 / 500;  // per tick, the part the mean log moves
inline constexpr double kWideLeast = 0.3;  // least part of the channel taps scaled up to the whole
inline constexpr long long kWideWarm = 1500;  // ticks before a burst is told on the wide envelopes
// A cluster whose station's tone stands kRetuneMinHz or more off its
// centre mixes its envelope onto the tone before the channel filter (which
// is 3.4 dB down 25 Hz off, so that a station between two centres was
// heard that much worse), once the tone is measured (Carrier::offset), as
// far as kRetuneMaxHz from the centre: a station further out lies nearer
// the next cluster, which takes it. A station on the centre never moves it.
// Measured with ebook2cw's stations: retuned from 12 Hz on, those 13-17 Hz
// off lost a character or two (the filter: -0.4 to -0.8 dB there), and a
// +6 dB one 20 Hz off left the cluster 30 Hz away printing fragments.
inline constexpr double kRetuneMinHz = 22;  // Hz, offsets left standing (the filter: -2.2 dB)
inline constexpr double kRetuneMaxHz = 26;  // Hz, furthest a cluster retunes from its centre
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
inline constexpr int kSettleTicks = 10;  // ticks from a mark's edges before its tone is learnt
inline constexpr fine::SubtractorParams kSub{};
inline constexpr fine::AcquisitionParams kAcquire{};
inline constexpr fine::CarrierParams kCarrier{};
inline constexpr fine::DotLengthParams kDots{};
inline constexpr fine::WeakRunsParams kWeak{};
inline constexpr fine::KeyDecisionParams kKey{};
// A cluster beside a carrier this many times its own bridges no dip (a
// 50 WPM station's sidebands on the cluster 50 Hz away).
inline constexpr double kDipBeside = 10;
inline constexpr fine::ToneCheckParams kTone{};

inline constexpr int kShort = kChannel.short_ticks;     // ticks in the short power average
inline constexpr int kLong = kChannel.long_ticks;       // ticks in the long power average
inline constexpr int kGuardReach = kGuard.reach_ticks;  // ticks either side searched for a key edge
inline constexpr int kMaxWin = kCarrier.max_win_ticks;  // ticks, longest coherent window
inline constexpr int kHoldBack = kKey.hold_back_ticks;  // ticks a key state waits for its mark
static_assert(kHoldBack == kKey.max_click_ticks + 2,
              "a mark is judged before its key states leave");
static_assert(kTone.max_ticks <= kKey.max_click_ticks, "a measured mark is taken back whole");
static_assert(kRisen.run_ticks < kHoldBack, "a risen noise is told before its marks leave");
static_assert(kSettleTicks + (kShort - 1) / 2 <= (kLong - 1) / 2,
              "the short average a settled tick looks ahead to is known when it is judged");
static_assert(kAcquire.slow_blocks == kNoise.blocks / 2,
              "the mean power waits for half the noise blocks");

}  // namespace fine_parts
using namespace fine_parts;

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
  fine::ToneCheck tone;     // short marks off their clusters' tones while a voice is in the band
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
    double off_share = 0;      // share of its measured marks off its tone (tone_check.h)
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
  std::vector<double> v_long;    // [q]: scratch, its long average at the tick judged, units^2
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
  bool loudest(int q, double over = 1) const;
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

}  // namespace talvo
