// The receiver factory: the front end and the clusters' decoders for a
// receiver kind, built the same way for the window program (nine clusters)
// and for talvo-decode's engine (groups of clusters over a span).
#pragma once

#include <memory>
#include <vector>

#include "decoder/decoder.h"
#include "rx/chanarray.h"
#include "rx/frontend.h"

namespace talvo {

namespace fine {
class FilterBank;
}

enum class ReceiverKind { kFine, kClassic };

struct ReceiverPlan {
  ReceiverKind kind = ReceiverKind::kFine;
  int centerfreq = 700;      // classic: the centre of its nine clusters, Hz
  std::vector<int> centres;  // fine: the cluster centres, Hz, ascending, 50 Hz apart
  int rate = samplefreq;     // fine: input frames per second
  int native_rate = 0;       // fine: frames per second before resampling (0: rate)
  bool iq = false;           // fine: input frames are I/Q pairs
  int text_width = 100;      // characters per text row of each decoder
  // fine, I/Q: a filter bank over the whole span shared by every group's
  // front end (run over each block before them), or null.
  const fine::FilterBank* bank = nullptr;
};

struct ReceiverParts {
  std::unique_ptr<FrontEnd> fe;  // the receive front end
  std::unique_ptr<Decoder> dec;  // a decoder per cluster of the front end
};

// Builds the receiver. Throws std::invalid_argument with the reason for
// clusters the fine front end cannot serve, InitError where memory runs out.
ReceiverParts make_receiver(const ReceiverPlan& p);

// The fine clusters for a span of audio frequencies: every multiple of 50 Hz
// from lo to hi (at least one).
std::vector<int> span_centres(int lo_hz, int hi_hz);
// Nine fine clusters 50 Hz apart around a centre.
std::vector<int> nine_around(int centre_hz);

}  // namespace talvo
