// The programs talvo starts for its audio (arecord, aplay). popen() runs
// them through the shell, which starts even when the program is missing:
// they are looked up on PATH first, so that a missing one is named with the
// package that has it rather than found out from a silent, empty pipe.
#pragma once

#include <string>

namespace talvo {

// The path of an executable `name` on PATH, or "" when there is none.
std::string find_program(const std::string& name);

// "" when `program` can be started; else the message saying why not, e.g.
// "cannot start arecord: not found (apt-get install alsa-utils)".
std::string cannot_start(const std::string& program, const std::string& package);

// What to say about a recorder that ended with pclose() status `ws`: "" when
// it ended well (status 0), else the message.
std::string recorder_ended(const std::string& program, const std::string& package, int ws);

}  // namespace talvo
