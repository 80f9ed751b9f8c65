// A small reader of JSON text into values, enough for spot messages: objects,
// arrays, strings (with every escape, \u as UTF-8), numbers, true, false and
// null. Nesting deeper than 32 is refused.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::mqtt {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<JsonValue> array;
  std::map<std::string, JsonValue, std::less<>> object;  // a repeated name keeps its last value
};

// Reads `text` (one value, blanks around it allowed); false with the reason
// and the byte offset in `error` when it is not JSON.
bool read_json(std::string_view text, JsonValue& out, std::string& error);

// `s` as a JSON string literal, quotes included.
std::string json_string(std::string_view s);

}  // namespace talvo::mqtt
