#pragma once
// The store's progress and error lines.

#include <exception>
#include <ostream>
#include <string_view>

#include "store/pg_connection.h"

namespace cobrix::store {

// Writes `line` and a line feed, flushed at once: at a timeout the run is
// killed and only the lines already written reach the caller.
inline void say(std::ostream& out, std::string_view line) { out << line << '\n' << std::flush; }

// Writes `prefix` and the error's text, ending with exactly one line feed.
inline void say_error(std::ostream& out, std::string_view prefix, const std::exception& e) {
  out << prefix << as_line(e.what()) << std::flush;
}

}  // namespace cobrix::store
