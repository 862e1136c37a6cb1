#include "store/isolation.h"

#include <memory>
#include <string>

#include "model/failure.h"
#include "store/pg_connection.h"
#include "store/waits.h"

namespace cobrix::store {

namespace {

struct FreeDeleter {
  void operator()(char* text) const { PQfreemem(text); }
};

// `text` as an SQL string literal, escaped by libpq for this connection.
std::string literal(PGconn* conn, std::string_view text) {
  const std::unique_ptr<char, FreeDeleter> quoted(PQescapeLiteral(conn, text.data(), text.size()));
  if (!quoted) throw PgError(connection_message(conn), "");
  return quoted.get();
}

}  // namespace

void check_writer(PGconn* conn, std::string_view identification) {
  const PgResult res =
      exec(conn, kBoundedWaitsPrefix + "SELECT current_user, coalesce(bool_or(escrita), false) FROM " +
                     kAccessTable + " WHERE papel = current_user AND ixcidentification = " +
                     literal(conn, identification));
  if (PQntuples(res.get()) == 1 && PQgetvalue(res.get(), 0, 1)[0] == 't') return;
  const std::string role = PQntuples(res.get()) == 1 ? PQgetvalue(res.get(), 0, 0) : "?";
  throw Failure(kPostgresKind, "o papel '" + role + "' não grava a instalação '" + std::string(identification) +
                                   "' (" + kAccessTable +
                                   ", que o dono das tabelas mantém com cobrix-central add-installation); nada foi "
                                   "gravado nem apagado.");
}

}  // namespace cobrix::store
