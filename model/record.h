#pragma once
// The value kinds of records, and the record held field by field (any keys,
// any order), which record lists can be read from as well as the compact
// customer list (model/record_list.h, model/customer_list.h).

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace cobrix {

// A calendar date and time of day without time zone (local time of the
// machine that runs the program). `microsecond` is 0 unless a fraction of a
// second is known.
struct DateTime {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int microsecond = 0;

  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// Days from 1970-01-01 to the date of `t` in the proleptic Gregorian
// calendar (negative before it); the time of day is not read.
constexpr std::int64_t day_number(const DateTime& t) {
  const std::int64_t y = t.year - (t.month <= 2);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

// SQL NULL / Python None.
struct Null {
  friend bool operator==(Null, Null) { return true; }
};

// One value of a record: null, integer, double, UTF-8 text or date-time.
using Value = std::variant<Null, std::int64_t, double, std::string, DateTime>;

// A key is a view: records are many and their keys are few constants, so a
// key refers to text that outlives the record (a string literal or other
// static text) instead of holding a copy per record.
struct Field {
  std::string_view key;
  Value value;

  friend bool operator==(const Field&, const Field&) = default;
};

// An ordered mapping: fields stay in the order they were added.
using Record = std::vector<Field>;

}  // namespace cobrix
