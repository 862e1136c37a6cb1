#include "store/clock_check.h"

#include <string>

#include "model/failure.h"
#include "model/value_text.h"

namespace cobrix::store {

namespace {

std::int64_t seconds_of(const DateTime& t) {
  return day_number(t) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

// The clock as the operator reads it: to the second.
std::string shown(DateTime t) {
  t.microsecond = 0;
  return format_datetime(t);
}

}  // namespace

void check_clock(const DateTime& local, const DateTime& server) {
  const std::int64_t difference = seconds_of(local) - seconds_of(server);
  if (difference <= kClockBoundSeconds && -difference <= kClockBoundSeconds) return;
  throw Failure(kClockKind, "esta máquina marca " + shown(local) + " e o PostgreSQL " + shown(server) +
                                ", mais de " + std::to_string(kClockBoundSeconds / 3600) +
                                " horas de diferença: as linhas gravadas com esta hora seriam apagadas antes "
                                "do prazo de um dia, ou ficariam além dele; nada foi gravado nem apagado.");
}

}  // namespace cobrix::store
