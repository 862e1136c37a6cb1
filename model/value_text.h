#pragma once
// Text forms of values shared by the printers and the store.

#include <string>

#include "model/record.h"

namespace cobrix {

// Shortest decimal text that reads back as the same double. Plain form keeps
// at least one digit after the point (150.0, 0.1); decimal exponents below -4
// or from 16 up take the exponent form with a sign and at least two exponent
// digits (1e-05, 1.5e+17). Non-finite values give inf, -inf and nan.
std::string format_double(double value);

// "YYYY-MM-DD HH:MM:SS", zero-padded, plus ".ffffff" when microsecond != 0.
std::string format_datetime(const DateTime& value);

}  // namespace cobrix
