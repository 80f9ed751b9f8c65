// Spot messages as JSON, their time, band and topic; see spot_message.h.
#include "mqtt/spot_message.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "mqtt/json_reader.h"

namespace talvo::mqtt {
namespace {

// The shortest text that reads back as `v` ("14042.6", "612").
std::string number_text(double v) {
  if (!std::isfinite(v)) return "0";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::string topic_level(std::string_view s) {
  if (s.empty()) return "unknown";
  std::string out(s);
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '/' || c == '+' || c == '#' || u < 0x20 || u >= 0x7F) c = '_';
  }
  return out;
}

const JsonValue* member(const JsonValue& o, std::string_view name, JsonValue::Kind kind) {
  const auto it = o.object.find(name);
  return it != o.object.end() && it->second.kind == kind ? &it->second : nullptr;
}

// An integer field, rounded; `fallback` when it is missing or not a number.
int int_field(const JsonValue& o, std::string_view name, int fallback) {
  const JsonValue* v = member(o, name, JsonValue::Kind::kNumber);
  if (v == nullptr || !(std::fabs(v->number) < 1e9)) return fallback;
  return static_cast<int>(std::lround(v->number));
}

}  // namespace

std::string iso8601(std::int64_t utc) {
  std::int64_t days = utc / 86400, secs = utc % 86400;
  if (secs < 0) secs += 86400, --days;
  // The date of a day count, inverse of days_from_civil.
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(y), m,
                d, static_cast<int>(secs / 3600), static_cast<int>(secs % 3600 / 60),
                static_cast<int>(secs % 60));
  return buf;
}

std::optional<std::int64_t> parse_iso8601(std::string_view s) {
  // YYYY-MM-DDTHH:MM:SSZ, exactly.
  if (s.size() != 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' ||
      s[16] != ':' || s[19] != 'Z')
    return std::nullopt;
  auto field = [&](std::size_t at, std::size_t len, int lo, int hi) -> std::optional<int> {
    int v = 0;
    const auto r = std::from_chars(s.data() + at, s.data() + at + len, v);
    if (r.ec != std::errc() || r.ptr != s.data() + at + len || v < lo || v > hi)
      return std::nullopt;
    return v;
  };
  const auto y = field(0, 4, 0, 9999), mo = field(5, 2, 1, 12), d = field(8, 2, 1, 31),
             h = field(11, 2, 0, 23), mi = field(14, 2, 0, 59), sec = field(17, 2, 0, 60);
  if (!y || !mo || !d || !h || !mi || !sec) return std::nullopt;
  return days_from_civil(*y, static_cast<unsigned>(*mo), static_cast<unsigned>(*d)) * 86400 +
         *h * 3600 + *mi * 60 + *sec;
}

std::string band_name(double freq_khz) {
  struct Band {
    double lo, hi;  // kHz
    const char* name;
  };
  static constexpr Band kBands[] = {
      {135.7, 137.8, "2200m"},  {472, 479, "630m"},    {1800, 2000, "160m"},
      {3500, 4000, "80m"},      {5250, 5450, "60m"},   {7000, 7300, "40m"},
      {10100, 10150, "30m"},    {14000, 14350, "20m"}, {18068, 18168, "17m"},
      {21000, 21450, "15m"},    {24890, 24990, "12m"}, {28000, 29700, "10m"},
      {50000, 54000, "6m"},     {70000, 70500, "4m"},  {144000, 148000, "2m"},
      {420000, 450000, "70cm"},
  };
  for (const Band& b : kBands)
    if (freq_khz >= b.lo && freq_khz <= b.hi) return b.name;
  return "unknown";
}

std::string spot_topic(const SpotMessage& m, std::string_view prefix) {
  return std::string(prefix) + "/" + band_name(m.freq_khz) + "/" + topic_level(m.spotter) + "/" +
         topic_level(m.call);
}

std::string to_json(const SpotMessage& m) {
  std::string j = "{\"call\":" + json_string(m.call);
  j += ",\"freq_khz\":" + number_text(m.freq_khz);
  j += ",\"audio_hz\":" + number_text(m.audio_hz);
  j += ",\"snr_db\":" + std::to_string(m.snr_db);
  j += ",\"wpm\":" + std::to_string(m.wpm);
  j += ",\"type\":" + json_string(m.type);
  j += ",\"spotter\":" + json_string(m.spotter);
  j += ",\"time\":" + json_string(iso8601(m.utc));
  // A sender that does not count its copies (copies 0) says nothing of its
  // confidence rather than claim none.
  if (m.copies > 0) {
    j += ",\"confidence\":{\"copies\":" + std::to_string(m.copies);
    j += std::string(",\"known\":") + (m.known ? "true" : "false") + "}";
  }
  return j + "}";
}

SpotMessageOrError from_json(std::string_view json) {
  JsonValue v;
  std::string error;
  if (!read_json(json, v, error)) return {std::nullopt, "not JSON: " + error};
  if (v.kind != JsonValue::Kind::kObject) return {std::nullopt, "not a JSON object"};
  using K = JsonValue::Kind;
  const JsonValue* call = member(v, "call", K::kString);
  const JsonValue* spotter = member(v, "spotter", K::kString);
  const JsonValue* freq = member(v, "freq_khz", K::kNumber);
  const JsonValue* time = member(v, "time", K::kString);
  if (!call || call->string.empty()) return {std::nullopt, "no call"};
  if (!spotter || spotter->string.empty()) return {std::nullopt, "no spotter"};
  if (!freq || !std::isfinite(freq->number)) return {std::nullopt, "no freq_khz"};
  const auto utc = time ? parse_iso8601(time->string) : std::nullopt;
  if (!utc) return {std::nullopt, "no time as YYYY-MM-DDTHH:MM:SSZ"};
  SpotMessage m;
  m.call = call->string;
  m.spotter = spotter->string;
  m.freq_khz = freq->number;
  m.utc = *utc;
  if (const JsonValue* a = member(v, "audio_hz", K::kNumber)) m.audio_hz = a->number;
  m.snr_db = int_field(v, "snr_db", 0);
  m.wpm = int_field(v, "wpm", 0);
  if (const JsonValue* t = member(v, "type", K::kString)) m.type = t->string;
  if (const JsonValue* c = member(v, "confidence", K::kObject)) {
    m.copies = int_field(*c, "copies", 0);
    if (const JsonValue* k = member(*c, "known", K::kBool)) m.known = k->boolean;
  }
  return {m, ""};
}

}  // namespace talvo::mqtt
