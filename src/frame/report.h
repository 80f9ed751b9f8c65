// What talvo-decode prints: as it comes, in events format one JSON line per
// decoded string and per spot, or the spot lines (--spots); at the end the
// summary of every cluster in text or json format.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "engine/decode.h"

namespace talvo {

// Decodes the whole source, printing to `out` what the settings ask for as
// it comes (events, spot lines) and sending spots to the publisher. Returns
// every cluster, lowest first. Throws std::invalid_argument for clusters the
// receiver cannot serve.
std::vector<ClusterResult> decode_recording(AudioSource& src, const DecodeSettings& s, FILE* out);
// The same for I/Q input (s.iq set, s.rate the source's rate).
std::vector<ClusterResult> decode_iq(IqSource& src, const DecodeSettings& s, FILE* out);

// The results in text or json format; with `timestamps` each text line
// starts with the time its first character was decoded, [hh:mm:ss.s]. The
// fine receiver lists only the clusters that decoded something (a station
// in two neighbouring clusters once, where it is strongest), with speed in
// words per minute and signal-to-noise ratio.
std::string format_results(const std::vector<ClusterResult>& r, const DecodeSettings& s,
                           bool timestamps = false);

}  // namespace talvo
