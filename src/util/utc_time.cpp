// ISO 8601 UTC times; see utc_time.h.
#include "util/utc_time.h"

#include <cstdio>

namespace talvo {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's
// days_from_civil).
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool leap(std::int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int month_days(std::int64_t y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : kDays[m - 1];
}

// `n` digits at `p` of `t` as a number; false when they are not digits.
bool digits(std::string_view t, std::size_t p, std::size_t n, int& v) {
  if (p + n > t.size()) return false;
  v = 0;
  for (std::size_t i = p; i < p + n; i++) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
  }
  return true;
}

}  // namespace

bool parse_utc(std::string_view t, std::int64_t& utc) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (!digits(t, 0, 4, y) || t.size() < 16 || t[4] != '-' || !digits(t, 5, 2, mo) || t[7] != '-' ||
      !digits(t, 8, 2, d) || (t[10] != 'T' && t[10] != ' ') || !digits(t, 11, 2, h) ||
      t[13] != ':' || !digits(t, 14, 2, mi))
    return false;
  std::size_t p = 16;
  if (p < t.size() && t[p] == ':') {
    if (!digits(t, p + 1, 2, s)) return false;
    p += 3;
  }
  if (p < t.size() && t[p] == 'Z') p++;
  if (p != t.size()) return false;
  if (mo < 1 || mo > 12 || d < 1 || d > month_days(y, mo) || h > 23 || mi > 59 || s > 59)
    return false;
  utc = days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
  return true;
}

std::string format_utc(std::int64_t utc) {
  std::int64_t days = utc / 86400, sec = utc % 86400;
  if (sec < 0) {
    sec += 86400;
    days--;
  }
  // civil_from_days
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const std::int64_t y = yoe + era * 400 + (m <= 2);
  char b[40];
  std::snprintf(b, sizeof b, "%04lld-%02d-%02dT%02d:%02d:%02dZ", static_cast<long long>(y), m, d,
                static_cast<int>(sec / 3600), static_cast<int>(sec / 60 % 60),
                static_cast<int>(sec % 60));
  return b;
}

}  // namespace talvo
