#include "support/decode.h"

#include <vector>

#include "decoder/walk.h"
#include "rx/block.h"
#include "rx/classic.h"

namespace talvo::test {
namespace {

class Collect : public DecoderOutput {
 public:
  void print(const ClusterDecoder&, int q, const char* s) override { text[centre_channel(q)] += s; }
  std::map<int, std::string> text;
};

}  // namespace

std::map<int, std::string> decode_audio(const std::vector<int16_t>& audio, double gain,
                                        int centerfreq) {
  ClassicFrontEnd fe(centerfreq);
  Decoder dec = decoder_for(fe, Rules::kClassic, 100);
  Collect out;
  std::vector<double> in(kBlock);
  for (std::size_t s = 0; s < audio.size(); s += kBlock) {
    const int n = static_cast<int>(std::min<std::size_t>(kBlock, audio.size() - s));
    for (int k = 0; k < n; k++)
      in[k] = audio[s + k] * gain;
    walk_block(fe, dec, in.data(), n, out);
  }
  return out.text;
}

}  // namespace talvo::test
