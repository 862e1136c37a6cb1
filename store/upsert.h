#pragma once
// The paged insert-or-update of customer rows into ixc_clientes.

#include <libpq-fe.h>

#include <span>
#include <string>

#include "model/record.h"
#include "model/record_list.h"

namespace cobrix::store {

// Rows per INSERT statement.
inline constexpr std::size_t kPageRows = 1000;

// How a page's statement reaches the server; either way it is one
// INSERT ... VALUES ($1, ...) ... ON CONFLICT statement per page, with the
// values as text parameters.
enum class PageMethod {
  bound,     // each page parsed anew with its values, as unnamed statement:
             // right for any connection, a pooler's included
  prepared,  // parsed once per call as a named statement (and once more for
             // the last, shorter page), each page an execution of it: only
             // for a connection whose server session is its own
};

// The current local date and time of this machine, to the microsecond.
DateTime get_timestamp();

// The insert statement composed from its fixed pieces and the column map,
// with "%s" where a page's rows go.
std::string insert_query();

// Writes one row per record (record order, columns in map order, the last
// column `timestamp_now`; NULL for a key that the record lacks) in pages of
// at most kPageRows rows, one statement per page. The values are read from
// `records` page by page and their texts sent from where the list holds
// them. Each page is a transaction of its own (BEGIN, the page, COMMIT), and
// all pages travel in one pipeline that the server answers after the last:
// one round trip for the whole upsert, whatever the number of pages. The
// first page that fails throws its PgError, after the server has skipped
// every later page, so earlier pages stay stored and no later one is
// written; its transaction is then left open and aborted, for the caller's
// ROLLBACK. A text value holding a NUL byte, which PostgreSQL cannot store,
// fails its page the same way, before the page is sent. No records, no
// statement. After a failure, the connection may still hold the prepared
// way's named statements, until it is closed.
void upsert_pages(PGconn* conn, const RecordList& records, const DateTime& timestamp_now, PageMethod method);

// The same for records held one by one.
void upsert_pages(PGconn* conn, std::span<const Record> records, const DateTime& timestamp_now,
                  PageMethod method);

}  // namespace cobrix::store
