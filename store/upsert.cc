#include "store/upsert.h"

#include <time.h>

#include <array>
#include <charconv>
#include <cmath>
#include <memory>
#include <vector>

#include "model/customer_list.h"
#include "model/value_text.h"
#include "store/pg_connection.h"
#include "store/schema.h"

namespace cobrix::store {

namespace {

constexpr std::size_t kValues = colunas_tabela.size();  // per row, the run timestamp last
constexpr std::size_t kRecordValues = kValues - 1;

// Where the discovery puts the record value of each of the first fifteen
// columns (map order): the key of column c is kCustomerKeys[kUsualPosition[c]],
// and a usual record is found there with one comparison per column.
constexpr std::array<std::size_t, kRecordValues> kUsualPosition = {0, 1, 2, 3, 4, 7, 8, 5, 6, 9, 10, 11, 12, 13, 14};

// The record key behind each of the first fifteen columns, in map order.
constexpr std::array<std::string_view, kRecordValues> kRecordKeys = [] {
  std::array<std::string_view, kRecordValues> keys{};
  for (std::size_t c = 0; c < kRecordValues; ++c) keys[c] = kCustomerKeys[kUsualPosition[c]];
  return keys;
}();

// A row's record values in column order; nullptr where the record lacks the key.
using Row = std::array<const ValueView*, kRecordValues>;

// Reads records as rows, one record at a time.
class RowReader {
 public:
  explicit RowReader(const RecordList& records) : records_(records) {}

  // The row of record `index`. Its values point into this reader: valid
  // until the next call; texts are views of the list, valid while it lives.
  const Row& row(std::size_t index) {
    records_.read(index, fields_);
    for (std::size_t c = 0; c < kRecordValues; ++c) {
      const std::size_t at = kUsualPosition[c];
      const bool usual = at < fields_.size() && fields_[at].key == kRecordKeys[c];
      row_[c] = usual ? &fields_[at].value : find(kRecordKeys[c]);
    }
    return row_;
  }

 private:
  const ValueView* find(std::string_view key) const {
    for (const FieldView& field : fields_)
      if (field.key == key) return &field.value;
    return nullptr;
  }

  const RecordList& records_;
  std::vector<FieldView> fields_;
  Row row_{};
};

// PostgreSQL text cannot hold a NUL byte, and C-string passing would cut
// the value short without a word; such a value fails its page instead.
void check_text(std::string_view text, std::size_t column) {
  if (text.find('\0') != std::string::npos)
    throw PgError("o valor da coluna " + std::string(colunas_tabela[column].name) +
                      " contém um byte NUL, que o PostgreSQL não aceita em texto; a página não foi enviada.",
                  "");
}

// Non-finite doubles in the spelling float8 input accepts; empty otherwise.
std::string_view special_double(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  return {};
}

// A page's rows written into the statement as SQL literals.
class LiteralPages {
 public:
  LiteralPages(PGconn* conn, std::string_view prefix, std::string_view suffix, const DateTime& timestamp_now)
      : conn_(conn), prefix_(prefix), suffix_(suffix), timestamp_("'" + format_datetime(timestamp_now) + "'") {}

  // Sends records [first, first + count) of `rows` as one page.
  void send(RowReader& rows, std::size_t first, std::size_t count) {
    sql_.assign(prefix_);
    for (std::size_t r = 0; r < count; ++r) {
      if (r) sql_ += ',';
      const Row& row = rows.row(first + r);
      sql_ += '(';
      for (std::size_t c = 0; c < kRecordValues; ++c) {
        append_value(row[c], c);
        sql_ += ',';
      }
      sql_ += timestamp_;
      sql_ += ')';
    }
    sql_.append(suffix_);
    exec(conn_, sql_);
  }

 private:
  void append_value(const ValueView* value, std::size_t column) {
    if (!value || std::holds_alternative<Null>(*value)) {
      sql_ += "NULL";
    } else if (const auto* i = std::get_if<std::int64_t>(value)) {
      char buf[24];
      sql_.append(buf, std::to_chars(buf, buf + sizeof buf, *i).ptr);
    } else if (const auto* d = std::get_if<double>(value)) {
      // Quoted, so that float8 input reads it directly (exact, -0.0 kept).
      const std::string_view special = special_double(*d);
      sql_ += '\'';
      sql_ += special.empty() ? format_double(*d) : std::string(special);
      sql_ += '\'';
    } else if (const auto* s = std::get_if<std::string_view>(value)) {
      append_text(*s, column);
    } else {
      sql_ += '\'';
      sql_ += format_datetime(std::get<DateTime>(*value));
      sql_ += '\'';
    }
  }

  void append_text(std::string_view text, std::size_t column) {
    check_text(text, column);
    scratch_.resize(2 * text.size() + 1);
    int error = 0;
    const std::size_t n = PQescapeStringConn(conn_, scratch_.data(), text.data(), text.size(), &error);
    if (error) throw PgError(PQerrorMessage(conn_), "");
    sql_ += '\'';
    sql_.append(scratch_.data(), n);
    sql_ += '\'';
  }

  PGconn* conn_;
  std::string_view prefix_;
  std::string_view suffix_;
  const std::string timestamp_;
  std::string sql_;
  std::vector<char> scratch_;
};

// A page's rows as $n parameters in text form, sent with PQexecParams or
// with a statement prepared once per page size.
class ParamPages {
 public:
  ParamPages(PGconn* conn, std::string_view prefix, std::string_view suffix, const DateTime& timestamp_now,
             bool prepared)
      : conn_(conn),
        prefix_(prefix),
        suffix_(suffix),
        timestamp_(format_datetime(timestamp_now)),
        prepared_(prepared),
        values_(kPageRows * kValues),
        texts_(std::make_unique_for_overwrite<char[]>(kPageRows * kValues * kSlot)) {}

