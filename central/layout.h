#pragma once
// The isolated layout of the central database: the two data tables that
// every installation shares (ixc_clientes, ixc_clientes_resumo), the
// mapping of roles to installations (ixc_clientes_acesso), row-level
// security over them and the privileges of the mapped roles.
//
// A role sees the rows of the installations it is mapped to, and writes
// those it is mapped to with escrita true; it sees only its own mapping
// rows. The owner (the connected role, never a run's) reads every row,
// deletes only rows older than a day, and never inserts or updates.

#include <libpq-fe.h>

#include <ostream>
#include <string>
#include <vector>

namespace cobrix::central {

inline constexpr const char* kAccessTable = "ixc_clientes_acesso";
inline constexpr const char* kInstallationIndex = "ixc_clientes_instalacao_idx";
// The single-role layout's retention index, which the one above replaces.
inline constexpr const char* kTimestampIndex = "ixc_clientes_timestamp_idx";

// CREATE TABLE IF NOT EXISTS ixc_clientes_acesso: papel, ixcidentification,
// escrita, ultima_execucao, primary key (papel, ixcidentification).
std::string create_access_table_statement();

// What the server says of the connected role and of the three tables.
struct TableState {
  std::string name;
  bool exists = false;
  bool owned = false;          // owned by the connected role itself
  bool row_security = false;   // ENABLE ROW LEVEL SECURITY
  std::string owner;           // the owning role's name, when it exists
  std::string owner_statement; // ALTER TABLE <schema>.<table> OWNER TO <connected role>;
};
struct DatabaseState {
  std::string role;  // current_user
  bool superuser = false;
  TableState clientes, resumo, acesso;
};

// Reads the state in one query and throws Refusal when the connected role
// is a superuser (the owner must be a role that row-level security binds)
// or when an existing table belongs to another role: the message then ends
// with the one line of SQL that a superuser runs to hand the tables over.
// Throws PgError when the query fails. Runs inside the caller's transaction.
DatabaseState check_owner(PGconn* conn);

// Throws Refusal unless `state` shows the isolated layout (the mapping
// table exists and ixc_clientes has row-level security): the role commands
// need `init` to have run.
void require_isolated(const DatabaseState& state);

// The privileges of a mapped role: a writer (escrita) reads and writes both
// data tables and reads its mapping rows, updating only their
// ultima_execucao; a reader reads the summaries and its mapping rows.
std::string grant_statement(PGconn* conn, const std::string& role, bool writer);

// REVOKE ALL on the three tables from `role` (table and column privileges).
std::string revoke_statement(PGconn* conn, const std::string& role);

// Makes the isolated layout in one transaction, idempotently (see the
// manual page), and writes one line per change and a last line "OK" on
// `out` once committed. Throws Refusal (see check_owner) or PgError, and
// then nothing has changed.
void init(PGconn* conn, std::ostream& out);

}  // namespace cobrix::central
