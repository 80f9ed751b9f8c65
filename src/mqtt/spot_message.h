// A spot as it travels between receivers over MQTT: plain fields, written
// as a JSON object on the topic
//   talvo/spots/<band>/<spotter>/<call>
// e.g. talvo/spots/20m/ZF9CW/K5MR with
//   {"call":"K5MR","freq_khz":14042.6,"audio_hz":612,"snr_db":18,"wpm":38,
//    "type":"CQ","spotter":"ZF9CW","time":"2026-12-08T06:12:00Z",
//    "confidence":{"copies":3,"known":true}}
// Readers ignore fields they do not know; call, spotter, freq_khz and time
// must be there. "confidence" is left out by a sender that does not count
// its copies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talvo::mqtt {

struct SpotMessage {
  std::string call;      // the spotted call, upper case
  double freq_khz = 0;   // radio frequency, kHz (0 when the dial is not known)
  double audio_hz = 0;   // the signal's frequency in the receiver's audio, Hz
  int snr_db = 0;        // signal to noise, dB
  int wpm = 0;           // speed, words per minute
  std::string type;      // "CQ" or "DX"
  std::string spotter;   // the receiver's call, without "-#"
  std::int64_t utc = 0;  // time heard, seconds since 1970-01-01 00:00 UTC
  int copies = 0;        // confidence: times the call was copied (0: not counted)
  bool known = false;    // confidence: whether the call is in the known-calls list
};

std::string to_json(const SpotMessage& m);

struct SpotMessageOrError {
  std::optional<SpotMessage> message;  // empty when the text is not a spot
  std::string error;                   // why not
};

SpotMessageOrError from_json(std::string_view json);

// "2026-12-08T06:12:00Z" for a time in seconds since the epoch.
std::string iso8601(std::int64_t utc);
// The time of "YYYY-MM-DDTHH:MM:SSZ"; empty for anything else.
std::optional<std::int64_t> parse_iso8601(std::string_view s);

// The amateur band of a radio frequency, e.g. "20m" for 14025 kHz;
// "unknown" for 0 (no dial) and outside the bands.
std::string band_name(double freq_khz);

// The topic of `m` under `prefix` ("talvo/spots"). The spotter and call are
// one topic level each: characters MQTT gives a meaning in topics ('/',
// '+', '#'), control characters and bytes outside ASCII become '_'
// (DL/K5MR -> DL_K5MR); the payload keeps the call.
std::string spot_topic(const SpotMessage& m, std::string_view prefix = "talvo/spots");

}  // namespace talvo::mqtt
