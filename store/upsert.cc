#include "store/upsert.h"

#include <time.h>

#include <array>
#include <charconv>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "model/customer_list.h"
#include "model/value_text.h"
#include "store/pg_connection.h"
#include "store/pipeline.h"
#include "store/schema.h"
#include "store/waits.h"

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

// A page's rows as $n parameters in text form, and the page statement with
// its placeholders.
class PageParams {
 public:
  PageParams(std::string_view prefix, std::string_view suffix, const DateTime& timestamp_now)
      : prefix_(prefix),
        suffix_(suffix),
        timestamp_(format_datetime(timestamp_now)),
        values_(kPageRows * kValues),
        texts_(std::make_unique_for_overwrite<char[]>(kPageRows * kValues * kSlot)) {}

  // Fills the parameters with records [first, first + rows_in_page) of
  // `rows`. Throws PgError for a value that cannot be sent (a NUL byte).
  void fill(RowReader& rows, std::size_t first, std::size_t rows_in_page) {
    next_ = texts_.get();
    for (std::size_t r = 0; r < rows_in_page; ++r) {
      const Row& row = rows.row(first + r);
      const std::size_t base = r * kValues;
      for (std::size_t c = 0; c < kRecordValues; ++c) values_[base + c] = param(row[c], c);
      values_[base + kRecordValues] = timestamp_.c_str();
    }
  }

  const char* const* values() const { return values_.data(); }

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

  std::string_view prefix_;
  std::string_view suffix_;
  const std::string timestamp_;
  std::vector<const char*> values_;
  const std::unique_ptr<char[]> texts_;
  char* next_ = nullptr;  // the first unused byte of texts_ in the current page
  std::string full_sql_;
  std::string last_sql_;  // the one shorter page of a call
};

// The end of the named statement, queued before the pipeline's Sync: behind
// a pooler, only until then is the server connection that prepared it sure
// to be this call's. The pooled way deallocates it only where the server
// session knows it by this name (a pooler that hands named statements
// through): a pooler that keeps them under names of its own must see no
// DEALLOCATE of them, and the server would refuse this name.
const std::string kDeallocate = std::string("DEALLOCATE ") + kPageStatement;
const std::string kDeallocateIfKnown =
    std::string("DO $$BEGIN IF EXISTS (SELECT FROM pg_prepared_statements WHERE name = '") + kPageStatement +
    "') THEN DEALLOCATE " + kPageStatement + "; END IF; END$$";

// The first statement of each page's transaction: the run's wait limits
// and, where the server knows the setting (PostgreSQL 12 and later), the
// generic plan for the page's statement from its first execution. An
// INSERT ... VALUES ... ON CONFLICT has one plan whatever the values; a
// custom plan only folds the page's 16,000 values into it, which the server
// would do for each of the named statement's first five executions (about
// as long as a page's execution, at every scale).
std::string page_settings(PGconn* conn) {
  if (PQserverVersion(conn) < 120000) return kBoundedWaits;
  return kBoundedWaits + ", set_config('plan_cache_mode', 'force_generic_plan', true)";
}

// Sends records' pages in one pipeline (see upsert_pages). Returns the
// failure of a page that could not be sent, after the pages before it were
// stored; throws the PgError of the first page the server refused.
std::optional<PgError> send_pages(PGconn* conn, const RecordList& records, PageParams& params, PageMethod method,
                                  std::function<void()>& meanwhile) {
  RowReader rows(records);
  const bool named = method != PageMethod::bound;
  bool prepared = false;
  std::optional<PgError> unsent;
  const std::string settings = page_settings(conn);
  Pipeline pipeline(conn);
  for (std::size_t first = 0; first < records.size(); first += kPageRows) {
    const std::size_t count = std::min(kPageRows, records.size() - first);
    try {
      params.fill(rows, first, count);
    } catch (const PgError& e) {
      unsent = e;
      break;
    }
    const int n = static_cast<int>(count * kValues);
    pipeline.exec("BEGIN");
    pipeline.exec(settings);
    if (named && count == kPageRows) {
      if (!prepared) pipeline.prepare(kPageStatement, params.statement(count), n);
      prepared = true;
      pipeline.exec_prepared(kPageStatement, n, params.values());
    } else {
      pipeline.exec(params.statement(count), n, params.values());
    }
    pipeline.exec("COMMIT");
    // Out at once: the page's transaction ends as soon as the server has it.
    pipeline.flush();
  }
  if (prepared) pipeline.exec(method == PageMethod::pooled ? kDeallocateIfKnown : kDeallocate);
  // The server has pages left to write: the caller's work fits in that wait.
  pipeline.finish(std::exchange(meanwhile, nullptr));
  return unsent;
}

// After a failed pipeline the failed page's transaction is still open,
// aborted, and a pooler lends this connection the same server connection
// until it ends: the ROLLBACK and, on the pooled way, the deallocation go
// together in one round trip. A page refused at its COMMIT leaves no
// transaction open: the deallocation is then sent all the same, and reaches
// the server connection that prepared the statement when the pooler lends
// it again (pgbouncer lends the one it got back last). A failure here (a
// lost connection) is not reported: the page's failure is.
void end_failed_pipeline(PGconn* conn, PageMethod method) {
  const bool open = PQtransactionStatus(conn) != PQTRANS_IDLE;
  if (PQstatus(conn) != CONNECTION_OK || (!open && method != PageMethod::pooled)) return;
  try {
    Pipeline pipeline(conn);
    if (open) pipeline.exec("ROLLBACK");
    if (method == PageMethod::pooled) pipeline.exec(kDeallocateIfKnown);
    pipeline.finish();
  } catch (const PgError&) {
  }
}

// The server refused the named statement itself, in a page's transaction:
// one of that name was already there (left by another client of a pooler's
// server connection), or it was gone when a page was executed.
bool statement_refused(PGconn* conn, const PgError& e) {
  return (e.sqlstate() == "42P05" || e.sqlstate() == "26000") && PQtransactionStatus(conn) == PQTRANS_INERROR;
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

void upsert_pages(PGconn* conn, const RecordList& records, const DateTime& timestamp_now, PageMethod method,
                  std::function<void()> meanwhile) {
  if (records.size() == 0) return;
  const std::string query = insert_query();
  const std::size_t hole = query.find("%s");
  PageParams params(std::string_view(query).substr(0, hole), std::string_view(query).substr(hole + 2),
                    timestamp_now);
  std::optional<PgError> unsent;  // a page refused before it was sent
  try {
    unsent = send_pages(conn, records, params, method, meanwhile);
  } catch (const PgError& e) {
    const bool again = method != PageMethod::bound && statement_refused(conn, e);
    end_failed_pipeline(conn, method);
    if (!again) throw;
    // Every page again, each parsed with its values: the pages stored
    // before the refusal are written again with the same values.
    try {
      unsent = send_pages(conn, records, params, PageMethod::bound, meanwhile);
    } catch (const PgError&) {
      end_failed_pipeline(conn, PageMethod::bound);
      throw;
    }
  }
  if (unsent) throw *unsent;
}

void upsert_pages(PGconn* conn, std::span<const Record> records, const DateTime& timestamp_now,
                  PageMethod method, std::function<void()> meanwhile) {
  upsert_pages(conn, RecordSpan(records), timestamp_now, method, std::move(meanwhile));
}

}  // namespace cobrix::store
