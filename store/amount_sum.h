#pragma once
// Exact sums of overdue amounts as PostgreSQL makes them: each double read
// by the float8-to-numeric cast (its 15 significant digits, "%.15g"),
// summed as numeric, and rounded to cents by round(..., 2), half away from
// zero. A sum of doubles would miss a cent now and then: 1.005 is just
// below its half cent as a double, but 1.005 to the cast.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace cobrix::store {

__extension__ typedef __int128 Int128;

// An amount as the cast reads it: digits × 10^exponent, or a value that
// numeric spells by name.
struct Amount {
  enum class Kind { finite, nan, plus_infinity, minus_infinity } kind = Kind::finite;
  std::int64_t digits = 0;
  int exponent = 0;
};

// The amount that the cast makes of `v`.
Amount exact_amount(double v);

// A sum of amounts, exact whatever their number and size.
class AmountSum {
 public:
  void add(const Amount& a);
  // The sum rounded to cents ("1234.50", "-0.05", "0.00"); "NaN" for a sum
  // with a NaN or with both infinities, "Infinity" or "-Infinity" for one
  // with either alone, as numeric sums them.
  std::string rounded() const;

 private:
  Int128 cents_ = 0;                            // the terms of two decimals or fewer, in cents
  std::vector<std::pair<int, Int128>> others_;  // the others, each place's sum of digits
  bool nan_ = false;
  bool plus_infinity_ = false;
  bool minus_infinity_ = false;
};

}  // namespace cobrix::store
