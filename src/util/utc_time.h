// UTC times as text: ISO 8601 in and out, without the time zone database.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace talvo {

// Reads a UTC date and time "YYYY-MM-DDTHH:MM[:SS][Z]" (a blank may stand
// for the "T"; no other zone than Z) into seconds since 1970-01-01 00:00 UTC.
// False (utc untouched) for anything else, a date that does not exist
// included.
bool parse_utc(std::string_view text, std::int64_t& utc);

// "YYYY-MM-DDTHH:MM:SSZ" of seconds since 1970-01-01 00:00 UTC.
std::string format_utc(std::int64_t utc);

}  // namespace talvo
