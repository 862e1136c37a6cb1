#pragma once
// The paged insert-or-update of customer rows into ixc_clientes.

#include <libpq-fe.h>

#include <functional>
#include <span>
#include <string>

#include "model/record.h"
#include "model/record_list.h"

namespace cobrix::store {

// Rows per INSERT statement.
inline constexpr std::size_t kPageRows = 1000;

// How a page's statement reaches the server; either way it is one
// INSERT ... VALUES ($1, ...) ... ON CONFLICT statement per page, with the
// values as text parameters. The last, shorter page of a call is always
// parsed with its values, as the unnamed statement.
enum class PageMethod {
  bound,     // each page parsed anew with its values, as the unnamed
             // statement: right for any connection, a pooler's included
  prepared,  // the full page's statement parsed once per call as the named
             // statement kPageStatement, each full page an execution of it,
             // deallocated at the end: only for a connection whose server
             // session is its own
  pooled,    // the same behind a pooler. The pooler lends one server
             // connection to the whole pipeline (it takes it back only at
             // a Sync with no transaction open), so the deallocation goes
             // in before the Sync, and after a failure with the ROLLBACK;
             // it deallocates only where the server session knows the
             // statement by kPageStatement (a pooler that hands named
             // statements through: pgbouncer before 1.21, or in session
             // pooling). A pooler that keeps named statements under names
             // of its own (pgbouncer 1.21 and later with
             // max_prepared_statements above 0) parses it once per server
             // connection and keeps it there for every later call with the
             // same text. Needs PL/pgSQL (the deallocation is a DO block).
             // At most one call per connection: pgbouncer ends a client
             // connection that prepares a name twice.
};

// The name of the full page's statement on the prepared and pooled ways.
inline constexpr const char* kPageStatement = "cobrix_page";

// The current local date and time of this machine, to the microsecond.
DateTime get_timestamp();

// The insert statement composed from its fixed pieces and the column map,
// with "%s" where a page's rows go.
std::string insert_query();

// Writes one row per record (record order, columns in map order, the last
// column `timestamp_now`; NULL for a key that the record lacks) in pages of
// at most kPageRows rows, one statement per page. The values are read from
// `records` page by page and their texts sent from where the list holds
// them. Each page is a transaction of its own (BEGIN, the run's wait
// limits and the generic plan, the page, COMMIT), and
// all pages travel in one pipeline that the server answers after the last:
// one round trip for the whole upsert, whatever the number of pages. The
// first page that fails throws its PgError, after the server has skipped
// every later page, so earlier pages stay stored and no later one is
// written; its transaction is rolled back first (with the pooled way's
// deallocation, in one more round trip). A text value holding a NUL byte,
// which PostgreSQL cannot store, fails its page the same way, before the
// page is sent. When the server refuses the named statement itself (a
// statement of that name already there, 42P05, or gone under a pooler,
// 26000), the call ends its pipeline as after any failure and sends every
// page again the bound way: slower, with the same rows. No records, no
// statement. After a failure on the prepared way, the connection may still
// hold the named statement, until it is closed. `meanwhile`, when given, is
// called once the last page has gone out, while the server still writes the
// pages, before any answer is awaited; no records, or a connection lost
// while the pages go out, skip it. What it throws is
// thrown after the pages' answers are read, before their failure.
void upsert_pages(PGconn* conn, const RecordList& records, const DateTime& timestamp_now, PageMethod method,
                  std::function<void()> meanwhile = {});

// The same for records held one by one.
void upsert_pages(PGconn* conn, std::span<const Record> records, const DateTime& timestamp_now,
                  PageMethod method, std::function<void()> meanwhile = {});

}  // namespace cobrix::store
