// Generated samples (float, in 16-bit sample units, as support/render.h
// makes them) written out the way a program reads them: a float WAV file at
// 48 kHz, or raw S16LE bytes for a stream.
#pragma once

#include <string>
#include <vector>

namespace talvo::test {

// Writes the samples, `channels` interleaved, scaled to full scale 1.0, as a
// float WAV at `path` (rate frames per second). Returns "" or what went wrong.
std::string write_float_wav(const std::string& path, const std::vector<float>& samples,
                            int channels = 1, int rate = 48000);

// The samples as raw S16LE bytes, rounded and clipped to 16 bits.
std::string s16le(const std::vector<float>& samples);

}  // namespace talvo::test
