// Per-channel arrays indexed by the signed channel number.
//
// The receiver watches channels j = -kanaele .. +kanaele around the centre
// frequency. Every per-channel quantity lives in one block of kanalzahl
// elements, reached so that channel j is element j: the block holds channels
// -21 .. +25, the 43 real channels and four spare elements above +21 that no
// stage writes. Nothing exists below -21.
#pragma once

#include <array>
#include <cassert>

namespace talvo {

inline constexpr int kanaele = 21;                 // channels on each side of channel 0
inline constexpr int kanalzahl = 2 * kanaele + 5;  // elements in every per-channel block
inline constexpr int samplefreq = 48000;           // input samples per second
inline constexpr int freqstep = 10;                // channel spacing, Hz

// True for the nine cluster centres -20, -15, ... 20: the channels that carry
// an envelope, a key state and a decoder.
constexpr bool is_cluster_centre(int j) {
  return j % 5 == 0 && j > -kanaele && j < kanaele;
}
inline constexpr int kLastCentre = (kanaele - 1) / 5 * 5;  // 20; the first is -20

template <typename T>
class ChanArray {
 public:
  T& operator[](int j) {
    assert(j >= -kanaele && j < kanalzahl - kanaele);
    return block_[static_cast<unsigned>(j + kanaele)];
  }
  const T& operator[](int j) const {
    assert(j >= -kanaele && j < kanalzahl - kanaele);
    return block_[static_cast<unsigned>(j + kanaele)];
  }
  // Sets every element, the spare ones included, so that nothing is left undefined.
  void fill(const T& v) { block_.fill(v); }

 private:
  std::array<T, kanalzahl> block_{};
};

}  // namespace talvo
