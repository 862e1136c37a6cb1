#include "central/layout.h"

#include <array>
#include <set>

#include "central/failures.h"
#include "central/session.h"
#include "store/schema.h"
#include "store/summary_table.h"

namespace cobrix::central {

namespace {

const std::string kTables = "ixc_clientes, ixc_clientes_resumo, ixc_clientes_acesso";

const char* const kStateQuery =
    "SELECT current_user, r.rolsuper, t.name, c.oid IS NOT NULL, c.relowner = r.oid, "
    "coalesce(c.relrowsecurity, false), pg_get_userbyid(c.relowner), "
    "CASE WHEN c.oid IS NOT NULL THEN format('ALTER TABLE %I.%I OWNER TO %I;', n.nspname, c.relname, "
    "current_user) END "
    "FROM (SELECT oid, rolsuper FROM pg_roles WHERE rolname = current_user) r "
    "CROSS JOIN unnest(ARRAY['ixc_clientes', 'ixc_clientes_resumo', 'ixc_clientes_acesso']) "
    "WITH ORDINALITY t(name, i) "
    "LEFT JOIN pg_class c ON c.oid = to_regclass(t.name) "
    "LEFT JOIN pg_namespace n ON n.oid = c.relnamespace ORDER BY t.i";

// The installations that the querying role is mapped to (those it writes,
// with `writer`), as the data tables' policies read them. ARRAY(...) runs
// the lookup once per statement, not once per row.
std::string mapped_ids(bool writer) {
  return std::string("ixcidentification = ANY (ARRAY(SELECT a.ixcidentification FROM ixc_clientes_acesso a "
                     "WHERE a.papel = current_user") +
         (writer ? " AND a.escrita" : "") + "))";
}

struct Policy {
  const char* name;
  const char* command;  // FOR ...
  bool owner;           // TO the owner, else TO PUBLIC
  std::string using_expr, check_expr;
};

// The policies of a data table. The owner's delete compares the row's
// timestamp (the run's local clock, a timestamp without time zone) with the
// server's LOCALTIMESTAMP: leak-proof operators, so that under FORCE ROW
// LEVEL SECURITY the comparison remains an index condition.
std::vector<Policy> data_policies() {
  return {{"cobrix_leitura", "SELECT", false, mapped_ids(false), ""},
          {"cobrix_insercao", "INSERT", false, "", mapped_ids(true)},
          {"cobrix_atualizacao", "UPDATE", false, mapped_ids(true), mapped_ids(true)},
          {"cobrix_exclusao", "DELETE", false, mapped_ids(true), ""},
          {"cobrix_dono_leitura", "SELECT", true, "true", ""},
          {"cobrix_dono_retencao", "DELETE", true, "timestamp < LOCALTIMESTAMP - INTERVAL '1 day'", ""}};
}

// The mapping table's one policy: a role sees (and may update) only its
// own rows. Not forced: the owner manages every row.
std::vector<Policy> access_policies() {
  return {{"cobrix_proprio_papel", "ALL", false, "papel = current_user", "papel = current_user"}};
}

std::string create_policy(PGconn* conn, const std::string& table, const Policy& p, const std::string& owner) {
  std::string sql = "CREATE POLICY ";
  sql.append(p.name).append(" ON ").append(table).append(" FOR ").append(p.command);
  sql += p.owner ? " TO " + quote_identifier(conn, owner) : std::string(" TO PUBLIC");
  if (!p.using_expr.empty()) sql += " USING (" + p.using_expr + ")";
  if (!p.check_expr.empty()) sql += " WITH CHECK (" + p.check_expr + ")";
  return sql + "; ";
}

TableState table_state(const PGresult* res, int row) {
  return {value(res, row, 2), is_true(res, row, 3), is_true(res, row, 4), is_true(res, row, 5),
          value(res, row, 6), value(res, row, 7)};
}

void add_missing_columns(PGconn* conn, std::vector<std::string>& done) {
  const PgResult res = store::exec(conn,
                                   "SELECT attname FROM pg_attribute WHERE attrelid = 'ixc_clientes'::regclass "
                                   "AND attnum > 0 AND NOT attisdropped");
  std::set<std::string, std::less<>> present;
  for (int row = 0; row < PQntuples(res.get()); ++row) present.insert(value(res.get(), row, 0));
  for (const store::Column& column : store::colunas_tabela) {
    if (present.contains(column.name)) continue;
    store::exec(conn, store::add_column_statement(column));
    done.push_back("Coluna '" + std::string(column.name) + "' adicionada à tabela ixc_clientes.");
  }
}

// The retention index of this layout in, the single-role one out.
void swap_indexes(PGconn* conn, std::vector<std::string>& done) {
  const PgResult res = exec_params(conn, "SELECT to_regclass($1) IS NOT NULL, to_regclass($2) IS NOT NULL",
                                   {kInstallationIndex, kTimestampIndex});
  if (!is_true(res.get(), 0, 0)) {
    store::exec(conn, std::string("CREATE INDEX ") + kInstallationIndex +
                          " ON ixc_clientes (ixcidentification, timestamp)");
    done.push_back(std::string("Índice ") + kInstallationIndex + " criado.");
  }
  if (is_true(res.get(), 0, 1)) {
    store::exec(conn, std::string("DROP INDEX ") + kTimestampIndex);
    done.push_back(std::string("Índice ") + kTimestampIndex + " removido (substituído por " + kInstallationIndex +
                   ").");
  }
}

// Every policy of the three tables is dropped, the layout's own created
// anew: a permissive policy left by hand would widen what a role sees.
void replace_policies(PGconn* conn, const std::string& owner, std::vector<std::string>& done) {
  std::string sql =
      "ALTER TABLE ixc_clientes ENABLE ROW LEVEL SECURITY, FORCE ROW LEVEL SECURITY; "
      "ALTER TABLE ixc_clientes_resumo ENABLE ROW LEVEL SECURITY, FORCE ROW LEVEL SECURITY; "
      "ALTER TABLE ixc_clientes_acesso ENABLE ROW LEVEL SECURITY, NO FORCE ROW LEVEL SECURITY; ";
  std::set<std::string> ours;
  for (const Policy& p : data_policies()) ours.insert(p.name);
  for (const Policy& p : access_policies()) ours.insert(p.name);
  const PgResult existing = store::exec(
      conn, "SELECT c.relname, p.polname FROM pg_policy p JOIN pg_class c ON c.oid = p.polrelid "
            "WHERE p.polrelid IN ('ixc_clientes'::regclass, 'ixc_clientes_resumo'::regclass, "
            "'ixc_clientes_acesso'::regclass) ORDER BY 1, 2");
  for (int row = 0; row < PQntuples(existing.get()); ++row) {
    const std::string table = value(existing.get(), row, 0), name = value(existing.get(), row, 1);
    sql += "DROP POLICY " + quote_identifier(conn, name) + " ON " + table + "; ";
    if (!ours.contains(name)) done.push_back("Política " + name + " de " + table + " removida (não é desta camada).");
  }
  for (const char* table : {"ixc_clientes", "ixc_clientes_resumo"})
    for (const Policy& p : data_policies()) sql += create_policy(conn, table, p, owner);
  for (const Policy& p : access_policies()) sql += create_policy(conn, kAccessTable, p, owner);
  store::exec(conn, sql);
  done.push_back(
      "Segurança em nível de linha ativa e políticas recriadas em ixc_clientes, ixc_clientes_resumo e "
      "ixc_clientes_acesso.");
}

// PUBLIC and every role other than the owner lose every privilege on the
// three tables; the mapped roles get theirs back, in the same transaction.
void replace_grants(PGconn* conn, std::vector<std::string>& done) {
  const PgResult grantees = store::exec(
      conn,
      "WITH t(oid) AS (VALUES ('ixc_clientes'::regclass), ('ixc_clientes_resumo'::regclass), "
      "('ixc_clientes_acesso'::regclass)) "
      "SELECT r.rolname FROM t JOIN pg_class c ON c.oid = t.oid CROSS JOIN LATERAL aclexplode(c.relacl) e "
      "JOIN pg_roles r ON r.oid = e.grantee WHERE e.grantee <> c.relowner "
      "UNION SELECT r.rolname FROM t JOIN pg_attribute a ON a.attrelid = t.oid "
      "CROSS JOIN LATERAL aclexplode(a.attacl) e JOIN pg_roles r ON r.oid = e.grantee ORDER BY 1");
  const PgResult mapped = store::exec(
      conn, "SELECT a.papel, bool_or(a.escrita), bool_or(r.oid IS NOT NULL) FROM ixc_clientes_acesso a "
            "LEFT JOIN pg_roles r ON r.rolname = a.papel GROUP BY a.papel ORDER BY 1");
  std::set<std::string> mapped_roles;
  for (int row = 0; row < PQntuples(mapped.get()); ++row) mapped_roles.insert(value(mapped.get(), row, 0));

  std::string sql = "REVOKE ALL ON " + kTables + " FROM PUBLIC; ";
  for (int row = 0; row < PQntuples(grantees.get()); ++row) {
    const std::string role = value(grantees.get(), row, 0);
    sql += revoke_statement(conn, role);
    if (!mapped_roles.contains(role))
      done.push_back("Privilégios do papel " + role + " revogados (não está em ixc_clientes_acesso).");
  }
  int granted = 0;
  for (int row = 0; row < PQntuples(mapped.get()); ++row) {
    const std::string role = value(mapped.get(), row, 0);
    if (!is_true(mapped.get(), row, 2)) {
      done.push_back("Aviso: o papel " + role + " de ixc_clientes_acesso não existe no servidor.");
      continue;
    }
    sql += grant_statement(conn, role, is_true(mapped.get(), row, 1));
    ++granted;
  }
  store::exec(conn, sql);
  done.push_back("Privilégios revogados de PUBLIC e concedidos aos papéis de ixc_clientes_acesso: " +
                 std::to_string(granted) + ".");
}

}  // namespace

std::string create_access_table_statement() {
  return "CREATE TABLE IF NOT EXISTS ixc_clientes_acesso (papel name NOT NULL, ixcidentification text NOT NULL, "
         "escrita boolean NOT NULL, ultima_execucao timestamptz, PRIMARY KEY (papel, ixcidentification))";
}

DatabaseState check_owner(PGconn* conn) {
  const PgResult res = store::exec(conn, kStateQuery);
  const PGresult* r = res.get();
  if (PQntuples(r) != 3) throw Refusal("o papel conectado não aparece em pg_roles.");
  DatabaseState state{value(r, 0, 0), is_true(r, 0, 1), table_state(r, 0), table_state(r, 1), table_state(r, 2)};
  if (state.superuser)
    throw Refusal("o papel " + state.role +
                  " é superusuário, e a segurança em nível de linha não o limita: conecte-se como o papel dono "
                  "do banco (com CREATEROLE, sem SUPERUSER).");
  std::string foreign, statements;
  for (const TableState* t : {&state.clientes, &state.resumo, &state.acesso}) {
    if (!t->exists || t->owned) continue;
    foreign += (foreign.empty() ? "" : ", ") + t->name + " (dono: " + t->owner + ")";
    statements += (statements.empty() ? "" : " ") + t->owner_statement;
  }
  if (!foreign.empty())
    throw Refusal("o papel " + state.role + " não é dono de " + foreign +
                  ". Um superusuário passa as tabelas a ele com:\n" + statements);
  return state;
}

void require_isolated(const DatabaseState& state) {
  if (!state.acesso.exists || !state.clientes.row_security)
    throw Refusal("o banco ainda não tem a camada isolada: execute antes cobrix-central init.");
}

std::string grant_statement(PGconn* conn, const std::string& role, bool writer) {
  const std::string r = quote_identifier(conn, role);
  if (writer)
    return "GRANT SELECT, INSERT, UPDATE, DELETE ON ixc_clientes, ixc_clientes_resumo TO " + r +
           "; GRANT SELECT, UPDATE (ultima_execucao) ON ixc_clientes_acesso TO " + r + "; ";
  return "GRANT SELECT ON ixc_clientes_resumo, ixc_clientes_acesso TO " + r + "; ";
}

std::string revoke_statement(PGconn* conn, const std::string& role) {
  return "REVOKE ALL ON " + kTables + " FROM " + quote_identifier(conn, role) + "; ";
}

void init(PGconn* conn, std::ostream& out) {
  Transaction transaction(conn);
  const DatabaseState state = check_owner(conn);
  std::vector<std::string> done;
  if (!state.clientes.exists) {
    store::exec(conn, store::create_table_statement());
    done.push_back("Tabela ixc_clientes criada.");
  } else {
    add_missing_columns(conn, done);
  }
  if (!state.resumo.exists) {
    store::exec(conn, store::create_summary_table_statement());
    done.push_back("Tabela ixc_clientes_resumo criada.");
  }
  if (!state.acesso.exists) {
    store::exec(conn, create_access_table_statement());
    done.push_back("Tabela ixc_clientes_acesso criada.");
  }
  swap_indexes(conn, done);
  replace_policies(conn, state.role, done);
  replace_grants(conn, done);
  transaction.commit();
  for (const std::string& line : done) out << line << '\n';
  out << "OK\n" << std::flush;
}

}  // namespace cobrix::central
