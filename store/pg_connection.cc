#include "store/pg_connection.h"

namespace cobrix::store {

namespace {

std::string connection_message(PGconn* conn) {
  const char* text = conn ? PQerrorMessage(conn) : nullptr;
  return text && *text ? text : "sem mensagem do libpq (falta de memória?)\n";
}

}  // namespace

PgConn connect(const RunSettings& settings) {
  const char* const keys[] = {"host", "port", "user", "password", "dbname", nullptr};
  const char* const values[] = {settings.postgres_ip.c_str(), settings.postgres_port.c_str(),
                                settings.pg_user.c_str(),     settings.pg_password.c_str(),
                                settings.pg_db.c_str(),       nullptr};
  PgConn conn(PQconnectdbParams(keys, values, 0));
  if (!conn || PQstatus(conn.get()) != CONNECTION_OK) throw PgError(connection_message(conn.get()), "");
  // libpq's default processor prints notices such as "relation ... already
  // exists, skipping" on standard error, which the caller reads as output.
  PQsetNoticeProcessor(conn.get(), [](void*, const char*) {}, nullptr);
  return conn;
}

PgResult check(PGconn* conn, PGresult* raw) {
  PgResult res(raw);
  if (!res) throw PgError(connection_message(conn), "");
  const ExecStatusType status = PQresultStatus(res.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return res;
  const char* text = PQresultErrorMessage(res.get());
  const char* state = PQresultErrorField(res.get(), PG_DIAG_SQLSTATE);
  throw PgError(text && *text ? text : connection_message(conn), state ? state : "");
}

PgResult exec(PGconn* conn, const std::string& sql) { return check(conn, PQexec(conn, sql.c_str())); }

bool owns_server_session(PGconn* conn) {
  const PgResult res = exec(conn, "SELECT pg_backend_pid()");
  if (PQntuples(res.get()) != 1 || PQgetisnull(res.get(), 0, 0)) return false;
  return std::string_view(PQgetvalue(res.get(), 0, 0)) == std::to_string(PQbackendPID(conn));
}

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
