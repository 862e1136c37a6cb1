#include "store/retention.h"

#include <string>

#include "store/messages.h"
#include "store/pg_connection.h"
#include "store/pipeline.h"
#include "store/schema.h"
#include "store/waits.h"

namespace cobrix::store {

namespace {

const std::string kIndexName = kRetentionIndex;
const std::string kIndexDefinition = kIndexName + " ON ixc_clientes (timestamp)";

const std::string kCreate = "CREATE INDEX IF NOT EXISTS " + kIndexDefinition;
const std::string kCreateConcurrently = "CREATE INDEX CONCURRENTLY IF NOT EXISTS " + kIndexDefinition;
const std::string kDropConcurrently = "DROP INDEX CONCURRENTLY IF EXISTS " + kIndexName;
const std::string kRetentionDelete = "DELETE FROM ixc_clientes WHERE timestamp < NOW() - INTERVAL '1 day';";
const std::string kOwnRetentionDelete =
    "DELETE FROM ixc_clientes WHERE timestamp < LOCALTIMESTAMP - INTERVAL '1 day';";

bool is_true(const PGresult* res, int column) {
  return !PQgetisnull(res, 0, column) && PQgetvalue(res, 0, column)[0] == 't';
}

// The line of a failed build; the run goes on without the index.
void say_index_error(std::ostream& out, const PgError& e) {
  say_error(out, "Erro ao criar o índice " + kIndexName + ": ", e);
}

void create_now(PGconn* conn) {
  try {
    exec(conn, kCreate);
  } catch (const PgError& e) {
    if (!lost_creation_race(e)) throw;  // another run created it at the same moment
  }
}

// Starts the concurrent build and returns without waiting for it (see the
// header). The settings are this session's own and end with it.
void start_concurrent_build(PGconn* conn) {
  std::string sql = "SET statement_timeout = 0; SET lock_timeout = '2s'; ";
  if (PQserverVersion(conn) >= 140000) sql += "SET client_connection_check_interval = 0; ";
  const PgResult locked = exec(conn, sql + "SELECT pg_try_advisory_lock(" + std::to_string(kIndexBuildLock) + ")");
  if (!is_true(locked.get(), 0)) return;  // another run is building it
  const TableState now = table_state(conn);
  if (now.index == TableState::Index::valid || now.index == TableState::Index::foreign) return;
  if (now.index == TableState::Index::invalid) {
    try {
      exec(conn, kDropConcurrently);
    } catch (const PgError& e) {
      // Someone else holds the table's build lock (a build by hand, a
      // vacuum): their index is not ours to drop; a later run tries again.
      if (e.sqlstate() == "55P03") return;
      throw;
    }
  }
  exec(conn, "SET lock_timeout = 0");
  if (PQsendQuery(conn, kCreateConcurrently.c_str()) != 1) throw PgError(connection_message(conn), "");
}

}  // namespace

void queue_stale_delete(Pipeline& pipeline, PGconn* conn, bool isolated) {
  pipeline.exec("BEGIN");
  pipeline.exec(kBoundedWaits);
  if (PQserverVersion(conn) >= 110000) pipeline.exec("SET LOCAL jit = off");
  pipeline.exec(isolated ? kOwnRetentionDelete : kRetentionDelete);
  pipeline.exec("COMMIT");
}

void create_small_retention_index(PGconn* conn, const TableState& state, std::ostream& out) {
  if (!state.may_index || state.index != TableState::Index::absent || state.heap_bytes > kQuickIndexBytes) return;
  try {
    create_now(conn);
  } catch (const PgError& e) {
    say_index_error(out, e);
  }
}

void start_retention_index_build(PGconn* conn, const TableState& state, std::ostream& out) {
  using Index = TableState::Index;
  if (!state.may_index || !state.owns_session) return;
  const bool big_without = state.index == Index::absent && state.heap_bytes > kQuickIndexBytes;
  if (!big_without && state.index != Index::invalid) return;
  try {
    start_concurrent_build(conn);
  } catch (const PgError& e) {
    say_index_error(out, e);
  }
}

}  // namespace cobrix::store
