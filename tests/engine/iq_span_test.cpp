// The engine on I/Q behind the shared filter bank: what it decodes does not
// depend on how the input is cut into batches nor on the number of threads,
// and a station is decoded on its own cluster whichever channel of the bank
// it falls in (on a channel's centre, between two channels).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/render.h"
#include "support/stations.h"

namespace talvo {
namespace {

struct Collect : EngineSink {
  std::string log;  // every event: sample, cluster, text or call
  void event(const EngineEvent& e) override {
    log += std::to_string(e.sample) + " " + std::to_string(e.cluster) + " " +
           (e.is_call ? "call " + e.call.call : e.text) + "\n";
  }
};

// Decodes the I/Q samples with batches of `batch` frames on `threads`.
std::string decode(const std::vector<float>& iq, int rate, const std::vector<int>& centres,
                   int batch, int threads, std::vector<ClusterResult>* results = nullptr) {
  EngineSettings s;
  s.iq = true;
  s.rate = rate;
  s.centres = centres;
  s.threads = threads;
  s.find_calls = true;
  Engine e(s);
  Collect sink;
  const std::vector<double> in(iq.begin(), iq.end());
  const long long frames = static_cast<long long>(in.size() / 2);
  for (long long f = 0; f < frames; f += batch) {
    const int n = static_cast<int>(std::min<long long>(batch, frames - f));
    e.feed(in.data() + 2 * f, n, &sink);
  }
  e.input_ended();
  const std::vector<double> quiet(2 * Engine::kBatch, 0.0);
  for (int k = 0; k < 2 * rate / Engine::kBatch; k++)
    e.feed(quiet.data(), Engine::kBatch, &sink);
  e.finish(&sink);
  if (results) *results = e.results();
  return sink.log;
}

TEST(EngineIq, BatchesAndThreadsGiveTheSameEventsBehindTheFilterBank) {
  constexpr int kRate = 96000;
  // On a channel's centre (4000 Hz), between two channels (-5000 Hz) and
  // at the span's lower end.
  const std::vector<test::Station> st = {{4000, 24, "cq de dl1abc k"},
                                         {-5000, 22, "cq de ok1xyz k", 0.7},
                                         {-9950, 26, "cq de g4bxe k", 0.9}};
  const double amp = 2000;
  const auto iq = test::render(test::station_tones(st, amp, 0.7), test::stations_end(st) + 1,
                               amp * 0.15, 3, {}, true, kRate);
  std::vector<int> centres = span_centres(-9950, 6000);
  std::vector<ClusterResult> r;
  const std::string one = decode(iq, kRate, centres, Engine::kBatch, 1, &r);
  ASSERT_GT(one.size(), 50u) << one;
  for (const auto& s : st) {
    const auto c = std::find_if(r.begin(), r.end(), [&](const ClusterResult& x) {
      return x.center_hz == static_cast<int>(s.hz);
    });
    ASSERT_NE(c, r.end());
    EXPECT_EQ(c->text, s.text) << s.hz;
  }
  // Odd batches cut the bank's balance blocks and its samples anywhere.
  EXPECT_EQ(decode(iq, kRate, centres, 1000, 2), one);
  EXPECT_EQ(decode(iq, kRate, centres, 777, 3), one);
}

// A station that begins after seconds of noise finds its cluster asleep
// (only watched, its channel filter run every few ticks): the watch wakes
// it and the chain is primed from the envelopes held, so the station is
// copied from its first character, on both sides of the dial.
TEST(EngineIq, AStationOnASleepingClusterIsCopiedFromItsFirstCharacter) {
  constexpr int kRate = 96000;
  const std::vector<test::Station> st = {{2000, 24, "vvv de dl1abc k", 5.0},
                                         {-3000, 30, "test ok1xyz", 6.3}};
  const double amp = 2000;
  const auto iq = test::render(test::station_tones(st, amp, 0.7), test::stations_end(st) + 1,
                               amp * 0.15, 7, {}, true, kRate);
  std::vector<int> centres = span_centres(-4000, 3000);
  std::vector<ClusterResult> r;
  decode(iq, kRate, centres, Engine::kBatch, 2, &r);
  for (const auto& s : st) {
    const auto c = std::find_if(r.begin(), r.end(), [&](const ClusterResult& x) {
      return x.center_hz == static_cast<int>(s.hz);
    });
    ASSERT_NE(c, r.end());
    EXPECT_EQ(c->text, s.text) << s.hz;
  }
}

}  // namespace
}  // namespace talvo
