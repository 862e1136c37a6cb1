#include "model/value_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace cobrix {

std::string format_double(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";

  // The shortest round-trip digits, in scientific form: "-d.ddde+XX".
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  const std::string_view sci(buf, static_cast<std::size_t>(end - buf));
  const std::size_t e_pos = sci.find('e');
  int exponent = 0;  // to_chars writes the exponent with a sign: e+XX or e-XX
  std::from_chars(sci.data() + e_pos + 2, sci.data() + sci.size(), exponent);
  if (sci[e_pos + 1] == '-') exponent = -exponent;
  const bool negative = sci.front() == '-';
  std::string digits;  // significant digits without sign or point
  for (char c : sci.substr(negative ? 1 : 0, e_pos - (negative ? 1 : 0)))
    if (c != '.') digits += c;

  std::string out = negative ? "-" : "";
  if (exponent < -4 || exponent >= 16) {
    out += digits[0];
    if (digits.size() > 1) out += '.' + digits.substr(1);
    char exp_text[16];
    std::snprintf(exp_text, sizeof exp_text, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return out + exp_text;
  }
  if (exponent < 0) return out + "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  const auto int_len = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= int_len) return out + digits + std::string(int_len - digits.size(), '0') + ".0";
  return out + digits.substr(0, int_len) + '.' + digits.substr(int_len);
}

std::string format_datetime(const DateTime& v) {
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", v.year, v.month, v.day, v.hour,
                        v.minute, v.second);
  if (v.microsecond != 0) std::snprintf(buf + n, sizeof buf - n, ".%06d", v.microsecond);
  return buf;
}

}  // namespace cobrix
