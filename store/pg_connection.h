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
// streams. A host entry with a comma is libpq's list of hosts ("pg-a,pg-b",
// the one port for all): then target_session_attrs=read-write follows, so
// libpq tries the hosts in turn and keeps the first that accepts writes, the
// primary, whatever the order; it overrides PGTARGETSESSIONATTRS, since a
// writer needs read-write anyway. With one host nothing is added, and libpq's
// environment defaults apply as they always did. Throws PgError when no host
// gives such a connection (the message then has one line or more per host).
PgConn connect(const RunSettings& settings);

// The failure that `res` reports (libpq's message and the SQLSTATE); for a
// null result, the connection's message.
PgError result_error(PGconn* conn, const PGresult* res);

// The connection's own message (a lost connection, a failed send).
std::string connection_message(PGconn* conn);

// Checks a result of PQexec/PQexecParams/PQexecPrepared/PQprepare: returns
// it when the command succeeded, throws PgError otherwise (a null result
// takes the connection's message).
PgResult check(PGconn* conn, PGresult* res);

// Runs one plain statement (autocommit: it commits by itself) and returns
// its result. Throws PgError when the server refuses it.
PgResult exec(PGconn* conn, const std::string& sql);

// The rollback request after a failed statement. Without an open
// transaction (the autocommit case) there is nothing to undo and nothing is
// sent. Throws PgError when the connection is no longer usable or the
// server refuses the ROLLBACK.
void request_rollback(PGconn* conn);

}  // namespace cobrix::store
