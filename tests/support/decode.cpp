#include "support/decode.h"

#include <memory>

#include "decoder/decoder.h"
#include "rx/block.h"

namespace talvo::test {
namespace {

class Collect : public DecoderOutput {
 public:
  void print(const Receiver&, int ch, const char* s) override { text[ch] += s; }
  std::map<int, std::string> text;
};

}  // namespace

std::map<int, std::string> decode_audio(const std::vector<int16_t>& audio, double gain,
                                        int centerfreq) {
  auto r = init(centerfreq);
  auto bt = std::make_unique<BlockTicks>();
  Collect out;
  std::vector<double> in(kBlock);
  for (std::size_t s = 0; s < audio.size(); s += kBlock) {
    const int n = static_cast<int>(std::min<std::size_t>(kBlock, audio.size() - s));
    for (int k = 0; k < n; k++)
      in[k] = audio[s + k] * gain;
    receive_block(*r, in.data(), n, *bt);
    for (int k = 0; k < n; k++) {
      if (!apply_ticks(*r, *bt, k)) continue;
      apply_key_states(*r, *bt, k);
      decode3(*r, 100, out);
    }
  }
  return out.text;
}

}  // namespace talvo::test
