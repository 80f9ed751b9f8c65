// Audio decoded the way the program does it (receive chain in blocks, the
// walk in sample order, the decoder): every cluster's decoded strings.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace talvo::test {

// The text of each cluster centre that decoded anything, by channel number.
std::map<int, std::string> decode_audio(const std::vector<int16_t>& audio, double gain = 1.0,
                                        int centerfreq = 700);

}  // namespace talvo::test
