// What the skimmer benchmark's cases share: the talvo-decode programs
// measured, generated stations and texts, and a timed run of a program.
#pragma once

#include <sys/resource.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/render.h"
#include "support/stations.h"

namespace bench {

// The talvo-decode programs measured (the first for single runs); the I/Q
// cases run each on the same input, in turn.
extern std::vector<std::string> decoders;
// A folder the I/Q cases leave their generated WAV in (<case>.wav), for
// profiling a decoder on it later; empty: the WAV is removed.
extern std::string keep_dir;

std::string upper(std::string call);
std::string call_for(int n);  // a unique ITU-shaped call for number n
std::string cq_text(const std::string& call, int repeats, std::uint32_t seed);
std::vector<talvo::test::KeyedTone> tones_of(const std::vector<talvo::test::Station>& st,
                                             double amp);
double cer(const std::string& got, const std::string& sent);
std::string tmp_dir();
double cpu_seconds(const rusage& ru);

// A finished run of talvo-decode.
struct Measured {
  int status = -1;
  double wall = 0, cpu = 0;  // seconds
  long max_rss_kb = 0;
  std::string out;
};
Measured measure(const std::vector<std::string>& argv, const std::string& dir,
                 const std::string& in = "/dev/null");
double load_average();
const char* pass(bool ok);

// The I/Q cases (skimmer_iq.cpp): iq (40 kHz of 48 kHz I/Q), span192 (60
// stations over 192 kHz), noise192 (192 kHz of noise alone), mirror (a
// strong station with its mirror image and a DC spike).
bool is_iq_case(const std::string& name);
bool case_iq_span(const std::string& name);

}  // namespace bench
