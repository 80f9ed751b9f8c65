// What talvo-decode prints: as it comes, in events format one JSON line per
// decoded string and per spot, or the spot lines (--spots); at the end the
// summary of every cluster in text or json format.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "engine/decode.h"
#include "frame/lines.h"
#include "frame/stations.h"

namespace talvo {

// How the text format is cut into lines (lines.h), and what is gathered.
struct TextOutput {
  bool stream = false;      // print each cluster's lines as they end (live or piped input)
  bool timestamps = false;  // gather the lines, each with its own time, for the end
  bool summary = false;     // gather the stations heard (--summary)
};

// What a run gathered beside the clusters' results.
struct Gathered {
  std::vector<TextLine> lines;  // with TextOutput::timestamps, in the order they ended
  StationLog stations;          // with TextOutput::summary
};

// Decodes the whole source, printing to `out` what the settings ask for as
// it comes (events, spot lines) and sending spots to the publisher. Returns
// every cluster, lowest first. Throws std::invalid_argument for clusters the
// receiver cannot serve.
std::vector<ClusterResult> decode_recording(AudioSource& src, const DecodeSettings& s, FILE* out);
// The same for I/Q input (s.iq set, s.rate the source's rate).
std::vector<ClusterResult> decode_iq(IqSource& src, const DecodeSettings& s, FILE* out);
// The same, cutting the text into lines and gathering what `t` asks for.
std::vector<ClusterResult> decode_recording(AudioSource& src, const DecodeSettings& s, FILE* out,
                                            const TextOutput& t, Gathered& g);
std::vector<ClusterResult> decode_iq(IqSource& src, const DecodeSettings& s, FILE* out,
                                     const TextOutput& t, Gathered& g);

// One line: "[hh:mm:ss.s] " and the cluster's frequency, speed (and for
// the fine receiver its SNR) and text, as the summary shows a cluster.
std::string format_line(const TextLine& l, const DecodeSettings& s);
// The gathered lines of the clusters the summary would show (a station in
// two neighbouring clusters once), lowest cluster first, each cluster's
// lines in time order.
std::string format_lines(const std::vector<TextLine>& lines, const std::vector<ClusterResult>& r,
                         const DecodeSettings& s);

// The results in text or json format; with `timestamps` each text line
// starts with the time its first character was decoded, [hh:mm:ss.s]. The
// fine receiver lists only the clusters that decoded something (a station
// in two neighbouring clusters once, where it is strongest), with speed in
// words per minute and signal-to-noise ratio.
std::string format_results(const std::vector<ClusterResult>& r, const DecodeSettings& s,
                           bool timestamps = false);

}  // namespace talvo
