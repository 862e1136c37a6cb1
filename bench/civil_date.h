#pragma once
// Proleptic Gregorian calendar arithmetic on day numbers (days since
// 1970-01-01), for generating due dates relative to a chosen day.

#include <array>
#include <cstdint>

namespace cobrix::bench {

struct CivilDate {
  int year;
  int month;  // 1..12
  int day;    // 1..31
};

// Day number of a calendar date (H. Hinnant's days_from_civil).
constexpr std::int64_t days_from_civil(CivilDate d) {
  const int y = d.year - (d.month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned mp = static_cast<unsigned>(d.month > 2 ? d.month - 3 : d.month + 9);
  const unsigned doy = (153 * mp + 2) / 5 + static_cast<unsigned>(d.day) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<std::int64_t>(era) * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Calendar date of a day number; the inverse of days_from_civil.
constexpr CivilDate civil_from_days(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>(yoe) + static_cast<int>(era) * 400 + (month <= 2 ? 1 : 0);
  return {year, month, day};
}

// "YYYY-MM-DD" for years 0..9999.
inline std::array<char, 10> iso_date(std::int64_t days) {
  const CivilDate d = civil_from_days(days);
  std::array<char, 10> s{};
  s[0] = static_cast<char>('0' + d.year / 1000 % 10);
  s[1] = static_cast<char>('0' + d.year / 100 % 10);
  s[2] = static_cast<char>('0' + d.year / 10 % 10);
  s[3] = static_cast<char>('0' + d.year % 10);
  s[4] = '-';
  s[5] = static_cast<char>('0' + d.month / 10);
  s[6] = static_cast<char>('0' + d.month % 10);
  s[7] = '-';
  s[8] = static_cast<char>('0' + d.day / 10);
  s[9] = static_cast<char>('0' + d.day % 10);
  return s;
}

}  // namespace cobrix::bench
