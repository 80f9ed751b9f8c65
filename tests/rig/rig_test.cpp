// The radio's name on the command line, the spot frequency from the dial,
// and the poller against a scripted link and against a real rigctld (hamlib's
// dummy rig) started on a free port of 127.0.0.1, set by rigctl as an
// operator turns the dial, killed and started again.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rig/rig_address.h"
#include "rig/rig_poller.h"
#include "rig/rigctld.h"
#include "rig/spot_frequency.h"
#include "support/find_program.h"
#include "support/loopback.h"
#include "support/piped_child.h"
#include "support/process.h"

namespace talvo::rig {
namespace {

using talvo::test::PipedChild;

// Waits until `done` holds, at most `seconds`.
bool wait_for(const std::function<bool()>& done, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

TEST(RigAddress, ReadsRigctldAndModelDevice) {
  auto r = parse_rig_address("localhost:4532");
  ASSERT_TRUE(r.address) << r.error;
  EXPECT_EQ(r.address->model, kNetRigctlModel);
  EXPECT_EQ(r.address->device, "localhost:4532");
  r = parse_rig_address("192.168.1.20:4533");
  ASSERT_TRUE(r.address) << r.error;
  EXPECT_EQ(r.address->model, 2);
  EXPECT_EQ(r.address->device, "192.168.1.20:4533");
  r = parse_rig_address("[::1]:4532");
  ASSERT_TRUE(r.address) << r.error;
  EXPECT_EQ(r.address->device, "[::1]:4532");

  r = parse_rig_address("1035:/dev/ttyUSB0");
  ASSERT_TRUE(r.address) << r.error;
  EXPECT_EQ(r.address->model, 1035);
  EXPECT_EQ(r.address->device, "/dev/ttyUSB0");
  r = parse_rig_address("3073,/dev/ttyACM1");
  ASSERT_TRUE(r.address) << r.error;
  EXPECT_EQ(r.address->model, 3073);
  EXPECT_EQ(r.address->device, "/dev/ttyACM1");
  r = parse_rig_address("1:none");
  ASSERT_TRUE(r.address) << r.error;
  EXPECT_EQ(r.address->model, 1);
  EXPECT_EQ(describe(*r.address), "hamlib model 1 on none");
  EXPECT_EQ(describe(*parse_rig_address("host:1").address), "rigctld at host:1");
}

TEST(RigAddress, RefusesWithTheReason) {
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"", "empty"},
      {"localhost", "expected HOST:PORT"},
      {"localhost:", "port must be a number"},
      {"localhost:0", "port must be a number"},
      {"localhost:65536", "port must be a number"},
      {"localhost:45x", "port must be a number"},
      {":4532", "no host"},
      {"1035:", "no device"},
      {"1035,", "no device"},
      {"abc,/dev/ttyUSB0", "hamlib model number"},
      {"0,/dev/ttyUSB0", "hamlib model number"},
      {"::1:4532", "brackets"},
      {"[::1]4532", "[ADDRESS]:PORT"},
      {"my host:4532", "host name"},
  };
  for (const auto& [text, why] : bad) {
    const auto r = parse_rig_address(text);
    EXPECT_FALSE(r.address) << text;
    EXPECT_NE(r.error.find(why), std::string::npos) << text << " -> " << r.error;
    EXPECT_NE(r.error.find("'" + text + "'"), std::string::npos) << r.error;
  }
}

TEST(SpotFrequency, WorkedValuesForEachMode) {
  RigReading r;
  r.dial_hz = 14025000;
  r.pitch_hz = 600;
  r.mode = RigMode::kUsb;
  EXPECT_DOUBLE_EQ(spot_hz(r, 700), 14025700);
  r.mode = RigMode::kLsb;
  EXPECT_DOUBLE_EQ(spot_hz(r, 700), 14024300);
  // CW: the dial shows the signal heard at the pitch; 100 Hz above the
  // pitch in the audio is 100 Hz above the dial.
  r.mode = RigMode::kCw;
  EXPECT_DOUBLE_EQ(spot_hz(r, 600), 14025000);
  EXPECT_DOUBLE_EQ(spot_hz(r, 700), 14025100);
  EXPECT_DOUBLE_EQ(spot_hz(r, 450), 14024850);
  r.mode = RigMode::kCwr;
  EXPECT_DOUBLE_EQ(spot_hz(r, 700), 14024900);
  EXPECT_DOUBLE_EQ(spot_hz(r, 450), 14025150);
  r.pitch_hz = 800;
  r.mode = RigMode::kCw;
  EXPECT_DOUBLE_EQ(spot_hz(r, 700), 14024900);
  r.mode = RigMode::kOther;  // taken as USB
  EXPECT_DOUBLE_EQ(spot_hz(r, 700), 14025700);
}

// A radio whose answers the test sets: it answers while `up`.
struct ScriptedRadio {
  std::mutex m;
  bool up = true;
  RigAnswer answer;
  int opens = 0;
};

class ScriptedLink final : public RigLink {
 public:
  explicit ScriptedLink(std::shared_ptr<ScriptedRadio> r) : radio_(std::move(r)) {}
  bool open(std::string& error) override {
    std::lock_guard<std::mutex> lock(radio_->m);
    ++radio_->opens;
    if (!radio_->up) error = "connection refused";
    return radio_->up;
  }
  bool read(RigAnswer& a, std::string& error) override {
    std::lock_guard<std::mutex> lock(radio_->m);
    if (!radio_->up) error = "connection reset";
    a = radio_->answer;
    return radio_->up;
  }
  void close() override {}

