// When a recording began, as the file itself says, and the texts of the
// data files the spotter reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace talvo {

// The UTC time (seconds since 1970) at the start of the recording at
// `path`, from what the file records: a WAV's Broadcast Wave (bext)
// origination date and time, else a date string holding a time of day
// (RIFF LIST INFO ICRD, or another format's date tag) read as UTC. Nothing
// when the file records no time (a date alone is not enough) or cannot be
// opened. The file's modification time is not taken: copying a file changes
// it, and it marks the end of a recording if anything.
std::optional<std::int64_t> recorded_start_utc(const std::string& path);

// The whole text of the file at `path`, or nothing when it cannot be read.
std::optional<std::string> read_text_file(const std::string& path);

}  // namespace talvo
