#pragma once
// The overdue-customers query and the values of its result.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model/record.h"

namespace cobrix {

class IxcConnection;

// An exact decimal (DECIMAL/NEWDECIMAL) as the server wrote it, e.g. "10.005".
struct SqlDecimal {
  std::string text;
  friend bool operator==(const SqlDecimal&, const SqlDecimal&) = default;
};

// One value of a result row, chosen by the column's field type:
// integer types to int64, FLOAT/DOUBLE to double, DECIMAL to SqlDecimal,
// DATE/DATETIME/TIMESTAMP to calendar fields (DateTime; an all-zero date or
// one with a zero year, month or day is Null), text to validated UTF-8,
// SQL NULL to Null.
using SqlValue = std::variant<Null, std::int64_t, double, SqlDecimal, std::string, DateTime>;

// The whole result, row after row, `columns` values per row. Rows are kept
// in chunks so that the record building can release the rows it has used.
struct ResultRows {
  static constexpr std::size_t kChunkRows = 1024;

  std::size_t columns = 0;
  std::size_t count = 0;  // rows
  std::vector<std::vector<SqlValue>> chunks;

  std::size_t size() const { return count; }
  std::span<SqlValue> row(std::size_t i) {
    return {chunks[i / kChunkRows].data() + (i % kChunkRows) * columns, columns};
  }
  std::span<const SqlValue> row(std::size_t i) const {
    return {chunks[i / kChunkRows].data() + (i % kChunkRows) * columns, columns};
  }
  // The cells of a new last row are appended to the vector returned.
  std::vector<SqlValue>& begin_row() {
    if (count % kChunkRows == 0) chunks.emplace_back().reserve(kChunkRows * columns);
    ++count;
    return chunks.back();
  }
  void add_row(std::vector<SqlValue> cells) {
    auto& chunk = begin_row();
    for (SqlValue& cell : cells) chunk.push_back(std::move(cell));
  }
  // Frees the chunk of row i once its last row has been used.
  void release_after(std::size_t i) {
    if ((i + 1) % kChunkRows == 0 || i + 1 == count) std::vector<SqlValue>().swap(chunks[i / kChunkRows]);
  }
};

// The statement text as sent: one select item, joined table, condition or
// grouping expression to an indented line, ending with the semicolon.
extern const std::string_view kOverdueCustomersQuery;

// Runs the overdue-customers statement on `conn` as one plain statement,
// fetches every row at once and returns them in the server's order. Opens and
// closes nothing but its result; prints nothing. Throws MysqlError when the
// statement or the fetch fails, ConversionError when a value cannot be
// mapped (a text that is not valid UTF-8, an integer out of range).
ResultRows obterDadosCliente(IxcConnection& conn);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool is_valid_utf8(std::string_view text);

}  // namespace cobrix
