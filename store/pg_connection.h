#pragma once
// RAII owners for libpq handles and the few calls the store makes through
// them. Every failure is thrown as PgError carrying libpq's own text.

#include <libpq-fe.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "model/failure.h"
#include "model/run_config.h"

namespace cobrix::store {

// `message` without its trailing line feeds, then exactly one line feed.
std::string as_line(std::string_view message);

// A failed libpq operation. what() is libpq's message without its trailing
// line feeds (it may span several lines); sqlstate() is the five-character
// SQLSTATE when the server reported one, else empty.
class PgError : public Failure {
 public:
  PgError(std::string_view message, std::string sqlstate)
      : Failure(kPostgresKind, trimmed(message)), sqlstate_(std::move(sqlstate)) {}
  const std::string& sqlstate() const { return sqlstate_; }

 private:
  static std::string trimmed(std::string_view message) {
    std::string line = as_line(message);
    line.pop_back();
    return line;
  }
  std::string sqlstate_;
};

struct ConnDeleter {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
struct ResultDeleter {
  void operator()(PGresult* res) const { PQclear(res); }
};
using PgConn = std::unique_ptr<PGconn, ConnDeleter>;
using PgResult = std::unique_ptr<PGresult, ResultDeleter>;

// Opens a connection with exactly the keywords host, port, user, password
// and dbname (in that order) taken from `settings`, and installs a notice
// processor that drops server notices so that none reaches the standard
// streams. Throws PgError when the connection cannot be made.
PgConn connect(const RunSettings& settings);

// Checks a result of PQexec/PQexecParams/PQexecPrepared/PQprepare: returns
// it when the command succeeded, throws PgError otherwise (a null result
// takes the connection's message).
PgResult check(PGconn* conn, PGresult* res);

// Runs one plain statement (autocommit: it commits by itself) and returns
// its result. Throws PgError when the server refuses it.
PgResult exec(PGconn* conn, const std::string& sql);

// True when the server session that answers on `conn` is the one that libpq
// opened: the server's pg_backend_pid() is the process id of the backend key
// that the connection received at start-up. A pooler must hand its clients
// backend keys of its own (cancel requests reach the pooler, which finds the
// client by that key), so behind any pooler this is false; directly it is
// true, and every later round trip on `conn` reaches that same session.
// Throws PgError when the query fails.
bool owns_server_session(PGconn* conn);

// The rollback request after a failed statement. Without an open
// transaction (the autocommit case) there is nothing to undo and nothing is
// sent. Throws PgError when the connection is no longer usable or the
// server refuses the ROLLBACK.
void request_rollback(PGconn* conn);

}  // namespace cobrix::store
