#pragma once
// The aligned record printer.

#include <ostream>
#include <string_view>

#include "model/record_list.h"

namespace cobrix {

// Number of Unicode code points in the UTF-8 text `text`.
std::size_t code_point_count(std::string_view text);

// Writes each record as an aligned block: per field the key padded to the
// record's widest key, one blank, the value's text form padded to the
// record's widest value, then a line feed; an empty line ends each block.
// Widths are per record and counted in code points; a null value counts as
// four characters and is written as the padded key alone (the fallback line,
// also used when a field line cannot be written).
// Throws std::invalid_argument on reaching a record without fields (earlier
// blocks stay written) and std::runtime_error when a fallback line fails.
void print_dict_list(const RecordList& dict_list, std::ostream& out);

}  // namespace cobrix
