#include "central/session.h"

#include <memory>
#include <vector>

namespace cobrix::central {

PgConn connect_from_environment() {
  // Only the fallback application name: every other setting comes from
  // libpq's environment and defaults, exactly as with an empty conninfo.
  const char* const keys[] = {"fallback_application_name", nullptr};
  const char* const values[] = {"cobrix-central", nullptr};
  PgConn conn(PQconnectdbParams(keys, values, 0));
  if (!conn || PQstatus(conn.get()) != CONNECTION_OK)
    throw PgError(store::connection_message(conn.get()), "");
  // Notices such as "relation ... already exists, skipping" are not for
  // the operator: the program says itself what it did.
  PQsetNoticeProcessor(conn.get(), [](void*, const char*) {}, nullptr);
  return conn;
}

Transaction::Transaction(PGconn* conn) : conn_(conn) {
  store::exec(conn_, std::string("BEGIN; SET LOCAL lock_timeout = '") + kLockTimeout +
                         "'; SET LOCAL statement_timeout = '" + kStatementTimeout +
                         "'; SET LOCAL search_path = public");
}

Transaction::~Transaction() {
  if (!open_) return;
  try {
    store::request_rollback(conn_);
  } catch (const PgError&) {
  }
}

void Transaction::commit() {
  open_ = false;
  store::exec(conn_, "COMMIT");
}

PgResult exec_params(PGconn* conn, const std::string& sql, std::initializer_list<std::string> params) {
  std::vector<const char*> values;
  for (const std::string& p : params) values.push_back(p.c_str());
  return store::check(conn, PQexecParams(conn, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                         values.data(), nullptr, nullptr, 0));
}

namespace {

std::string escaped(PGconn* conn, char* raw) {
  if (!raw) throw PgError(store::connection_message(conn), "");
  const std::unique_ptr<char, decltype(&PQfreemem)> owner(raw, &PQfreemem);
  return raw;
}

}  // namespace

std::string quote_identifier(PGconn* conn, const std::string& name) {
  return escaped(conn, PQescapeIdentifier(conn, name.data(), name.size()));
}

std::string quote_literal(PGconn* conn, const std::string& text) {
  return escaped(conn, PQescapeLiteral(conn, text.data(), text.size()));
}

std::string value(const PGresult* res, int row, int column) {
  return PQgetisnull(res, row, column) ? std::string() : std::string(PQgetvalue(res, row, column));
}

bool is_true(const PGresult* res, int row, int column) {
  return !PQgetisnull(res, row, column) && PQgetvalue(res, row, column)[0] == 't';
}

}  // namespace cobrix::central
