#include "rx/fine/subtractor.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace talvo::fine {

void Subtractor::make(const SubtractorParams& p, const ChannelDesign& d,
                      std::span<const double> centres, std::span<const double> mixing, int taps,
                      bool on) {
  p_ = p;
  on_ = on;
  model_ = undb(p.model_db);
  dominated_ = undb(p.dominated_db);
  residue_ = undb(p.residue_db);
  sub_guard_min_ = undb(p.sub_guard_db);
  sub_guard_max_ = undb(p.edge_guard_db);
  const int k = static_cast<int>(centres.size());
  sub_lag_ =
      static_cast<int>(d.taps.size() - 1) / 2 + p.model.edge_settle_ticks + p.carrier_lead_ticks;
  models_.resize(k);
  cl_.resize(k);
  settled_.resize(k);
  reached_.assign(k, 0);
  sub_guard_.assign(k, 1.0);
  tones_.assign(centres.begin(), centres.end());
  modelled_.reserve(static_cast<std::size_t>(k));
  const std::size_t len = taps;
  for (int q = 0; q < k; q++) {
    models_[q].make(p.model, d, sub_lag_);
    auto& c = cl_[q];
    c.centre = centres[q];
    const double w = mixing[q];
    for (int n = 0; n < k; n++) {
      const double apart = std::abs(centres[n] - c.centre);
      if (n == q) continue;
      if (apart <= p.neighbour_hz) c.near.push_back(n);
      if (apart <= p.fit_clean_hz) {
        const double wn = mixing[n];
        c.fitn.push_back(n);
        c.fit_turn.push_back(std::polar(1.0, (w - wn) * (static_cast<double>(len) - 1) / 2));
      }
      if (apart <= std::max(p.subtract_hz, p.settled_hz)) {
        c.sub.push_back(n);
        c.sub_far.push_back(apart > p.subtract_hz);
        // What lies in both passbands stands in the two envelopes alike but
        // for the mixers' phasors and the decimator's delay of (len - 1) / 2
        // band samples, which turns by the difference of the two mixings.
        const double wn = mixing[n];
        c.sub_turn.push_back(std::polar(1.0, (w - wn) * (static_cast<double>(len) - 1) / 2));
      }
    }
  }
}

void Subtractor::reset() {
  for (auto& m : models_)
    m.reset();
  for (auto& c : cl_) {
    c.model = false;
    c.model_age = 0;
    c.misfit = 0;
    c.hardfit = 0;
    c.fits = false;
    c.mod = 0;
  }
  std::fill(settled_.begin(), settled_.end(), 0);
  std::fill(reached_.begin(), reached_.end(), 0);
  any_model_ = false;
  modelled_.clear();
}

// Which clusters' stations are subtracted from their neighbours: those
// measured well over the noise, with a tone learnt near their own centre,
// whose carrier estimate is settled. A station heard on two clusters is
// modelled by the one nearer its tone only. The tone's offset turns the
// model (updated when it moves).
void Subtractor::choose(std::span<const StationView> st) {
  const int k = static_cast<int>(cl_.size());
  const double own = 2 * std::numbers::pi * p_.own_hz / kTickRate;
  for (int q = 0; q < k; q++) {
    if (st[q].still) continue;  // as chosen before: not subtracted
    auto& c = cl_[q];
    auto& md = models_[q];
    const double n = st[q].floor;
    const double off = st[q].off;
    md.set_offset(off);
    c.tone = c.centre + off * kTickRate / (2 * std::numbers::pi);
    tones_[q] = c.tone;
    c.model = on_ && st[q].ready && n > 0 && st[q].carrier > n * model_ && st[q].toned &&
              std::abs(off) <= own && md.carrier_n() >= p_.model.carrier_first;
  }
  modelled_.clear();
  for (int q = 0; q < k; q++) {
    if (st[q].still) continue;
    auto& c = cl_[q];
    c.model_age = c.model ? c.model_age : 0;
    if (c.model) {
      for (int o : c.near) {
        const auto& d = cl_[o];
        // Beside a much stronger station the edges found are its sidebands'.
        if (st[o].carrier > st[q].carrier * dominated_) c.model = false;
        if (!d.model) continue;
        if (std::abs(c.tone - d.tone) >= p_.same_hz) continue;
        if (std::abs(models_[q].step_rad()) > std::abs(models_[o].step_rad()) ||
            (std::abs(models_[q].step_rad()) == std::abs(models_[o].step_rad()) && o < q))
          c.model = false;
      }
      c.model_age = c.model ? std::min(c.model_age + 1, p_.model_settle_ticks) : 0;
      // What the subtraction leaves lies near the noise: beside it a cluster
      // is clear where it stands residue_db over its noise.
      const double snr = st[q].carrier / std::max(st[q].floor, 1e-30);
      sub_guard_[q] = std::clamp(residue_ / snr, sub_guard_min_, sub_guard_max_);
      // Soft edges fit better than hard ones (the noise and the neighbours
      // weigh on both alike).
      c.fits = c.misfit < c.hardfit;
    }
    settled_[q] = c.model_age >= p_.model_settle_ticks && c.fits;
    if (c.model) modelled_.push_back(q);
  }
  any_model_ = !modelled_.empty();
  std::fill(reached_.begin(), reached_.end(), 0);
  for (const int q : modelled_) {
    const auto& c = cl_[q];
    for (std::size_t i = 0; i < c.sub.size(); i++)
      if (!c.sub_far[i] || far_taken(q, c.sub[i])) reached_[c.sub[i]] = 1;
  }
}