 private:
  std::shared_ptr<ScriptedRadio> radio_;
};

TEST(RigPoller, ReportsSilenceOnceKeepsTheDialAndReopens) {
  auto radio = std::make_shared<ScriptedRadio>();
  radio->answer = {7012000, RigMode::kCw, 0};
  RigPollOptions o;
  o.pitch_hz = 550;
  o.poll_seconds = 0.02;
  RigPoller p(std::make_unique<ScriptedLink>(radio), o);
  ASSERT_TRUE(wait_for([&] { return p.latest().answering; }, 5));
  EXPECT_EQ(p.latest().dial_hz, 7012000);
  EXPECT_EQ(p.latest().pitch_hz, 550);  // the radio reports no pitch
  EXPECT_EQ(p.take_notice(), "");

  {
    std::lock_guard<std::mutex> lock(radio->m);
    radio->up = false;
  }
  ASSERT_TRUE(wait_for([&] { return !p.latest().answering; }, 5));
  const long polls = p.polls();
  ASSERT_TRUE(wait_for([&] { return p.polls() > polls + 10; }, 5));  // silent for many polls
  const std::string n = p.take_notice();
  EXPECT_NE(n.find("not answering (connection reset)"), std::string::npos) << n;
  EXPECT_NE(n.find("7012.000 kHz"), std::string::npos) << n;
  EXPECT_EQ(p.take_notice(), "");  // once, not every poll
  EXPECT_EQ(p.latest().dial_hz, 7012000);
  EXPECT_EQ(p.latest().mode, RigMode::kCw);

  {
    std::lock_guard<std::mutex> lock(radio->m);
    radio->up = true;
    radio->answer = {7020500, RigMode::kCwr, 700};
  }
  ASSERT_TRUE(wait_for([&] { return p.latest().answering; }, 5));
  EXPECT_EQ(p.latest().dial_hz, 7020500);
  EXPECT_EQ(p.latest().pitch_hz, 700);  // the radio's own
  EXPECT_EQ(p.take_notice(), "rig: answering again at 7020.500 kHz CWR");
  std::lock_guard<std::mutex> lock(radio->m);
  EXPECT_GT(radio->opens, 10);  // opened again on every silent poll
}

using talvo::test::rigctl;
using talvo::test::set_rig;
using talvo::test::start_rigctld;

TEST(RigPoller, FollowsARealRigctldThroughQsyAndARestart) {
  const int port = talvo::test::free_port();
  ASSERT_GT(port, 0);
  auto rigctld = start_rigctld(port);
  ASSERT_TRUE(set_rig(port, {"F", "14025000", "M", "CW", "500"}));

  const auto address = parse_rig_address("127.0.0.1:" + std::to_string(port));
  ASSERT_TRUE(address.address) << address.error;
  RigPoller p(hamlib_link(*address.address));  // polls once a second, pitch 600 Hz
  ASSERT_TRUE(wait_for([&] { return p.latest().dial_hz == 14025000; }, 3));
  RigReading r = p.latest();
  EXPECT_TRUE(r.answering);
  EXPECT_EQ(r.mode, RigMode::kCw);
  EXPECT_EQ(r.pitch_hz, 600);  // the dummy rig reports pitch 0: the configured one
  EXPECT_EQ(spot_hz(r, 700), 14025100);

  // The operator turns the dial and changes the pitch.
  ASSERT_EQ(rigctl(port, {"F", "14031500", "L", "CWPITCH", "700"}).status, 0);
  ASSERT_TRUE(wait_for([&] { return p.latest().dial_hz == 14031500; }, 3));
  ASSERT_TRUE(wait_for([&] { return p.latest().pitch_hz == 700; }, 3));
  EXPECT_EQ(spot_hz(p.latest(), 700), 14031500);
  EXPECT_EQ(p.take_notice(), "");

  // rigctld goes away: reported once, the last frequency kept.
  rigctld.reset();  // killed
  ASSERT_TRUE(wait_for([&] { return !p.latest().answering; }, 5));
  const long polls = p.polls();
  ASSERT_TRUE(wait_for([&] { return p.polls() >= polls + 3; }, 8));
  const std::string n = p.take_notice();
  std::printf("notice: %s\n", n.c_str());
  EXPECT_NE(n.find("rig: not answering"), std::string::npos) << n;
  EXPECT_NE(n.find("keeping 14031.500 kHz"), std::string::npos) << n;
  EXPECT_EQ(p.take_notice(), "");
  EXPECT_EQ(p.latest().dial_hz, 14031500);

  // It comes back (the dummy rig starts afresh) and is set again.
  rigctld = start_rigctld(port);
  ASSERT_TRUE(set_rig(port, {"F", "7012000", "M", "CWR", "0"}));
  ASSERT_TRUE(wait_for([&] { return p.latest().dial_hz == 7012000; }, 5));
  r = p.latest();
  EXPECT_TRUE(r.answering);
  EXPECT_EQ(r.mode, RigMode::kCwr);
  EXPECT_EQ(p.take_notice(), "rig: answering again at 7012.000 kHz CWR");
  std::printf("polls: %ld, reading %.0f Hz %s pitch %.0f\n", p.polls(), r.dial_hz,
              mode_name(r.mode), r.pitch_hz);
}

TEST(RigPoller, OpensAHamlibModelDirectly) {
  // Model 1, the dummy rig, in this process: the MODEL:DEVICE path without
  // a rigctld. It answers with its own frequency at once.
  const auto address = parse_rig_address("1:/dev/null");
  ASSERT_TRUE(address.address) << address.error;
  RigPollOptions o;
  o.pitch_hz = 650;
  RigPoller p(hamlib_link(*address.address), o);
  ASSERT_TRUE(wait_for([&] { return p.latest().answering; }, 3)) << p.take_notice();
  EXPECT_GT(p.latest().dial_hz, 0);
  EXPECT_EQ(p.latest().pitch_hz, 650);
  EXPECT_EQ(p.take_notice(), "");
  const auto bad = parse_rig_address("999999:/dev/null");
  ASSERT_TRUE(bad.address);
  RigPoller q(hamlib_link(*bad.address), o);
  std::string n;
  ASSERT_TRUE(wait_for([&] { return !(n = q.take_notice()).empty(); }, 3));
  EXPECT_EQ(n, "rig: hamlib has no rig model 999999; trying again every poll");
}

TEST(RigPoller, UnreachableAtStartIsReportedAndPollingGoesOn) {
  const int port = talvo::test::free_port();
  ASSERT_GT(port, 0);
  const auto address = parse_rig_address("127.0.0.1:" + std::to_string(port));
  RigPollOptions o;
  o.poll_seconds = 0.3;
  const auto t0 = std::chrono::steady_clock::now();
  auto p = std::make_unique<RigPoller>(hamlib_link(*address.address), o);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
  std::string n;
  ASSERT_TRUE(wait_for([&] { return !(n = p->take_notice()).empty(); }, 5));
  std::printf("notice: %s\n", n.c_str());
  EXPECT_NE(n.find("rig: cannot open rigctld at 127.0.0.1:" + std::to_string(port)),
            std::string::npos)
      << n;
  EXPECT_FALSE(p->latest().answering);
  EXPECT_EQ(p->latest().dial_hz, 0);
  const long polls = p->polls();
  ASSERT_TRUE(wait_for([&] { return p->polls() >= polls + 2; }, 5));
  EXPECT_EQ(p->take_notice(), "");

  auto rigctld = start_rigctld(port);
  ASSERT_TRUE(set_rig(port, {"F", "3525000", "M", "LSB", "0"}));
  ASSERT_TRUE(wait_for([&] { return p->latest().dial_hz == 3525000; }, 5));
  EXPECT_EQ(p->latest().mode, RigMode::kLsb);
  EXPECT_EQ(p->take_notice(), "rig: answering again at 3525.000 kHz LSB");

  const auto t1 = std::chrono::steady_clock::now();
  p.reset();  // stops within the bounded wait
  EXPECT_LT(std::chrono::steady_clock::now() - t1, std::chrono::seconds(3));
}

}  // namespace
}  // namespace talvo::rig
