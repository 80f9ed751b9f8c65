// Parsing the broker's URL; see mqtt_url.h.
#include "mqtt/mqtt_url.h"

#include <cctype>
#include <charconv>

namespace talvo::mqtt {
namespace {

// The reason for refusing a URL. The URL itself is not repeated: it may hold
// a password.
MqttUrlOrError refuse(const std::string& why) {
  return {std::nullopt, "MQTT URL: " + why};
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// `s` with every %XX replaced by its byte; false for a broken %.
bool percent_decoded(std::string_view s, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return false;
    const int hi = hex_digit(s[i + 1]), lo = hex_digit(s[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

}  // namespace

MqttUrlOrError parse_mqtt_url(std::string_view text) {
  constexpr std::string_view scheme = "mqtt://";
  if (text.substr(0, 8) == "mqtts://")
    return refuse("mqtts:// (TLS) is not supported; use mqtt:// on a trusted network");
  if (text.substr(0, scheme.size()) != scheme)
    return refuse("expected mqtt://[USER[:PASSWORD]@]HOST[:PORT]");
  std::string_view rest = text.substr(scheme.size());
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.find('/') != std::string_view::npos)
    return refuse("a path after the host is not used; give mqtt://HOST[:PORT]");
  MqttUrl u;
  const std::size_t at = rest.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view cred = rest.substr(0, at);
    const std::size_t colon = cred.find(':');
    if (!percent_decoded(cred.substr(0, colon), u.user) ||
        (colon != std::string_view::npos && !percent_decoded(cred.substr(colon + 1), u.password)))
      return refuse("a broken %XX in the user or password");
    if (u.user.empty()) return refuse("a password needs a user name before it");
    rest = rest.substr(at + 1);
  }
  std::string_view port;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return refuse("an unclosed [ in the host");
    u.host = std::string(rest.substr(1, close - 1));
    const std::string_view after = rest.substr(close + 1);
    if (!after.empty() && after.front() != ':') return refuse("expected :PORT after ]");
    if (!after.empty()) port = after.substr(1);
    if (after == ":") return refuse("no port after the colon");
  } else {
    const std::size_t colon = rest.find(':');
    u.host = std::string(rest.substr(0, colon));
    if (colon != std::string_view::npos) {
      port = rest.substr(colon + 1);
      if (port.empty()) return refuse("no port after the colon");
    }
  }
  if (u.host.empty()) return refuse("no host");
  for (const char c : u.host)
    if (std::isspace(static_cast<unsigned char>(c)) || c == '@' || c == '[' || c == ']')
      return refuse("the host has a character no host name has");
  if (!port.empty()) {
    int p = 0;
    const auto r = std::from_chars(port.data(), port.data() + port.size(), p);
    if (r.ec != std::errc() || r.ptr != port.data() + port.size() || p < 1 || p > 65535)
      return refuse("the port must be a number from 1 to 65535");
    u.port = p;
  }
  return {u, ""};
}

std::string where(const MqttUrl& u) {
  const bool v6 = u.host.find(':') != std::string::npos;
  return (v6 ? "[" + u.host + "]" : u.host) + ":" + std::to_string(u.port);
}

}  // namespace talvo::mqtt
