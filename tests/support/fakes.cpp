#include "support/fakes.h"

#include <chrono>
#include <thread>

namespace talvo::test {

Station::Station(const std::string& txtext) {
  record("");
  bin.write("aplay",
            "#!/bin/sh\nprintf '%s\\n' \"$*\" > " + bin.file("aplay.args") + "\ncat > " +
                bin.file("aplay.bytes") + "\ntouch " + bin.file("aplay.done") + "\n",
            true);
  work.write("txtext.asc", txtext);
  work.write("velquin-font.psf.gz", TempDir::contents(TALVO_FONT));
}

void Station::record(const std::string& recording) const {
  bin.write("recording.raw", recording);
  bin.write("arecord",
            "#!/bin/sh\nprintf '%s\\n' \"$*\" > " + bin.file("arecord.args") + "\ncat " +
                bin.file("recording.raw") + "\n",
            true);
}

void Station::player(const std::string& script) const {
  bin.write("aplay", script, true);
}

Run Station::talvo(const std::vector<std::string>& args, const std::string& input) const {
  std::vector<std::string> argv{TALVO_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  RunOptions o;
  o.cwd = work.path();
  o.path_prefix = bin.path();
  o.input = input;
  return run(argv, o);
}

Run Station::stdin_run(const std::string& input) const {
  return talvo({"700", "1200", "notone", "stdin"}, input);
}

Run Station::stdin_run_alone(const std::string& input) const {
  TempDir alone;
  alone.write("talvo", TempDir::contents(TALVO_BINARY), true);
  RunOptions o;
  o.cwd = work.path();
  o.path_prefix = bin.path();
  o.input = input;
  return run({alone.file("talvo"), "700", "1200", "notone", "stdin"}, o);
}

std::string Station::played() const {
  for (int i = 0; i < 500 && !bin.exists("aplay.done"); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return bin.read("aplay.bytes");
}

}  // namespace talvo::test
