// What talvo-decode reads: a recording named on the command line, or `-`
// for standard input (recognised by sniff.h as a file format or raw). Every
// sample read is shown to a ToneWatch for the diagnosis, and once SIGINT or
// SIGTERM asked to stop (interrupt.h) the input ends at the next read, so
// that the decoder finishes as at the end of a file. A stream whose gain is
// measured first reads its start twice (replay.h).
#pragma once

#include <memory>
#include <string>

#include "input/diagnosis.h"
#include "input/recording.h"

namespace talvo {

struct InputOptions {
  int channel = 0;             // from 1; 0 mixes all channels to one
  bool force_raw = false;      // `-` is raw S16LE whatever it starts with
  bool keep_start = false;     // a stream keeps its first 10 s to be read twice (auto gain)
  ToneWatch* watch = nullptr;  // sees every sample read, when set
};

struct Input {
  std::unique_ptr<AudioSource> source;  // null when it cannot be read
  std::string error;                    // why not
};

Input open_input(const std::string& name, const InputOptions& o);

}  // namespace talvo
