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

// How a page's values travel to the server; every way sends one
// INSERT ... VALUES ... ON CONFLICT statement per page.
enum class PageMethod {
  literal,   // values written into the statement text as SQL literals
  bound,     // $n placeholders, values as parameters (PQexecParams)
  prepared,  // the statement prepared once per call (and once for the last,
             // shorter page), each page one PQexecPrepared
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
// them. Each page commits by itself; on the first failing page it throws
// PgError and sends nothing more, so earlier pages stay stored. A text value
// holding a NUL byte, which PostgreSQL cannot store, fails its page the same
// way before the page is sent. No records, no statement.
void upsert_pages(PGconn* conn, const RecordList& records, const DateTime& timestamp_now, PageMethod method);

// The same for records held one by one.
void upsert_pages(PGconn* conn, std::span<const Record> records, const DateTime& timestamp_now,
                  PageMethod method);

}  // namespace cobrix::store
