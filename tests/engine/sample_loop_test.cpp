// The sample loop in-process: sample assembly, overload flag, pass-through,
// transmit tone stream, RTS refresh and the waterfall cadence.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frame/startup.h"
#include "rx/classic.h"
#include "support/process.h"
#include "support/signal.h"

namespace talvo {
namespace {

class RecordingKeyLine : public KeyLine {
 public:
  explicit RecordingKeyLine(std::vector<bool>* log) : log_(log) {}
  void set(bool down) override { log_->push_back(down); }

 private:
  std::vector<bool>* log_;
};

// A station reading `input`, writing its output (if any) to a temporary file.
struct Rig {
  Station st;
  std::string input;
  FILE* out = nullptr;
  std::vector<bool> rts;  // every key-line setting, true key down

  explicit Rig(std::string bytes, Sidetone mode = notone, bool serial = false)
      : input(std::move(bytes)) {
    st.set.centerfreq = 700;
    st.set.sidetone = mode;
    fix_layout(st);
    make_receiver(st);
    st.fp = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), st.fp);
    std::rewind(st.fp);
    if (mode != notone) st.fpout = out = std::tmpfile();
    if (serial) st.keyline = std::make_unique<RecordingKeyLine>(&rts);
  }
  ~Rig() {
    std::fclose(st.fp);
    if (out) std::fclose(out);
  }
  std::string output() { return talvo::test::written_to(out); }
  // The classic chain's state.
  Receiver& rx() { return static_cast<ClassicFrontEnd&>(*st.fe).receiver(); }
};

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b)
    s.push_back(static_cast<char>(v));
  return s;
}

TEST(SampleLoop, AssemblesSigned16BitLittleEndianSamples) {
  // The first sample lands in slot 0 of every comb ring as 0.1 x.
  const std::pair<std::string, double> cases[] = {{bytes({0x34, 0x12}), 4660.0},
                                                  {bytes({0xFF, 0xFF}), -1.0},
                                                  {bytes({0x00, 0x80}), -32768.0},
                                                  {bytes({0xFF, 0x7F}), 32767.0}};
  for (const auto& [b, x] : cases) {
    Rig r(b);
    sample_loop(r.st);
    EXPECT_EQ(r.rx().infr[0], 0.1 * x) << x;
    EXPECT_EQ(r.rx().infr[-21], 0.1 * x) << x;
  }
  Rig g(bytes({0x34, 0x12}));
  g.st.op.ingain = 2.5;
  sample_loop(g.st);
  EXPECT_EQ(g.rx().infr[0], 0.1 * (4660.0 * 2.5));
}

TEST(SampleLoop, OverloadFlagLooksAtTheSampleBeforeTheGain) {
  auto flag = [](int16_t v, double gain) {
    Rig r(test::to_bytes({v}));
    r.st.op.ingain = gain;
    sample_loop(r.st);
    return r.st.overflow;
  };
  EXPECT_EQ(flag(28000, 1.0), 0);
  EXPECT_EQ(flag(-28000, 1.0), 0);
  EXPECT_EQ(flag(28001, 1.0), 1);
  EXPECT_EQ(flag(-28001, 1.0), 1);
  EXPECT_EQ(flag(3000, 10.0), 0);
}

TEST(SampleLoop, RxtonePassesTheInputBytesThroughAndDropsALoneLastByte) {
  std::string in = test::to_bytes(test::mix({{700, 9000, 0, {{0, 1}}, 0.005}}, 0.05));
  const std::string whole = in;
  in.push_back('\x5A');
  Rig r(in, rxtone);
  sample_loop(r.st);
  EXPECT_EQ(r.output(), whole);
}

TEST(SampleLoop, TxtoneWritesOneToneSamplePerInputSample) {
  const std::size_t n = 5000;
  Rig r(std::string(2 * n + 1, '\0'), txtone);
  sample_loop(r.st);
  EXPECT_EQ(r.output(), std::string(2 * n, '\0'));  // the keyer is idle: silence

  // With an amplitude the tone is the transmit channel's sine, S16LE.
  Rig t(std::string(2 * 200, '\0'), txtone);
  t.st.keyer.txampl = 10000;
  t.st.keyer.txch = cluster_of(0);
  sample_loop(t.st);
  const std::string o = t.output();
  ASSERT_EQ(o.size(), 400u);
  // The keyer, idle, moves the amplitude halfway to 0 at every tick of the
  // transmit channel, after that sample's tone: 10000, then 5000, 2500.
  for (int i = 0; i < 200; i++) {
    const int pos = (i + 1) % 68;
    const int amp = i < 68 ? 10000 : i < 136 ? 5000 : 2500;
    const auto want = static_cast<int16_t>(static_cast<int>(amp * t.rx().S[0][pos]));
    const auto got = static_cast<int16_t>(static_cast<uint8_t>(o[2 * i]) |
                                          static_cast<uint8_t>(o[2 * i + 1]) << 8);
    ASSERT_EQ(got, want) << i;
  }
}

TEST(SampleLoop, KeyLineSetAtEveryTickOfTheTransmitCluster) {
  Rig r(std::string(2 * 1000, '\0'), notone, true);
  r.st.keyer.txch = cluster_of(5);  // 750 Hz: a period of 64 samples
  sample_loop(r.st);
  ASSERT_EQ(r.rts.size(), 1000u / 64);
  for (bool down : r.rts)
    EXPECT_FALSE(down);

  Rig d(std::string(2 * 1000, '\0'), notone, true);
  d.st.keyer.key_down = true;  // the keyer's first unit (key up) releases it
  sample_loop(d.st);
  ASSERT_EQ(d.rts.size(), 1000u / 68);
  EXPECT_TRUE(d.rts.front());
}

TEST(SampleLoop, WaterfallCadence) {
  Station st;
  int first = 0;
  for (int n = 1; n <= 1000 && !first; n++)
    if (waterfall_due(st)) first = n;
  EXPECT_EQ(first, 314);   // 200 * 47 / 30 = 313
  st.op.wasserdelay = 30;  // 30 * 47 / 30 = 47
  int due = 0;
  for (int n = 1; n <= 48 * 3; n++)
    due += waterfall_due(st);
  EXPECT_EQ(due, 3);
}

TEST(SampleLoop, WaterfallColumnClearsTheOverloadFlagInSampleOrder) {
  // An overload on the first sample is cleared by the first waterfall column
  // (the 314th tick sample, within the first 1000 samples); one that comes
  // after the column stays lit, even inside the same block of samples.
  std::vector<int16_t> first(1500, 0), late(1500, 0);
  first[0] = 30000;
  late[1400] = -30000;
  Rig a(test::to_bytes(first));
  sample_loop(a.st);
  EXPECT_EQ(a.st.overflow, 0);
  Rig b(test::to_bytes(late));
  sample_loop(b.st);
  EXPECT_EQ(b.st.overflow, 1);
}

TEST(SampleLoop, EmptyInputEndsAtOnce) {
  Rig r("");
  sample_loop(r.st);
  EXPECT_EQ(r.rx().newdata[0], 0);
  EXPECT_EQ(r.rx().time[0], 0);
}

}  // namespace
}  // namespace talvo
