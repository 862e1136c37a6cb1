#pragma once
// A run stamps its rows with this machine's local time, and retention
// deletes rows by the server's clock: clocks (or time zones) that differ by
// more than a day would make the rows vanish at once, or outlive their day.

#include <cstdint>

#include "model/record.h"

namespace cobrix::store {

// The largest difference between the two clocks that a run accepts: half
// the rows' day, so that a row always outlives several runs of its
// installation. Time zones of one country differ by less.
inline constexpr std::int64_t kClockBoundSeconds = 12 * 3600;

// Throws a Failure of kind "relógio" that names both clocks when `local`
// (this machine's local time) and `server` (the server's LOCALTIMESTAMP)
// differ by more than kClockBoundSeconds.
void check_clock(const DateTime& local, const DateTime& server);

}  // namespace cobrix::store
