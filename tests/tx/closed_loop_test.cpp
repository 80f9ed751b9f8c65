// The keyer and the decoder check each other: text queued into the keyer is
// keyed as a tone in txtone mode, captured, and decoded back.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "decoder/decoder.h"
#include "frame/startup.h"
#include "rx/block.h"
#include "rx/classic.h"
#include "support/decode.h"
#include "support/headless.h"
#include "support/morse.h"

namespace talvo {
namespace {

// Keys `text` at `speed` on transmit channel `txch`; returns the tone.
std::vector<int16_t> key(const std::string& text, int speed, int txch, double seconds) {
  test::headless();
  Station st;
  st.set.centerfreq = 700;
  st.set.sidetone = txtone;
  fix_layout(st);
  make_receiver(st);
  st.keyer.txch = cluster_of(txch);
  st.keyer.txspeed = speed;
  for (char c : text)
    txinqueue(st.keyer, st.screen.vis, c);
  const std::string silence(static_cast<std::size_t>(seconds * 48000) * 2, '\0');
  st.fp = std::tmpfile();
  std::fwrite(silence.data(), 1, silence.size(), st.fp);
  std::rewind(st.fp);
  st.fpout = std::tmpfile();
  sample_loop(st);
  std::fflush(st.fpout);
  std::rewind(st.fpout);
  std::vector<int16_t> tone;
  for (int lo, hi; (lo = std::fgetc(st.fpout)) != EOF && (hi = std::fgetc(st.fpout)) != EOF;)
    tone.push_back(static_cast<int16_t>(lo | hi << 8));
  std::fclose(st.fp);
  std::fclose(st.fpout);
  return tone;
}

TEST(ClosedLoop, KeyedTextDecodesBack) {
  const std::string text = "cq cq de dl1abc dl1abc pse k ur rst 599 73 tu";
  for (const auto& [speed, txch] : {std::pair{80, 0}, {120, 0}, {160, 10}, {200, -10}}) {
    // At most 13 units a character: the text's length in seconds, and some.
    const double seconds = 4 + static_cast<double>(text.size()) * 13 * 6.0 / speed;
    const auto tone = key(text, speed, txch, seconds);
    ASSERT_EQ(tone.size(), static_cast<std::size_t>(seconds * 48000));
    // The keyer sends at 20000; a receiver's audio would be lower.
    const auto decoded = test::decode_audio(tone, 0.3);
    const std::string got = test::normalise(decoded.at(txch));
    std::printf("txspeed %3d on channel %3d: \"%s\"\n", speed, txch, got.c_str());
    EXPECT_NE(got.find("dl1abc pse k ur rst 599 73 tu"), std::string::npos) << speed;
  }
}

}  // namespace
}  // namespace talvo
