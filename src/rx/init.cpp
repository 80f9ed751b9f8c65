// Building the receiver: the channel plan and the starting value of every
// per-channel array, created in a fixed order so that running out of memory
// always names the same array.
#include <cmath>
#include <cstdio>
#include <new>
#include <numbers>

#include "rx/receiver.h"

namespace talvo {
namespace {

// Allocates the rows; a row that cannot be had ends the building with the
// message of its array.
struct RowMaker {
  // Gives `row` n value-initialised elements; on failure throws the message
  // `fmt` (which may carry the channel number as %d) with `status`.
  template <typename V>
  void make(V& row, std::size_t n, const char* fmt, int j, int status) {
    try {
      row.assign(n, typename V::value_type{});
    } catch (const std::bad_alloc&) {
      char msg[64];
      std::snprintf(msg, sizeof msg, fmt, j);
      throw InitError(msg, status);
    }
  }
};

// Row sizes in doubles from their byte counts, computed as unsigned 32-bit
// products divided by 1000, as the channel plan defines them.
unsigned doubles_of_bytes(unsigned bytes) {
  return bytes / sizeof(double);
}

}  // namespace

std::unique_ptr<Receiver> init(int centerfreq) {
  std::unique_ptr<Receiver> rx;
  try {
    rx = std::make_unique<Receiver>();
  } catch (const std::bad_alloc&) {
    throw InitError("Allocation Error 7\n", 7);
  }
  Receiver& r = *rx;
  RowMaker rows;
  r.centerfreq = centerfreq;

  // 1. Channel periods.
  r.maxperiode = 1;
  for (int j = -kanaele; j <= kanaele; j++) {
    r.mixperiode[j] = samplefreq / r.freq(j);
    if (r.mixperiode[j] > r.maxperiode) r.maxperiode = r.mixperiode[j];
  }

  // 2. Oscillator tables: every row holds maxperiode entries; a channel with a
  // shorter period simply continues its sinusoid past the first period.
  const auto P = static_cast<std::size_t>(r.maxperiode);
  for (int j = -kanaele; j <= kanaele; j++)
    rows.make(r.C[j], P, "Allocation Error cos.%d\n", j, 1);
  for (int j = -kanaele; j <= kanaele; j++)
    rows.make(r.S[j], P, "Allocation Error cos.%d\n", j, 1);
  for (int j = -kanaele; j <= kanaele; j++) {
    for (int i = 0; i < r.maxperiode; i++) {
      r.C[j][i] = std::cos(2 * std::numbers::pi * i / r.mixperiode[j]);
      r.S[j][i] = std::sin(2 * std::numbers::pi * i / r.mixperiode[j]);
    }
  }

  // 3. Comb pre-filter rings (their slots start at 0.0).
  for (int j = -kanaele; j <= kanaele; j++)
    rows.make(r.inframesmem[j], P, "Allocation Error cos.%d\n", j, 1);

  // 4. Histories, zero-filled, and the lengths the stages use of them.
  for (int j = -kanaele; j <= kanaele; j++) {
    const unsigned f = static_cast<unsigned>(r.freq(j));
    rows.make(r.Histre[j], doubles_of_bytes(800u * f / 1000u), "Allocation Error 1.%d\n", j, 1);
    rows.make(r.Histim[j], doubles_of_bytes(800u * f / 1000u), "Allocation Error 1.%d\n", j, 1);
  }
  for (int j = -kanaele; j <= kanaele; j++) {
    const int f = r.freq(j);
    r.iqhistlen[j] = f / 50;
    r.histabslen[j] = f / 100;
    r.histadaptlen[j] = 500;
    r.nlg1sigmaw[j] = 200;
    // Mirrored on purpose: channel j gets the width that belongs to channel -j.
    r.nlg1weite[j] = (centerfreq - j * freqstep) / 5;
  }
  for (int j = -kanaele; j <= kanaele; j++) {
    const unsigned f = static_cast<unsigned>(r.freq(j));
    rows.make(r.Histabs[j], doubles_of_bytes(800u * f / 1000u), "Allocation Error 2.%d\n", j, 1);
  }
  for (int j = -kanaele; j <= kanaele; j++)
    rows.make(r.Histadapt[j], 5000, "Allocation Error 3.%d\n", j, 1);
  for (int j = -kanaele; j <= kanaele; j++) {
    const unsigned f = static_cast<unsigned>(r.freq(j));
    rows.make(r.Histnlg1[j], doubles_of_bytes(80008u * f / 1000u), "Allocation Error 4.%d\n", j, 1);
  }

  // 5. Per-channel starting values (the blocks are zeroed as a whole, the four
  // spare elements above channel +21 included).
  r.decthresh.fill(1000);
  return rx;
}

}  // namespace talvo