  // Sends records [first, first + rows_in_page) of `rows` as one page.
  void send(RowReader& rows, std::size_t first, std::size_t rows_in_page) {
    const int count = static_cast<int>(rows_in_page * kValues);
    next_ = texts_.get();
    for (std::size_t r = 0; r < rows_in_page; ++r) {
      const Row& row = rows.row(first + r);
      const std::size_t base = r * kValues;
      for (std::size_t c = 0; c < kRecordValues; ++c) values_[base + c] = param(row[c], c);
      values_[base + kRecordValues] = timestamp_.c_str();
    }
    if (!prepared_) {
      check(conn_, PQexecParams(conn_, statement(rows_in_page).c_str(), count, nullptr, values_.data(), nullptr,
                                nullptr, 0));
      return;
    }
    // The unnamed statement: prepared for the full pages, then replaced once
    // for the last, shorter page; nothing is left behind on the connection.
    if (prepared_rows_ != rows_in_page) {
      check(conn_, PQprepare(conn_, "", statement(rows_in_page).c_str(), count, nullptr));
      prepared_rows_ = rows_in_page;
    }
    check(conn_, PQexecPrepared(conn_, "", count, values_.data(), nullptr, nullptr, 0));
  }

 private:
  static constexpr std::size_t kSlot = 32;  // holds any integer, double or timestamp text

  // The parameter text of one value (nullptr: NULL). Texts are passed in
  // place, as the views of the record list that they are (the list keeps a
  // NUL after each); the other kinds are written one after the other into
  // this page's text buffer, which has a slot's room for every value but is
  // touched only as far as they reach.
  const char* param(const ValueView* value, std::size_t column) {
    if (!value || std::holds_alternative<Null>(*value)) return nullptr;
    if (const auto* s = std::get_if<std::string_view>(value)) {
      check_text(*s, column);
      return s->data();
    }
    char* const slot = next_;
    char* end;
    if (const auto* i = std::get_if<std::int64_t>(value)) {
      end = std::to_chars(slot, slot + kSlot - 1, *i).ptr;
    } else if (const auto* d = std::get_if<double>(value)) {
      const std::string_view special = special_double(*d);
      const std::string text = special.empty() ? format_double(*d) : std::string(special);
      end = slot + text.copy(slot, kSlot - 1);
    } else {
      const std::string text = format_datetime(std::get<DateTime>(*value));
      end = slot + text.copy(slot, kSlot - 1);
    }
    *end = '\0';
    next_ = end + 1;
    return slot;
  }

  // The statement for a page of `rows` rows: "($1,...,$16),($17,...)" in
  // place of "%s". The full-page text is built once per call.
  const std::string& statement(std::size_t rows) {
    if (rows == kPageRows && !full_sql_.empty()) return full_sql_;
    std::string& text = rows == kPageRows ? full_sql_ : last_sql_;
    text.assign(prefix_);
    std::size_t n = 1;
    char buf[16];
    for (std::size_t r = 0; r < rows; ++r) {
      text += r ? ",(" : "(";
      for (std::size_t c = 0; c < kValues; ++c, ++n) {
        if (c) text += ',';
        text += '$';
        text.append(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
      }
      text += ')';
    }
    text.append(suffix_);
    return text;
  }

  PGconn* conn_;
  std::string_view prefix_;
  std::string_view suffix_;
  const std::string timestamp_;
  const bool prepared_;
  std::vector<const char*> values_;
  const std::unique_ptr<char[]> texts_;
  char* next_ = nullptr;  // the first unused byte of texts_ in the current page
  std::string full_sql_;
  std::string last_sql_;           // the one shorter page of a call
  std::size_t prepared_rows_ = 0;  // page size of the prepared statement, 0: none
};

template <class Pages>
void send_pages(Pages& pages, const RecordList& records) {
  RowReader rows(records);
  for (std::size_t start = 0; start < records.size(); start += kPageRows)
    pages.send(rows, start, std::min(kPageRows, records.size() - start));
}

}  // namespace

DateTime get_timestamp() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
          local.tm_hour,        local.tm_min,     local.tm_sec,
          static_cast<int>(now.tv_nsec / 1000)};
}

std::string insert_query() {
  std::string names;
  std::string assignments;
  for (const Column& column : colunas_tabela) {
    if (!names.empty()) names += ", ";
    names += column.name;
    if (column.name == "idcliente" || column.name == "ixcidentification") continue;
    if (!assignments.empty()) assignments += ", ";
    assignments.append(column.name).append("=EXCLUDED.").append(column.name);
  }
  return "\n        INSERT INTO ixc_clientes (" + names +
         ")\n        VALUES %s\n        ON CONFLICT (idcliente, ixcidentification)\n        DO UPDATE SET\n        " +
         assignments + ";\n    ";
}

void upsert_pages(PGconn* conn, const RecordList& records, const DateTime& timestamp_now, PageMethod method) {
  if (records.size() == 0) return;
  const std::string query = insert_query();
  const std::size_t hole = query.find("%s");
  const std::string_view prefix = std::string_view(query).substr(0, hole);
  const std::string_view suffix = std::string_view(query).substr(hole + 2);
  if (method == PageMethod::literal) {
    LiteralPages pages(conn, prefix, suffix, timestamp_now);
    send_pages(pages, records);
  } else {
    ParamPages pages(conn, prefix, suffix, timestamp_now, method == PageMethod::prepared);
    send_pages(pages, records);
  }
}

void upsert_pages(PGconn* conn, std::span<const Record> records, const DateTime& timestamp_now,
                  PageMethod method) {
  upsert_pages(conn, RecordSpan(records), timestamp_now, method);
}

}  // namespace cobrix::store
