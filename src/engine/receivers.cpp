#include "engine/receivers.h"

#include <stdexcept>
#include <string>

#include "decoder/walk.h"
#include "rx/classic.h"
#include "rx/fine_receiver.h"

namespace talvo {

ReceiverParts make_receiver(const ReceiverPlan& p) {
  ReceiverParts r;
  if (p.kind == ReceiverKind::kClassic) {
    if (p.iq) throw std::invalid_argument("I/Q input needs the fine receiver");
    r.fe = std::make_unique<ClassicFrontEnd>(p.centerfreq);
    r.dec = std::make_unique<Decoder>(decoder_for(*r.fe, Rules::kClassic, p.text_width));
    return r;
  }
  if (p.centres.empty()) throw std::invalid_argument("no clusters");
  FinePlan plan;
  plan.sample_rate = p.rate;
  plan.native_rate = p.native_rate;
  plan.iq = p.iq;
  plan.bank = p.bank;
  plan.centres_hz.assign(p.centres.begin(), p.centres.end());
  const std::string why = FineFrontEnd::check(plan);
  if (!why.empty()) throw std::invalid_argument(why);
  r.fe = std::make_unique<FineReceiver>(plan);
  r.dec = std::make_unique<Decoder>(decoder_for(*r.fe, Rules::kFine, p.text_width));
  return r;
}

std::vector<int> span_centres(int lo_hz, int hi_hz) {
  std::vector<int> c;
  // The multiples of 50 from lo up to hi.
  int f = lo_hz >= 0 ? (lo_hz + 49) / 50 * 50 : -(-lo_hz / 50 * 50);
  for (; f <= hi_hz; f += 50)
    c.push_back(f);
  if (c.empty()) c.push_back((lo_hz + hi_hz) / 2 / 50 * 50);
  return c;
}

std::vector<int> nine_around(int centre_hz) {
  std::vector<int> c;
  for (int q = -4; q <= 4; q++)
    c.push_back(centre_hz + 50 * q);
  return c;
}

}  // namespace talvo
