#include "store/table_state.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "store/pg_connection.h"
#include "store/retention.h"
#include "store/schema.h"
#include "store/summary_table.h"
#include "store/waits.h"

namespace cobrix::store {

namespace {

// '{idcliente,idcontrato,...}': the map's column names as a name[] literal.
std::string column_names() {
  std::string names = "'{";
  for (const Column& column : colunas_tabela) {
    if (names.size() > 2) names += ',';
    names.append(column.name);
  }
  return names + "}'::name[]";
}

// Only catalog reads and the clock, but pg_relation_size locks the table:
// it is read only for a role that may index it, the table's owner, and
// even then waits no longer than the run's lock timeout.
const std::string kStateQuery =
    kBoundedWaitsPrefix +
    "SELECT pg_backend_pid(), t.oid IS NOT NULL, "
    "(SELECT count(*) FROM pg_attribute a WHERE a.attrelid = t.oid AND a.attnum > 0 AND NOT a.attisdropped "
    "AND a.attname = ANY (" + column_names() + ")), "
    "to_regclass('" + std::string(kSummaryTable) + "') IS NOT NULL, coalesce(t.relrowsecurity, false), "
    "t.oid IS NOT NULL AND pg_has_role(t.relowner, 'USAGE'), "
    "CASE WHEN t.oid IS NOT NULL AND pg_has_role(t.relowner, 'USAGE') THEN pg_relation_size(t.oid) ELSE 0 END, "
    "ic.oid IS NOT NULL, i.indisvalid, "
    "EXISTS (SELECT FROM pg_language WHERE lanname = 'plpgsql' AND has_language_privilege(oid, 'USAGE')), "
    "to_char(LOCALTIMESTAMP, 'YYYY-MM-DD HH24:MI:SS.US') "
    "FROM (SELECT to_regclass('ixc_clientes') AS oid) r "
    "LEFT JOIN pg_class t ON t.oid = r.oid "
    "LEFT JOIN pg_class ic ON ic.relname = '" + std::string(kRetentionIndex) + "' AND ic.relnamespace = t.relnamespace "
    "LEFT JOIN pg_index i ON i.indexrelid = ic.oid AND i.indrelid = t.oid";

bool is_true(const PGresult* res, int column) {
  return !PQgetisnull(res, 0, column) && PQgetvalue(res, 0, column)[0] == 't';
}

// "YYYY-MM-DD HH:MM:SS.ffffff" as the server formats it; nullopt for a
// year outside four digits.
std::optional<DateTime> parse_clock(const char* text) {
  DateTime t;
  char tail = 0;
  if (std::sscanf(text, "%4d-%2d-%2d %2d:%2d:%2d.%6d%c", &t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second,
                  &t.microsecond, &tail) != 7)
    return std::nullopt;
  return t;
}

}  // namespace

bool TableState::complete() const {
  return exists && columns == static_cast<int>(colunas_tabela.size()) && summary_exists;
}

TableState table_state(PGconn* conn) {
  const PgResult res = exec(conn, kStateQuery);
  const PGresult* r = res.get();
  TableState state;
  if (PQntuples(r) != 1) return state;
  state.owns_session = std::string_view(PQgetvalue(r, 0, 0)) == std::to_string(PQbackendPID(conn));
  state.exists = is_true(r, 1);
  state.columns = std::stoi(PQgetvalue(r, 0, 2));
  state.summary_exists = is_true(r, 3);
  state.isolated = is_true(r, 4);
  state.may_index = is_true(r, 5);
  state.heap_bytes = std::stoll(PQgetvalue(r, 0, 6));
  if (is_true(r, 7))
    state.index = PQgetisnull(r, 0, 8) ? TableState::Index::foreign
                  : is_true(r, 8)      ? TableState::Index::valid
                                       : TableState::Index::invalid;
  state.plpgsql = is_true(r, 9);
  state.server_clock = parse_clock(PQgetvalue(r, 0, 10));
  return state;
}

}  // namespace cobrix::store
