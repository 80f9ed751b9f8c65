// The window program on the fine front end, in-process: decoded text of a
// selected cluster, the waterfall at its pace, the transmit tone on the
// cluster's frequency and the key line at its ticks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "frame/startup.h"
#include "support/headless.h"
#include "support/morse.h"
#include "support/process.h"
#include "support/render.h"
#include "support/signal.h"

namespace talvo {
namespace {

class CountingKeyLine : public KeyLine {
 public:
  explicit CountingKeyLine(int* sets) : sets_(sets) {}
  void set(bool) override { ++*sets_; }

 private:
  int* sets_;
};

// A fine station at 700 Hz reading `audio` (S16LE bytes).
struct FineRig {
  Station st;
  FILE* decoded = std::tmpfile();
  explicit FineRig(const std::string& audio, Sidetone mode = notone) {
    test::headless();
    st.set.centerfreq = 700;
    st.set.fine = true;
    st.set.sidetone = mode;
    fix_layout(st);
    st.screen.vis.make(1200, 480);
    make_receiver(st);
    st.decoded = decoded;
    st.fp = std::tmpfile();
    std::fwrite(audio.data(), 1, audio.size(), st.fp);
    std::rewind(st.fp);
    if (mode != notone) st.fpout = std::tmpfile();
  }
  ~FineRig() {
    std::fclose(st.fp);
    std::fclose(decoded);
    if (st.fpout) std::fclose(st.fpout);
  }
};

// The text keyed at 20 WPM, then 1.5 s of noise alone.
std::string keyed_audio(const std::string& text, double freq, double snr_db) {
  test::MorseSignal m;
  m.text = text;
  m.freq = freq;
  m.cpm = 100;  // 20 WPM
  m.amp = 8000;
  m.start = 0.8;
  const auto k = test::morse(m);
  const auto f = test::render({k.tone}, k.end + 1.5, test::noise_for_snr(m.amp, snr_db), 7);
  std::vector<int16_t> s(f.size());
  for (std::size_t i = 0; i < f.size(); i++)
    s[i] = static_cast<int16_t>(std::lround(std::clamp(f[i], -32768.0f, 32767.0f)));
  return test::to_bytes(s);
}

TEST(FineStation, SelectedClusterDecodesToStandardOutputAndTheWaterfallShowsIt) {
  FineRig r(keyed_audio("cq de dl1abc dl1abc k", 700, 20));
  ASSERT_EQ(r.st.fe->clusters(), 9);
  EXPECT_EQ(r.st.fe->centre_hz(4), 700);
  EXPECT_EQ(r.st.fe->centre_hz(0), 500);
  (*r.st.dec)[4].decchannel = kSelected;
  sample_loop(r.st);
  const std::string out = test::written_to(r.decoded);
  EXPECT_NE(out.find("dl1abc dl1abc"), std::string::npos) << out;
  // The text line holds it too, with a speed near 100 characters a minute.
  EXPECT_NE(std::string((*r.st.dec)[4].textbuffer.data()).find("dl1abc"), std::string::npos);
  EXPECT_NEAR((*r.st.dec)[4].speed, 100, 15);
  // About 50 columns a second, as on the classic chain: the sweep has
  // wrapped (at 339 to 40) and covered the strip.
  int red = 0, bright = 0;
  for (int x = 40; x < 340; x++) {
    const ggi_pixel p = r.st.screen.vis.pixel(x, 240);  // the strip of cluster 4
    red += (p >> 16) > 100;
    bright += (p >> 16) > 100 || ((p >> 8) & 0xFF) > 100;
  }
  EXPECT_GT(red, 20);  // selected: red, bright while keyed
  EXPECT_GT(bright, 20);
  // An empty cluster's strip stays dim.
  for (int x = 40; x < 340; x++)
    ASSERT_LT((r.st.screen.vis.pixel(x, 240 + 160) >> 8) & 0xFF, 100u) << x;
}

TEST(FineStation, ToneOnTheTransmitClusterAndTheKeyLineAtItsTicks) {
  const int seconds = 3;
  FineRig r(std::string(static_cast<std::size_t>(seconds * 48000 * 2), '\0'), txtone);
  int sets = 0;
  r.st.keyline = std::make_unique<CountingKeyLine>(&sets);
  r.st.keyer.txch = 6;  // 800 Hz
  for (char c : std::string("ttt"))
    txinqueue(r.st.keyer, r.st.screen.vis, c);
  sample_loop(r.st);
  // 500 ticks a second, a key-line setting at each.
  EXPECT_NEAR(sets, 500 * seconds, 2);
  std::fflush(r.st.fpout);
  std::rewind(r.st.fpout);
  std::vector<int> tone;
  for (int lo, hi; (lo = std::fgetc(r.st.fpout)) != EOF && (hi = std::fgetc(r.st.fpout)) != EOF;)
    tone.push_back(static_cast<int16_t>(lo | hi << 8));
  ASSERT_EQ(tone.size(), static_cast<std::size_t>(seconds * 48000));
  // Zero crossings while the tone sounds (within a cycle of a loud sample):
  // 2 per cycle of 800 Hz.
  std::vector<bool> sounding(tone.size());
  for (std::size_t i = 0; i < tone.size(); i++)
    if (std::abs(tone[i]) > 15000)
      for (std::size_t j = i >= 60 ? i - 60 : 0; j < std::min(tone.size(), i + 60); j++)
        sounding[j] = true;
  int loud = 0, crossings = 0;
  for (std::size_t i = 1; i < tone.size(); i++) {
    if (!sounding[i] || !sounding[i - 1]) continue;
    loud++;
    crossings += (tone[i] >= 0) != (tone[i - 1] >= 0);
  }
  ASSERT_GT(loud, 48000 / 4);
  const double hz = crossings / 2.0 / (loud / 48000.0);
  EXPECT_NEAR(hz, 800, 40);
}

}  // namespace
}  // namespace talvo
