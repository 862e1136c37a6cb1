#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace cobrix {

// The banner's second line: `program_name` with every "./" replaced by one
// blank (left to right, non-overlapping), two blanks, then VERSION.
std::string version_name_line(std::string_view program_name);

// Writes the rights notice and the name line to `out`, then ends the run with
// an exit request for status 0 (throws ExitRequest; never returns).
[[noreturn]] void get_version(std::string_view program_name, std::ostream& out);

}  // namespace cobrix
