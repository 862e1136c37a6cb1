#include "store/schema.h"

#include <cctype>
#include <optional>
#include <set>

#include "store/messages.h"
#include "store/pg_connection.h"
#include "store/pipeline.h"
#include "store/summary_table.h"
#include "store/waits.h"

namespace cobrix::store {

const char* const kColumnQuery =
    "\n        SELECT column_name \n        FROM information_schema.columns \n"
    "        WHERE table_name='ixc_clientes';\n    ";

std::string create_table_statement() {
  std::string colunas_sql;
  for (const Column& column : colunas_tabela) {
    if (!colunas_sql.empty()) colunas_sql += ", ";
    colunas_sql.append(column.name).append(" ").append(column.sql_type);
  }
  return "\n        CREATE TABLE IF NOT EXISTS ixc_clientes (\n            " + colunas_sql +
         ",\n            UNIQUE (idcliente, ixcidentification)\n        );\n    ";
}

std::string add_column_statement(const Column& column) {
  std::string sql = "ALTER TABLE ixc_clientes ADD COLUMN ";
  sql.append(column.name).append(" ").append(column.sql_type).append(";");
  return sql;
}

bool lost_creation_race(const PgError& e) {
  return e.sqlstate() == "23505" || e.sqlstate() == "42P07" || e.sqlstate() == "42710";
}

namespace {

// A role that may write the table but not create objects in its schema (the
// least-privilege grant) has its creation statement refused even though the
// table is there; the run goes on when the role can see the table.
bool refused_but_table_visible(PGconn* conn, const PgError& e) {
  if (e.sqlstate() != "42501") return false;
  const PgResult res =
      exec(conn, "SELECT 1 FROM information_schema.tables WHERE table_name='ixc_clientes' LIMIT 1;");
  return PQntuples(res.get()) > 0;
}

// Both creation statements in one round trip, each a segment of its own.
// The summary table's creation fails for a role that may not create it,
// which is not this run's failure: the role writes the table if its owner
// created it, and a write that fails says so then.
void create_table(PGconn* conn) {
  const std::string sql = create_table_statement();
  std::optional<PgError> refused;
  {
    Pipeline pipeline(conn);
    pipeline.exec(kBoundedWaits);
    pipeline.exec(sql);
    pipeline.sync();
    pipeline.exec(kBoundedWaits);
    pipeline.exec(create_summary_table_statement());
    refused = std::move(pipeline.finish_segments().front());
  }
  if (!refused) return;
  if (refused_but_table_visible(conn, *refused)) return;
  if (!lost_creation_race(*refused)) throw *refused;
  exec(conn, kBoundedWaitsPrefix + sql);
}

std::set<std::string, std::less<>> existing_columns(PGconn* conn) {
  const PgResult res = exec(conn, kColumnQuery);
  std::set<std::string, std::less<>> colunas_existentes;
  for (int row = 0; row < PQntuples(res.get()); ++row)
    colunas_existentes.emplace(PQgetvalue(res.get(), row, 0), PQgetlength(res.get(), row, 0));
  return colunas_existentes;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

void ensure_table(PGconn* conn, std::ostream& out) {
  create_table(conn);
  const auto colunas_existentes = existing_columns(conn);
  for (const Column& column : colunas_tabela) {
    if (colunas_existentes.contains(lower(column.name))) continue;
    try {
      exec(conn, kBoundedWaitsPrefix + add_column_statement(column));
      say(out, "Coluna '" + std::string(column.name) + "' adicionada à tabela ixc_clientes.");
    } catch (const PgError& e) {
      say_error(out, "Erro ao adicionar coluna '" + std::string(column.name) + "': ", e);
    }
  }
}

}  // namespace cobrix::store
