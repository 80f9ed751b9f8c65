// The fine front end's judgement of a tick on every cluster: the guards'
// swings, the group's floor, the risen noise and the bursts across the
// band, then on each cluster its guards, acquisition, element statistic,
// a weak station's runs, the key decision and what the tick teaches, and
// the retune onto its station's tone (see fine.h for the stages' order).
#include <cmath>
#include <complex>
#include <numbers>

#include "rx/fine_state.h"

namespace talvo {

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
    v_long[q] = cl[q].power.lng(at);
    v_raw[q] = cl[q].power.raw(at + decide_lag);
  }
  imp.step(at + decide_lag, v_floor, v_raw, taps_left);
  imp.count(at);
  // A burst lifts every cluster at once as a risen noise does, for a few
  // ticks: those do not tell one.
  const bool burst = imp.any() && imp.blanked(at - (kShort - 1) / 2, at + (kShort - 1) / 2) > 0;
  if (risen.step(v_floor, v_power, v_long, burst).forget) {
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
  // Under frequent bursts the station of a cluster with the loudest
  // carrier around is keyed by its runs from higher up, each tick weighed
  // by its weight (weak_runs.h).
  const bool bursts = imp.frequent() && loudest(q);
  if (c.weak.claim(runs, c.car.carrier(), es.along, es.csnr, bursts)) {
    const double w = bursts ? imp.weight(at) : 1.0;
    const bool kd = es.held ? c.weak.blind(at, runs, c.dot.unit())
                            : c.weak.step(at, runs, c.car.along_part(c.power.env(at), es.along),
                                          es.along, c.dot.unit(), n, chd.kappa, w);
    if (c.weak.trusted(c.dot.marks(), c.acq.present(n), bursts))
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
  fine::KeyResult r = c.key.step(at, in);
  // A strong station's sidebands fill the gaps of the clusters beside it:
  // there a gap that never fell to the noise is no dip.
  if (r.began && loudest(q, kDipBeside)) c.key.bridge(at, in);
  // A short mark off the tone while a voice is in the band is the voice's
  // (tone_check.h): taken back, it teaches neither the speed nor the
  // carrier's power.
  if (r.mark > 0 && !r.other && c.car.fixed() && tone.measures(r.mark) &&
      tone.judge(fine::off_tone(kTone, c.power, at - r.mark, at, c.car.rot(), n), c.off_share)) {
    c.key.drop(at, r.mark);
    r.mark = 0;
  }
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

// Whether cluster q's marks' carrier stands over those of the two clusters
// either side (those within twice neighbour_hz: 100 Hz on a span of 50 Hz
// steps): its own station's, not the sidebands of another beside it. Only such a cluster is keyed
// otherwise under frequent bursts, so that the clusters beside a station too strong for that key as
// before (weighed alike, beside a +15 dB station under eight crashes a second, they printed 20
// characters a minute that were not there). With `over`, only a carrier more than that many
// times q's counts.
bool FineFrontEnd::State::loudest(int q, double over) const {
  const int k = static_cast<int>(cl.size());
  for (int o = std::max(0, q - 2); o <= std::min(k - 1, q + 2); o++)
    if (o != q && std::abs(cl[o].centre - cl[q].centre) <= 2 * kGuard.neighbour_hz &&
        cl[o].car.carrier() > cl[q].car.carrier() * over)
      return false;
  return true;
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