void Subtractor::predict(long long v) {
  for (const int q : modelled_) {
    auto& c = cl_[q];
    const auto& md = models_[q];
    const cfloat tn = md.turn(v);
    double apart = 0;
    std::complex<double> learnt = 0;
    const std::complex<double> own = md.at_tick(static_cast<double>(v), &apart, &learnt);
    c.mod = own * std::complex<double>(tn.real(), -tn.imag());
    c.mod_learnt = learnt * std::complex<double>(tn.real(), -tn.imag());
    c.own = own;
    c.edge_apart = apart;
  }
  // How well each model fits its own station at the key edges, where the
  // neighbours' leakage comes from (hard keying does not fit), on its
  // envelope less the other models nearby.
  for (const int q : modelled_) {
    auto& c = cl_[q];
    if (c.edge_apart > p_.fit_reach_ticks) continue;
    const auto& md = models_[q];
    const cfloat zz = md.zin(v);
    const cfloat tn = md.turn(v);
    std::complex<double> others = 0;
    for (std::size_t i = 0; i < c.fitn.size(); i++)
      if (cl_[c.fitn[i]].model) others += cl_[c.fitn[i]].mod * c.fit_turn[i];
    const std::complex<double> z = std::complex<double>(zz.real(), zz.imag()) -
                                   others * std::complex<double>(tn.real(), tn.imag());
    double apart = 0;
    const std::complex<double> hard =
        md.at_tick(static_cast<double>(v), &apart, p_.hard_half_ticks);
    c.misfit += p_.fit_track * (std::norm(z - c.own) - c.misfit);
    c.hardfit += p_.fit_track * (std::norm(z - hard) - c.hardfit);
  }
}

bool Subtractor::far_taken(int q, int o) const {
  return settled_[q] && std::abs(cl_[q].tone - cl_[o].tone) <= p_.settled_tone_hz;
}

cfloat Subtractor::subtracted(int q, long long v) const {
  const auto& c = cl_[q];
  const cfloat zv = models_[q].zin(v);
  std::complex<double> others = 0;
  for (std::size_t i = 0; i < c.sub.size(); i++) {
    const auto& o = cl_[c.sub[i]];
    if (c.sub_far[i] && !far_taken(c.sub[i], q)) continue;
    // A station this cluster would copy itself is not taken from it.
    const double apart = std::abs(o.tone - c.centre);
    if (o.model && apart > p_.own_hz + p_.spare_hz)
      others += (apart >= p_.mark_hz ? o.mod : o.mod_learnt) * c.sub_turn[i];
  }
  const cfloat tq = models_[q].turn(v);
  const std::complex<double> zc = std::complex<double>(zv.real(), zv.imag()) -
                                  others * std::complex<double>(tq.real(), tq.imag());
  return cfloat(static_cast<float>(zc.real()), static_cast<float>(zc.imag()));
}

}  // namespace talvo::fine
