// Parsing the operator's name of a radio; see rig_address.h.
#include "rig/rig_address.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace talvo::rig {
namespace {

bool all_digits(std::string_view s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The number in `s` when it is one within [lo, hi].
std::optional<long> number_in(std::string_view s, long lo, long hi) {
  if (!all_digits(s) || s.size() > 9) return std::nullopt;
  long v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  if (v < lo || v > hi) return std::nullopt;
  return v;
}

RigAddressOrError refuse(std::string_view text, const std::string& why) {
  return {std::nullopt, "rig '" + std::string(text) + "': " + why};
}

RigAddressOrError model_device(std::string_view text, std::string_view model,
                               std::string_view device) {
  const auto m = number_in(model, 1, 999999);
  if (!m) return refuse(text, "the model must be a hamlib model number (rigctl -l lists them)");
  if (device.empty()) return refuse(text, "no device after the model number");
  return {RigAddress{static_cast<int>(*m), std::string(device)}, ""};
}

RigAddressOrError host_port(std::string_view text, std::string_view host, std::string_view port) {
  if (host.empty()) return refuse(text, "no host before the port");
  if (!number_in(port, 1, 65535)) return refuse(text, "the port must be a number from 1 to 65535");
  for (const char c : host)
    if (std::isspace(static_cast<unsigned char>(c)) || c == '/' || c == ',')
      return refuse(text, "the host name has a character no host name has");
  return {RigAddress{kNetRigctlModel, std::string(text)}, ""};
}

}  // namespace

RigAddressOrError parse_rig_address(std::string_view text) {
  if (text.empty()) return refuse(text, "empty; give HOST:PORT of a rigctld or MODEL:DEVICE");
  const std::size_t comma = text.find(',');
  if (comma != std::string_view::npos)
    return model_device(text, text.substr(0, comma), text.substr(comma + 1));
  if (text.front() == '[') {  // [IPv6 address]:PORT
    const std::size_t close = text.find("]:");
    if (close == std::string_view::npos) return refuse(text, "expected [ADDRESS]:PORT");
    return host_port(text, text.substr(1, close - 1), text.substr(close + 2));
  }
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos)
    return refuse(text, "expected HOST:PORT of a rigctld or MODEL:DEVICE (e.g. 1035:/dev/ttyUSB0)");
  const std::string_view before = text.substr(0, colon), after = text.substr(colon + 1);
  if (all_digits(before) && !all_digits(after)) return model_device(text, before, after);
  if (after.find(':') != std::string_view::npos)
    return refuse(text, "an IPv6 address goes in brackets: [ADDRESS]:PORT");
  return host_port(text, before, after);
}

std::string describe(const RigAddress& s) {
  if (s.model == kNetRigctlModel) return "rigctld at " + s.device;
  return "hamlib model " + std::to_string(s.model) + " on " + s.device;
}

}  // namespace talvo::rig
