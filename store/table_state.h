#pragma once
// What a run needs to know of the tables and of its own session before it
// writes, read in one round trip: whether the tables are there with every
// column, whether the rows are split per installation (row-level security),
// what this role may do, whether a pooler stands in between, and the
// server's clock.

#include <libpq-fe.h>

#include <cstdint>
#include <optional>

#include "model/record.h"

namespace cobrix::store {

struct TableState {
  enum class Index { absent, valid, invalid, foreign };
  // ixc_clientes (the table that unqualified statements reach) exists, and
  // how many of the sixteen columns of the map it has, by name.
  bool exists = false;
  int columns = 0;
  // ixc_clientes_resumo exists.
  bool summary_exists = false;
  // Row-level security is on for ixc_clientes: each installation's role
  // reaches only its own rows, through ixc_clientes_acesso (the isolated
  // layout). Off: every role that may write the table reaches every row.
  bool isolated = false;
  // The server session answering on this connection is the one that libpq
  // opened (pg_backend_pid() is the backend key's process id): no pooler in
  // between, so every later round trip reaches the same session. A pooler
  // must hand out backend keys of its own (cancel requests reach it, and it
  // finds the client by that key), so behind any pooler this is false.
  bool owns_session = false;
  // The retention index ixc_clientes_timestamp_idx: missing, usable, left
  // unusable by a concurrent build that did not end (or being built right
  // now), or the name taken by something that is not an index of the table.
  Index index = Index::absent;
  // This role may create indexes on the table (it owns it, or has the
  // owner's privileges); the least-privilege role may not.
  bool may_index = false;
  // The table's heap size; read only when this role may index it (reading
  // it takes a lock that another session's LOCK TABLE would make us wait for).
  std::int64_t heap_bytes = 0;
  // This role may run PL/pgSQL (DO blocks) in this database: the language
  // is installed and usable.
  bool plpgsql = false;
  // The server's LOCALTIMESTAMP: its clock in this session's time zone, the
  // one that the retention delete compares the rows' timestamps with.
  std::optional<DateTime> server_clock;

  // Every column and the summary table are there: no creation statement or
  // column query is needed.
  bool complete() const;
};

// Reads the state in one round trip (a statement that waits at most the
// run's lock timeout). Throws PgError when the query fails.
TableState table_state(PGconn* conn);

}  // namespace cobrix::store
