#pragma once
// The owner's connection and its transactions. Everything cobrix-central
// sends runs inside a Transaction, whose bounded waits make a lock held
// elsewhere end in a failure instead of a hang.

#include <libpq-fe.h>

#include <initializer_list>
#include <string>

#include "store/pg_connection.h"

namespace cobrix::central {

using store::PgConn;
using store::PgError;
using store::PgResult;

// How long a statement may wait for a lock, and how long it may run.
inline constexpr const char* kLockTimeout = "10s";
inline constexpr const char* kStatementTimeout = "10min";

// Opens the connection from libpq's environment alone (PGHOST, PGPORT,
// PGUSER, PGPASSWORD or PGPASSFILE, PGDATABASE, PGSSLMODE, ...), as
// PQconnectdb("") does, with "cobrix-central" as the application name
// unless PGAPPNAME names another. Server notices are dropped. Throws
// PgError with libpq's message when no connection is made.
PgConn connect_from_environment();

// A transaction of its own: BEGIN, then SET LOCAL lock_timeout,
// statement_timeout and search_path = public (the tables live in public,
// whatever the role's own search path says). Rolled back when destroyed
// without commit(); a rollback that fails is ignored there, since the
// failure that ends the program has already been thrown. Throws PgError.
class Transaction {
 public:
  explicit Transaction(PGconn* conn);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // COMMIT. Throws PgError when the server refuses it (nothing is kept).
  void commit();

 private:
  PGconn* conn_;
  bool open_ = true;
};

// Runs one statement with text parameters ($1, $2, ...; none is NULL) and
// returns its result. Throws PgError when the server refuses it.
PgResult exec_params(PGconn* conn, const std::string& sql, std::initializer_list<std::string> params);

// `name` as a quoted SQL identifier (PQescapeIdentifier). Throws PgError
// when libpq refuses it (an invalid encoding).
std::string quote_identifier(PGconn* conn, const std::string& name);

// `text` as a quoted SQL literal (PQescapeLiteral), for the utility
// statements that take no parameters. Throws PgError likewise.
std::string quote_literal(PGconn* conn, const std::string& text);

// The value at (row, column) of `res` as text; empty for NULL.
std::string value(const PGresult* res, int row, int column);

// Whether the value at (row, column) is boolean true.
bool is_true(const PGresult* res, int row, int column);

}  // namespace cobrix::central
