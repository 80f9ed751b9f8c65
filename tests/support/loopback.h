// Ports and clients on 127.0.0.1 for the tests of the spot server: a port
// that is free, and the argument vectors of the real client programs, nc and
// a Python script, to run as separate processes.
#pragma once

#include <string>
#include <vector>

namespace talvo::test {

// A port on 127.0.0.1 that was free a moment ago; -1 if none was given.
int free_port();

// nc connected to `port` on 127.0.0.1.
std::vector<std::string> netcat(int port);

// The lines of what a spot server sent (or a skimmer printed) that start
// with "DX de", each ended by `end` ("\r\n" on the wire); without the end.
std::vector<std::string> dx_lines(const std::string& bytes, const std::string& end);

// python3 running `script` with `args` as its sys.argv[1:].
std::vector<std::string> python_script(const char* script, const std::vector<std::string>& args);

}  // namespace talvo::test
