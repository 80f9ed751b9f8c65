// Real-time factor of the receive chain: seconds of audio per second of CPU.
//
// Pushes generated audio (several keyed signals on different clusters, with
// noise) through the comb, the mixer and the tick stages, the way the sample
// loop does, and prints the figure for the whole chain and the share of each
// stage. Usage: bench_rx [seconds of audio, default 60] [centre frequency]
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "rx/comb.h"
#include "rx/mixer.h"
#include "rx/stages.h"
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

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  const int centerfreq = argc > 2 ? std::atoi(argv[2]) : 700;
  std::printf("generating %.0f s of audio with five keyed signals and noise at %d Hz...\n", seconds,
              centerfreq);
  const auto audio = workload(centerfreq, seconds);
  auto rx = talvo::init(centerfreq);

  double t_sample = 0, t_iq = 0, t_abs = 0, t_nlg = 0, t_thr = 0;
  long keydown = 0, ticks = 0;
  const double start = cpu_seconds();
  // Timing each stage separately costs clock reads; run once for the whole
  // figure and once more for the shares.
  for (int16_t s : audio) {
    const double in = s;
    talvo::combfilter(*rx, in);
    rx->newdataflag = 0;
    talvo::mixer(*rx, in);
    if (!rx->newdataflag) continue;
    talvo::iqabs(*rx);
    talvo::absmittel(*rx);
    talvo::nlg1(*rx);
    talvo::adaptthreshold2(*rx);
    ticks++;
    keydown += rx->valuethr[0] != 0.0;
  }
  const double whole = cpu_seconds() - start;

  auto rx2 = talvo::init(centerfreq);
  for (int16_t s : audio) {
    double t0 = cpu_seconds();
    const double in = s;
    talvo::combfilter(*rx2, in);
    rx2->newdataflag = 0;
    talvo::mixer(*rx2, in);
    double t1 = cpu_seconds();
    t_sample += t1 - t0;
    if (!rx2->newdataflag) continue;
    talvo::iqabs(*rx2);
    double t2 = cpu_seconds();
    talvo::absmittel(*rx2);
    double t3 = cpu_seconds();
    talvo::nlg1(*rx2);
    double t4 = cpu_seconds();
    talvo::adaptthreshold2(*rx2);
    double t5 = cpu_seconds();
    t_iq += t2 - t1;
    t_abs += t3 - t2;
    t_nlg += t4 - t3;
    t_thr += t5 - t4;
  }
  const double parts = t_sample + t_iq + t_abs + t_nlg + t_thr;

  std::printf("tick samples: %ld, key-down ticks at the centre cluster: %ld\n", ticks, keydown);
  std::printf("receive chain: %.1f s of audio in %.3f s of CPU: %.0f times real time\n", seconds,
              whole, seconds / whole);
  std::printf(
      "shares (timed apart): comb+mixer %.0f%%, iqabs %.0f%%, absmittel %.0f%%, "
      "nlg1 %.0f%%, adaptthreshold2 %.0f%%\n",
      100 * t_sample / parts, 100 * t_iq / parts, 100 * t_abs / parts, 100 * t_nlg / parts,
      100 * t_thr / parts);
  return 0;
}
