#include "store/pg_connection.h"

namespace cobrix::store {

std::string connection_message(PGconn* conn) {
  const char* text = conn ? PQerrorMessage(conn) : nullptr;
  return text && *text ? text : "sem mensagem do libpq (falta de memória?)\n";
}

PgConn connect(const RunSettings& settings) {
  // libpq reads a comma in the host entry as a list of hosts, primary and
  // standbys among them; the run writes, so it must reach the one that takes
  // writes. With one host the keywords stay as they always were.
  const bool several_hosts = settings.postgres_ip.find(',') != std::string::npos;
  const char* const keys[] = {"host", "port", "user", "password", "dbname",
                              several_hosts ? "target_session_attrs" : nullptr, nullptr};
  const char* const values[] = {settings.postgres_ip.c_str(), settings.postgres_port.c_str(),
                                settings.pg_user.c_str(),     settings.pg_password.c_str(),
                                settings.pg_db.c_str(),       several_hosts ? "read-write" : nullptr,
                                nullptr};
  PgConn conn(PQconnectdbParams(keys, values, 0));
  if (!conn || PQstatus(conn.get()) != CONNECTION_OK) throw PgError(connection_message(conn.get()), "");
  // libpq's default processor prints notices such as "relation ... already
  // exists, skipping" on standard error, which the caller reads as output.
  PQsetNoticeProcessor(conn.get(), [](void*, const char*) {}, nullptr);
  return conn;
}

PgError result_error(PGconn* conn, const PGresult* res) {
  if (!res) return PgError(connection_message(conn), "");
  const char* text = PQresultErrorMessage(res);
  const char* state = PQresultErrorField(res, PG_DIAG_SQLSTATE);
  return PgError(text && *text ? text : connection_message(conn), state ? state : "");
}

PgResult check(PGconn* conn, PGresult* raw) {
  PgResult res(raw);
  const ExecStatusType status = res ? PQresultStatus(res.get()) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return res;
  throw result_error(conn, res.get());
}

PgResult exec(PGconn* conn, const std::string& sql) { return check(conn, PQexec(conn, sql.c_str())); }

void request_rollback(PGconn* conn) {
  if (PQstatus(conn) != CONNECTION_OK) throw PgError(connection_message(conn), "");
  if (PQtransactionStatus(conn) == PQTRANS_IDLE) return;
  exec(conn, "ROLLBACK");
}

std::string as_line(std::string_view message) {
  while (!message.empty() && message.back() == '\n') message.remove_suffix(1);
  std::string line(message);
  line += '\n';
  return line;
}

}  // namespace cobrix::store
