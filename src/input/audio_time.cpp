// A recording's own start time and whole text files; see audio_time.h.
#include "input/audio_time.h"

#include <sndfile.h>

#include <fstream>
#include <sstream>

#include "util/utc_time.h"

namespace talvo {

std::optional<std::int64_t> recorded_start_utc(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return std::nullopt;
  std::optional<std::int64_t> start;
  std::int64_t utc = 0;
  SF_BROADCAST_INFO bext{};
  if (sf_command(f, SFC_GET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE) {
    // "yyyy-mm-dd" and "hh:mm:ss" (some writers put other separators).
    std::string when(bext.origination_date, sizeof bext.origination_date);
    when += 'T';
    when.append(bext.origination_time, sizeof bext.origination_time);
    if (when.size() == 19) {
      for (std::size_t i : {4u, 7u})
        if (when[i] == ':' || when[i] == '/' || when[i] == '_') when[i] = '-';
      for (std::size_t i : {13u, 16u})
        if (when[i] == '-' || when[i] == '.' || when[i] == '_') when[i] = ':';
    }
    if (parse_utc(when, utc)) start = utc;
  }
  if (!start) {
    const char* date = sf_get_string(f, SF_STR_DATE);
    if (date && parse_utc(date, utc)) start = utc;
  }
  sf_close(f);
  return start;
}

std::optional<std::string> read_text_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return text.str();
}

}  // namespace talvo
