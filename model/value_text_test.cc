#include "model/value_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

namespace cobrix {
namespace {

TEST(FormatDouble, PlainFormKeepsOneDigitAfterThePoint) {
  EXPECT_EQ(format_double(0.0), "0.0");
  EXPECT_EQ(format_double(-0.0), "-0.0");
  EXPECT_EQ(format_double(150.0), "150.0");
  EXPECT_EQ(format_double(0.1), "0.1");
  EXPECT_EQ(format_double(34.57), "34.57");
  EXPECT_EQ(format_double(-42.5), "-42.5");
  EXPECT_EQ(format_double(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(format_double(1234567890123456.0), "1234567890123456.0");
  EXPECT_EQ(format_double(9999999999999998.0), "9999999999999998.0");
}

TEST(FormatDouble, ExponentFormFromSixteenDigitsAndBelowOneTenThousandth) {
  EXPECT_EQ(format_double(0.0001), "0.0001");
  EXPECT_EQ(format_double(0.00012), "0.00012");
  EXPECT_EQ(format_double(0.00001), "1e-05");
  EXPECT_EQ(format_double(1.5e-7), "1.5e-07");
  EXPECT_EQ(format_double(1e16), "1e+16");
  EXPECT_EQ(format_double(1.5e17), "1.5e+17");
  EXPECT_EQ(format_double(-2.5e300), "-2.5e+300");
  EXPECT_EQ(format_double(5e-324), "5e-324");
  EXPECT_EQ(format_double(std::numeric_limits<double>::max()), "1.7976931348623157e+308");
}

TEST(FormatDouble, NonFiniteValues) {
  EXPECT_EQ(format_double(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(format_double(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(format_double(std::numeric_limits<double>::quiet_NaN()), "nan");
}

TEST(FormatDouble, EveryTextReadsBackAsTheSameDouble) {
  std::mt19937_64 rng(12345);
  std::uniform_int_distribution<std::uint64_t> bits;
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t b = bits(rng);
    double d;
    std::memcpy(&d, &b, sizeof d);
    if (!std::isfinite(d)) continue;
    const std::string text = format_double(d);
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), d) << text;
    ASSERT_TRUE(text.find('.') != std::string::npos || text.find('e') != std::string::npos) << text;
  }
}

TEST(FormatDateTime, ZeroPaddedWithOptionalMicroseconds) {
  EXPECT_EQ(format_datetime({2024, 1, 31, 8, 5, 0, 0}), "2024-01-31 08:05:00");
  EXPECT_EQ(format_datetime({999, 12, 1, 23, 59, 59, 7}), "0999-12-01 23:59:59.000007");
  EXPECT_EQ(format_datetime({2026, 12, 8, 0, 0, 1, 123456}), "2026-12-08 00:00:01.123456");
}

}  // namespace
}  // namespace cobrix
