// Real-time factor of the receive chain: seconds of audio per second of CPU.
//
// Pushes generated audio (several keyed signals on different clusters, with
// noise) through the comb, the mixer and the tick stages, the way the sample
// loop does, and prints the figure for the whole chain and the share of each
// stage. Usage: bench_rx [seconds of audio, default 60] [centre frequency]
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

#include "decoder/decoder.h"
#include "decoder/walk.h"
#include "rx/block.h"
#include "rx/classic.h"
#include "rx/stages.h"
#include "support/oracle.h"
#include "support/signal.h"

namespace {

double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

std::vector<int16_t> workload(int centerfreq, double seconds) {
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<talvo::test::KeyedTone> tones;
  const int clusters[] = {-20, -10, 0, 5, 15};
  for (int c : clusters) {
    talvo::test::KeyedTone t;
    t.freq = centerfreq + 10 * c + 4 * (u(gen) - 0.5);
    t.amp = 3000 + 5000 * u(gen);
    const double unit = 0.04 + 0.06 * u(gen);  // 12 to 30 words per minute
    for (double s = 0.1; s < seconds; s += unit * (u(gen) < 0.5 ? 2 : 4))
      s += (t.on.emplace_back(s, s + unit * (u(gen) < 0.6 ? 1 : 3)), unit * 3 * (u(gen) < 0.3));
    tones.push_back(t);
  }
  return talvo::test::mix(tones, seconds, 800, 9);
}

// Runs the chain over the audio up to and including stage `upto` (0: comb and
// mixer only, 1: + iqabs, 2: + absmittel, 3: + nlg1, 4: + adaptthreshold2) and
// returns the CPU seconds it took.
double run_chain(const std::vector<int16_t>& audio, int centerfreq, int upto, long& keydown) {
  auto rx = talvo::init(centerfreq);
  keydown = 0;
  const double start = cpu_seconds();
  for (int16_t s : audio) {
    talvo::receive_sample(*rx, s);
    if (!rx->newdataflag || upto == 0) continue;
    talvo::iqabs(*rx);
    if (upto >= 2) talvo::absmittel(*rx);
    if (upto >= 3) talvo::nlg1(*rx);
    if (upto >= 4) talvo::adaptthreshold2(*rx);
    keydown += rx->valuethr[0] != 0.0;
  }
  return cpu_seconds() - start;
}

// Counts what the decoder gives.
class Count : public talvo::DecoderOutput {
 public:
  void print(const talvo::ClusterDecoder&, int, const char* s) override {
    for (; *s; s++)
      chars++;
  }
  long chars = 0;
};

// Counts the key-down tick samples of the centre cluster.
class CountKeyDown : public talvo::WalkSteps {
 public:
  explicit CountKeyDown(const talvo::FrontEnd& fe) : fe_(fe) {}
  void after_decode(int) override { keydown += fe_.key(4) != 0.0; }
  long keydown = 0;

 private:
  const talvo::FrontEnd& fe_;
};

// The block pipeline as the program runs it: blocks of kBlock samples, then
// the walk through the block in sample order, with the decoder.
double run_blocks(const std::vector<int16_t>& audio, int centerfreq, long& keydown, long& decoded) {
  Count count;
  talvo::ClassicFrontEnd fe(centerfreq);
  talvo::Decoder dec = talvo::decoder_for(fe, talvo::Rules::kClassic, 100);
  CountKeyDown steps(fe);
  std::vector<double> in(talvo::kBlock);
  const double start = cpu_seconds();
  for (std::size_t s = 0; s < audio.size(); s += talvo::kBlock) {
    const int n = static_cast<int>(std::min<std::size_t>(talvo::kBlock, audio.size() - s));
    for (int k = 0; k < n; k++)
      in[k] = audio[s + k];
    talvo::walk_block(fe, dec, in.data(), n, count, steps);
  }
  keydown = steps.keydown;
  decoded = count.chars;
  return cpu_seconds() - start;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  const int centerfreq = argc > 2 ? std::atoi(argv[2]) : 700;
  std::printf("generating %.0f s of audio with five keyed signals and noise at %d Hz...\n", seconds,
              centerfreq);
  const auto audio = workload(centerfreq, seconds);

  // The shares come from runs that stop after each stage: timing the stages
  // one by one would cost more clock reads than the stages themselves.
  const char* names[] = {"comb+mixer", "iqabs", "absmittel", "nlg1", "adaptthreshold2"};
  double upto[5];
  long keydown = 0;
  // Each figure is the best of three runs: the machine's other work only ever
  // adds time.
  for (int k = 0; k < 5; k++) {
    upto[k] = run_chain(audio, centerfreq, k, keydown);
    for (int rep = 0; rep < 2; rep++)
      upto[k] = std::min(upto[k], run_chain(audio, centerfreq, k, keydown));
  }
  const double whole = upto[4];

  long block_keydown = 0, decoded = 0;
  double blocks = run_blocks(audio, centerfreq, block_keydown, decoded);
  for (int rep = 0; rep < 2; rep++)
    blocks = std::min(blocks, run_blocks(audio, centerfreq, block_keydown, decoded));

  std::printf("key-down ticks at the centre cluster: %ld (in blocks: %ld)\n", keydown,
              block_keydown);
  std::printf(
      "receive chain in blocks of %d with the decoder (%ld characters): %.1f s of audio in %.3f "
      "s of CPU: %.0f times real time\n",
      talvo::kBlock, decoded, seconds, blocks, seconds / blocks);
  std::printf("sample by sample: %.3f s of CPU: %.0f times real time\n", whole, seconds / whole);
  for (int k = 0; k < 5; k++) {
    const double t = upto[k] - (k ? upto[k - 1] : 0.0);
    std::printf("  %-16s %6.3f s  %3.0f%%\n", names[k], t, 100 * t / whole);
  }
  return 0;
}
