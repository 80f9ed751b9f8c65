// talvo-decode run as a separate program, the way a script runs it, and the
// text of its clusters read back from its text output.
#pragma once

#include <string>
#include <vector>

#include "support/process.h"

namespace talvo::test {

// talvo-decode with `args`.
Run run_decode(const std::vector<std::string>& args, const RunOptions& o = {});

// talvo-decode --receiver classic with `args`, `input` on standard input.
Run run_classic_decode(const std::vector<std::string>& args, const std::string& input = "");

// The text of the `hz` cluster's line of the classic receiver's text output
// ("HZ Hz CPM cpm  TEXT", after a timestamp if there is one); "?" when it
// has none. A cluster's lines (a live or piped input prints one per over)
// are joined with a blank.
std::string cluster_text(const std::string& out, int hz);

// The lines of a program's output, without their line ends.
std::vector<std::string> lines_of(const std::string& s);

// The value of a numeric or string field of an events or json line ("" if absent).
std::string field(const std::string& line, const std::string& name);

}  // namespace talvo::test
