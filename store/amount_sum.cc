#include "store/amount_sum.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace cobrix::store {

namespace {

__extension__ typedef unsigned __int128 UInt128;

// "-1234.05" for -123405 cents.
std::string cents_text(Int128 cents) {
  const bool negative = cents < 0;
  UInt128 rest = negative ? -static_cast<UInt128>(cents) : static_cast<UInt128>(cents);
  char digits[48];
  char* p = digits + sizeof digits;
  for (int place = -2; place <= 0 || rest != 0; ++place) {
    if (place == 0) *--p = '.';
    *--p = static_cast<char>('0' + static_cast<int>(rest % 10));
    rest /= 10;
  }
  if (negative) *--p = '-';
  return std::string(p, digits + sizeof digits);
}

}  // namespace

Amount exact_amount(double v) {
  if (std::isnan(v)) return {Amount::Kind::nan};
  if (std::isinf(v)) return {v < 0 ? Amount::Kind::minus_infinity : Amount::Kind::plus_infinity};
  // Most amounts are the nearest double to a number of cents: then that
  // number of cents, which has at most 15 digits, is what "%.15g" reads.
  const double cents = std::nearbyint(v * 100);
  if (std::fabs(cents) < 1e15 && cents / 100 == v) return {Amount::Kind::finite, static_cast<std::int64_t>(cents), -2};
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 15).ptr;
  Amount a;
  bool negative = false;
  bool point = false;
  const char* p = text;
  for (; p < end && *p != 'e'; ++p) {
    if (*p == '-') {
      negative = true;
    } else if (*p == '.') {
      point = true;
    } else {
      a.digits = a.digits * 10 + (*p - '0');
      if (point) --a.exponent;
    }
  }
  if (p < end) {
    int e = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), end, e);
    a.exponent += e;
  }
  if (negative) a.digits = -a.digits;
  return a;
}

void AmountSum::add(const Amount& a) {
  switch (a.kind) {
    case Amount::Kind::nan: nan_ = true; return;
    case Amount::Kind::plus_infinity: plus_infinity_ = true; return;
    case Amount::Kind::minus_infinity: minus_infinity_ = true; return;
    case Amount::Kind::finite: break;
  }
  if (a.exponent >= -2 && a.exponent <= 13) {
    Int128 term = a.digits;
    for (int e = -2; e < a.exponent; ++e) term *= 10;
    cents_ += term;
    return;
  }
  auto at = std::find_if(others_.begin(), others_.end(), [&](const auto& t) { return t.first == a.exponent; });
  if (at == others_.end()) at = others_.insert(others_.end(), {a.exponent, 0});
  at->second += a.digits;
}

std::string AmountSum::rounded() const {
  if (nan_ || (plus_infinity_ && minus_infinity_)) return "NaN";
  if (plus_infinity_) return "Infinity";
  if (minus_infinity_) return "-Infinity";
  if (others_.empty()) return cents_text(cents_);
  std::vector<std::pair<int, Int128>> terms = others_;
  terms.emplace_back(-2, cents_);
  std::sort(terms.begin(), terms.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  const int lo = std::min(terms.front().first, -3);
  const int hi = std::max(terms.back().first, 0) + 42;  // room for every carry of an Int128 sum
  // The decimal digits of the sum, lowest place first: each term added at
  // its place with the carry from below, floored so that every digit is
  // 0..9; a carry left at the top is -1 for a negative sum, which is then
  // written again as the digits of its negation.
  std::vector<int> digits;
  bool negative = false;
  for (const int sign : {1, -1}) {
    digits.assign(static_cast<std::size_t>(hi - lo + 1), 0);
    Int128 carry = 0;
    std::size_t t = 0;
    for (int place = lo; place <= hi; ++place) {
      Int128 v = carry;
      for (; t < terms.size() && terms[t].first == place; ++t) v += sign * terms[t].second;
      int d = static_cast<int>(v % 10);
      v /= 10;
      if (d < 0) {
        d += 10;
        v -= 1;
      }
      digits[static_cast<std::size_t>(place - lo)] = d;
      carry = v;
    }
    if (carry == 0) break;
    negative = true;
  }
  const auto at = [&](int place) -> int& { return digits[static_cast<std::size_t>(place - lo)]; };
  if (at(-3) >= 5)
    for (int place = -2; ++at(place) == 10; ++place) at(place) = 0;
  int top = hi;
  while (top > 0 && at(top) == 0) --top;
  const bool zero = top == 0 && at(0) == 0 && at(-1) == 0 && at(-2) == 0;
  std::string text = negative && !zero ? "-" : "";
  for (int place = top; place >= -2; --place) {
    if (place == -1) text += '.';
    text += static_cast<char>('0' + at(place));
  }
  return text;
}

}  // namespace cobrix::store
