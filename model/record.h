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
