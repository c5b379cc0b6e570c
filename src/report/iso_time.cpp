#include "report/iso_time.h"

#include "platform/filetime.h"

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDaysTo1970 = 134774;

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

// The proleptic Gregorian date of a day counted from 1970-01-01, in eras of
// 400 years so that no table is needed.
CivilDate civil_from_days(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const unsigned day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  const unsigned month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

char* digits(char* out, std::uint64_t value, int width) {
  char reversed[24];
  int n = 0;
  do {
    reversed[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = n; i < width; ++i) *out++ = '0';
  while (n > 0) *out++ = reversed[--n];
  return out;
}

}  // namespace

std::uint32_t format_iso_time(FileTime time, char* out) {
  const std::uint64_t seconds = time / kTicksPerSecond;
  const std::int64_t days = static_cast<std::int64_t>(seconds / kSecondsPerDay);
  const std::uint64_t second_of_day = seconds % kSecondsPerDay;
  const CivilDate date = civil_from_days(days - kDaysTo1970);
  char* p = digits(out, static_cast<std::uint64_t>(date.year), 4);
  *p++ = '-';
  p = digits(p, date.month, 2);
  *p++ = '-';
  p = digits(p, date.day, 2);
  *p++ = 'T';
  p = digits(p, second_of_day / 3600, 2);
  *p++ = ':';
  p = digits(p, second_of_day / 60 % 60, 2);
  *p++ = ':';
  p = digits(p, second_of_day % 60, 2);
  *p++ = '.';
  p = digits(p, time % kTicksPerSecond, 7);
  *p++ = 'Z';
  *p = 0;
  return static_cast<std::uint32_t>(p - out);
}
