// Decoding a whole input with the engine: audio (or I/Q pairs) read in
// batches, the classic receiver's gain applied, a second of silence after
// the end so that the last characters complete, a progress bar on standard
// error when asked, and what was decoded handed to an EngineSink as it comes.
#pragma once

#include <vector>

#include "engine/engine.h"
#include "input/recording.h"
#include "spots/spotter.h"

namespace talvo {

using spots::SpotPublisher;
using spots::SpotSettings;

struct DecodeSettings {
  ReceiverKind receiver = ReceiverKind::kClassic;
  int centerfreq = 700;      // classic: the centre of the nine clusters, Hz
  std::vector<int> centres;  // fine: the clusters, Hz (empty: nine around centerfreq)
  int rate = samplefreq;     // input frames per second (I/Q files keep their own)
  bool iq = false;           // fine: the input is I/Q pairs
  int threads = 1;           // threads decoding side by side (fine)
  double gain = 1.0;         // classic: input gain
  bool auto_gain = false;    // classic: the gain was measured
  enum Format { kText, kJson, kEvents } format = kText;
  bool progress = false;  // a progress bar on standard error
  // Seconds of silence decoded after the input, so that the last character
  // and its word space complete.
  double tail = 1.0;
  SpotSettings spots;  // fine: calls picked out of the text and spotted
  // Asked when the input ends: true when it was cut off (Ctrl-C) rather
  // than ended. Then no silence follows it and the characters in progress
  // are dropped, not finished as something they were not.
  bool (*cut_off)() = nullptr;
  // The clusters' text is kept for a summary at the end; a stream whose
  // lines are printed as they come needs none (and may run for days).
  bool keep_text = true;
};

// The input gain that brings the strongest signal of the source to the
// level the receiver decodes best at. Reads the source once and rewinds it;
// 1.0 when the source is silent.
double measure_auto_gain(AudioSource& src, int centerfreq);

// Decodes the whole source, handing every decoded string and every call
// found to `sink` in time order. Returns every cluster, lowest first.
// Throws std::invalid_argument for clusters the receiver cannot serve.
std::vector<ClusterResult> run_decode(AudioSource& src, const DecodeSettings& s, EngineSink& sink);
// The same for I/Q input (s.iq set, s.rate the source's rate).
std::vector<ClusterResult> run_decode(IqSource& src, const DecodeSettings& s, EngineSink& sink);

}  // namespace talvo
