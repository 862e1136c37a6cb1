#pragma once
// Retention: the delete of rows that no run refreshed for more than a day,
// and the index that lets it read only the rows it deletes (timestamp <
// ...) instead of the whole table that every installation shares:
// ixc_clientes_timestamp_idx on ixc_clientes (timestamp).

#include <libpq-fe.h>

#include <cstdint>
#include <ostream>

#include "store/pipeline.h"
#include "store/table_state.h"

namespace cobrix::store {

inline constexpr const char* kRetentionIndex = "ixc_clientes_timestamp_idx";

// The session advisory lock held by the run that builds the index
// concurrently ("cobrix" in ASCII, then 1).
inline constexpr std::int64_t kIndexBuildLock = 0x636f62726978'0001;

// Up to this heap size an index is built in one plain transaction, in about
// the time one page takes; a larger table gets it built concurrently.
inline constexpr std::int64_t kQuickIndexBytes = 2 << 20;

// Queues the delete of every row not refreshed for more than a day: "DELETE
// FROM ixc_clientes WHERE timestamp < NOW() - INTERVAL '1 day';", which
// reaches every installation's rows, or in the isolated layout (`isolated`)
// the same with LOCALTIMESTAMP, which row-level security limits to this
// role's own installation. The comparison of a timestamp with NOW()'s
// timestamptz may not come before the security check (it is not leakproof),
// so it could not use an index there; with LOCALTIMESTAMP both conditions
// are one range of the index on (ixcidentification, timestamp). Both read
// the rows' timestamps in this session's time zone alike. In a transaction
// of its own (BEGIN ... COMMIT) with the run's wait limits and JIT
// compilation off (beside millions of rows the planner's estimate for the
// oldest rows can be coarse enough to compile the statement, which then
// costs more than the rows it deletes), as one segment of `pipeline`. When
// the server refuses it nothing is deleted, and its transaction stays open
// and aborted until the caller ends it (request_rollback).
void queue_stale_delete(Pipeline& pipeline, PGconn* conn, bool isolated);

// Before the upsert: when the table lacks the index, this role may create
// it and the table holds at most kQuickIndexBytes (a table created by this
// run holds nothing yet), CREATE INDEX IF NOT EXISTS in its own transaction,
// which a run killed at any instant leaves either done or not begun, and
// which blocks other installations' writes for about one page. Another run
// creating it at the same moment is not a failure. Otherwise sends nothing.
void create_small_retention_index(PGconn* conn, const TableState& state, std::ostream& out);

// After the delete: when the index is missing on a larger table, or a
// concurrent build left it unusable, and this role may create it, on a
// connection that owns its server session only. Under a session advisory
// lock (taken without waiting: the run that holds it is the one building),
// it drops an unusable leftover and starts CREATE INDEX CONCURRENTLY, which
// never blocks the other installations' writes, and does not wait for it:
// the server finishes the build after this connection is closed (the
// session gets no statement timeout and no client-connection check), and
// the lock ends with that session. Behind a pooler a session lock could
// outlive the run on the pooler's server connection, so nothing is started
// there; the table's owner builds it once. Otherwise sends nothing.
void start_retention_index_build(PGconn* conn, const TableState& state, std::ostream& out);

// Both print a failure as "Erro ao criar o índice ixc_clientes_timestamp_idx: "
// and libpq's message on `out`, and do not throw it: the rows are stored
// either way.

}  // namespace cobrix::store
