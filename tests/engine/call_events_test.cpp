// The engine's call events from whole signals: when a call is decided
// against the audio that makes it the sender's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/render.h"
#include "support/stations.h"

namespace talvo {
namespace {

constexpr int kRate = 48000;

struct Calls : EngineSink {
  std::vector<std::pair<double, std::string>> calls;  // seconds of audio, call
  void event(const EngineEvent& e) override {
    if (e.is_call) calls.emplace_back(static_cast<double>(e.sample) / kRate, e.call.call);
  }
};

// The call events of `st` decoded over `seconds` of audio (600-800 Hz).
std::vector<std::pair<double, std::string>> calls_of(const std::vector<test::Station>& st,
                                                     double seconds) {
  const double amp = 2000;
  const auto audio =
      test::render(test::station_tones(st, amp, 0.7), seconds, amp * 0.15, 5, {}, false, kRate);
  EngineSettings s;
  s.rate = kRate;
  s.centres = span_centres(600, 800);
  s.threads = 1;
  s.find_calls = true;
  Engine e(s);
  Calls sink;
  const std::vector<double> in(audio.begin(), audio.end());
  const auto frames = static_cast<long long>(in.size());
  for (long long f = 0; f < frames; f += Engine::kBatch)
    e.feed(in.data() + f, static_cast<int>(std::min<long long>(Engine::kBatch, frames - f)), &sink);
  e.input_ended();
  e.finish(&sink);
  return sink.calls;
}

// A runner's CQ that ends on its call twice is decided once it has fallen
// silent, not when its next CQ's first word ends seconds later.
TEST(EngineCalls, ACqEndingOnItsCallTwiceIsDecidedOnTheSilenceAfter) {
  test::Station first{700, 28, "cq test g0mbv g0mbv", 0.5};
  const double end = test::stations_end({first});
  test::Station second{700, 28, "cq test g0mbv g0mbv", end + 3.0};
  const auto calls = calls_of({first, second}, test::stations_end({second}) + 1.5);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].second, "G0MBV");
  // Decided 12 dits after its last mark, and dated in the audio where the
  // sending ended (a call decided by the next CQ's first word would be
  // dated there, 3 s later).
  EXPECT_NEAR(calls[0].first, end, 0.1);
  // The second CQ is a sending of its own, decided on the silence after it.
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].second, "G0MBV");
  EXPECT_NEAR(calls[1].first, test::stations_end({second}), 0.1);
}

// Word gaps inside an over are no silence: the call an exchange is sent to,
// twice, is never decided before the report that follows it.
TEST(EngineCalls, AWordGapInsideAnOverDecidesNothing) {
  const test::Station over{700, 28, "cq test g0mbv g0mbv 5nn 14 tu", 0.5};
  const auto calls = calls_of({over}, test::stations_end({over}) + 2);
  EXPECT_TRUE(calls.empty()) << calls[0].second;
}

}  // namespace
}  // namespace talvo
