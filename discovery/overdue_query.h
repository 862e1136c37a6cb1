#pragma once
// The overdue-customers query and the values of its result.

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <variant>

#include "model/record.h"

namespace cobrix {

class IxcConnection;

// An exact decimal (DECIMAL/NEWDECIMAL) as the server wrote it, e.g. "10.005".
struct SqlDecimal {
  std::string_view text;
  friend bool operator==(const SqlDecimal&, const SqlDecimal&) = default;
};

// One value of a result row, chosen by the column's field type:
// integer types to int64, FLOAT/DOUBLE to double, DECIMAL to SqlDecimal,
// DATE/DATETIME/TIMESTAMP to calendar fields (DateTime; an all-zero date or
// one with a zero year, month or day is Null), text to validated UTF-8,
// SQL NULL to Null. Texts and decimals are views of the client library's
// buffer for the current row.
using SqlValue = std::variant<Null, std::int64_t, double, SqlDecimal, std::string_view, DateTime>;

// Receives the result rows one at a time, in the server's order. The row and
// the views in it are valid only during the call: what is kept must be copied.
using RowHandler = std::function<void(std::span<const SqlValue> row)>;

// The statement text as sent: one select item, joined table, condition or
// grouping expression to an indented line, ending with the semicolon.
extern const std::string_view kOverdueCustomersQuery;

// Runs the overdue-customers statement on `conn` as one plain statement and
// hands each row to `each_row` as it arrives: the client library holds one
// row at a time, never the whole result. Opens and closes nothing but its
// result; prints nothing. Throws MysqlError when the statement or the fetch
// fails, ConversionError when a value cannot be mapped (a text that is not
// valid UTF-8, an integer out of range), and lets through what `each_row`
// throws. After a throw while rows were still arriving the rest of the
// result is not read: the connection is cut and can only be closed.
void obterDadosCliente(IxcConnection& conn, const RowHandler& each_row);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool is_valid_utf8(std::string_view text);

}  // namespace cobrix
