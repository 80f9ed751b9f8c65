// Which radio to poll, as the operator names it on the command line:
//   HOST:PORT        a rigctld on the network (hamlib's network model 2),
//                    e.g. localhost:4532, 192.168.1.20:4532, [::1]:4532
//   MODEL:DEVICE     a hamlib model number and the radio's serial device,
//   MODEL,DEVICE     e.g. 1035:/dev/ttyUSB0 (model 1, the dummy rig, needs
//                    no real device: 1:none)
// A address whose part before the colon is a number and whose part after it is
// not a port number is a MODEL:DEVICE; one ending in a port number is a
// HOST:PORT.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace talvo::rig {

// hamlib's model number of its network client of a rigctld.
constexpr int kNetRigctlModel = 2;

struct RigAddress {
  int model = kNetRigctlModel;  // hamlib model number
  std::string device;           // serial device, or HOST:PORT of a rigctld for model 2
};

struct RigAddressOrError {
  std::optional<RigAddress> address;  // empty when the text is refused
  std::string error;                  // why it was refused
};

RigAddressOrError parse_rig_address(std::string_view text);

// How a address reads in messages: "rigctld at HOST:PORT" or "hamlib model N on DEVICE".
std::string describe(const RigAddress& s);

}  // namespace talvo::rig
