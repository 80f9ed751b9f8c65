#include "support/write_audio.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace talvo::test {

std::string write_float_wav(const std::string& path, const std::vector<float>& samples,
                            int channels, int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) return path + ": " + sf_strerror(nullptr);
  std::vector<float> scaled(samples.size());
  for (std::size_t i = 0; i < samples.size(); i++)
    scaled[i] = samples[i] / 32768.0f;
  sf_writef_float(f, scaled.data(), static_cast<sf_count_t>(samples.size() / channels));
  sf_close(f);
  return "";
}

std::string s16le(const std::vector<float>& samples) {
  std::string b;
  b.reserve(2 * samples.size());
  for (float x : samples) {
    const auto v = static_cast<int16_t>(std::lround(std::clamp(x, -32768.0f, 32767.0f)));
    b.push_back(static_cast<char>(v & 0xff));
    b.push_back(static_cast<char>((v >> 8) & 0xff));
  }
  return b;
}

}  // namespace talvo::test
