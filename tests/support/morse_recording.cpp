#include "support/morse_recording.h"

#include <gtest/gtest.h>

#include "support/signal.h"

namespace talvo::test {

MorseRecording::MorseRecording(const MorseSignal& m, double tail, double noise, uint32_t seed)
    : keyed(morse(m)), raw(to_bytes(mix({keyed.tone}, keyed.end + tail, noise, seed))) {
  dir.write("signal.raw", raw);
}

std::string MorseRecording::make(const std::string& name,
                                 const std::vector<std::string>& effects) const {
  std::vector<std::string> args{
      "/usr/bin/sox",   "-t", "raw", "-r", "48000", "-e",
      "signed-integer", "-b", "16",  "-c", "1",     dir.file("signal.raw"),
      dir.file(name)};
  args.insert(args.end(), effects.begin(), effects.end());
  EXPECT_EQ(run(args).status, 0) << name;
  return dir.file(name);
}

}  // namespace talvo::test
