#include "central/roles.h"

#include "central/failures.h"
#include "central/layout.h"
#include "central/password.h"
#include "central/session.h"

namespace cobrix::central {

namespace {

// What the server knows of `role`: whether it exists, and its mapping rows.
struct RoleState {
  bool exists = false;
  std::vector<std::string> writes, reads;  // installations, by escrita
};

RoleState role_state(PGconn* conn, const std::string& role) {
  const PgResult res = exec_params(conn,
                                   "SELECT a.ixcidentification, a.escrita FROM pg_roles r "
                                   "LEFT JOIN ixc_clientes_acesso a ON a.papel = r.rolname "
                                   "WHERE r.rolname = $1 ORDER BY 1",
                                   {role});
  RoleState state;
  for (int row = 0; row < PQntuples(res.get()); ++row) {
    state.exists = true;
    if (PQgetisnull(res.get(), row, 0)) continue;
    (is_true(res.get(), row, 1) ? state.writes : state.reads).push_back(value(res.get(), row, 0));
  }
  return state;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
  for (const std::string& x : list)
    if (x == item) return true;
  return false;
}

std::string quoted_list(const std::vector<std::string>& ids) {
  std::string text;
  for (const std::string& id : ids) text += (text.empty() ? "'" : ", '") + id + "'";
  return text;
}

// CREATE ROLE ... LOGIN, or ALTER ROLE, with the verifier as the password.
void set_role(PGconn* conn, const std::string& role, const std::string& password, bool create) {
  const std::string verifier = quote_literal(conn, scram_verifier(conn, password, role));
  store::exec(conn, (create ? "CREATE ROLE " : "ALTER ROLE ") + quote_identifier(conn, role) +
                        (create ? " LOGIN PASSWORD " : " PASSWORD ") + verifier);
}

void map(PGconn* conn, const std::string& role, const std::string& id, bool writer) {
  exec_params(conn,
              "INSERT INTO ixc_clientes_acesso (papel, ixcidentification, escrita) VALUES ($1, $2, $3) "
              "ON CONFLICT DO NOTHING",
              {role, id, writer ? "true" : "false"});
}

}  // namespace

void add_installation(PGconn* conn, const std::string& role, const std::string& id, const std::string& password,
                      std::ostream& out) {
  Transaction transaction(conn);
  require_isolated(check_owner(conn));
  const RoleState state = role_state(conn, role);
  std::vector<std::string> done;
  if (state.exists) {
    if (!contains(state.writes, id))
      throw Refusal("o papel " + role + " já existe e não é o papel de gravação da instalação '" + id +
                    "'; escolha outro nome.");
    set_role(conn, role, password, false);
    done.push_back("Papel " + role + " (gravação da instalação '" + id + "'): senha trocada.");
  } else {
    set_role(conn, role, password, true);
    map(conn, role, id, true);
    done.push_back("Papel " + role + " criado: grava a instalação '" + id + "'.");
  }
  store::exec(conn, grant_statement(conn, role, true));
  const PgResult others = exec_params(
      conn, "SELECT papel FROM ixc_clientes_acesso WHERE ixcidentification = $1 AND escrita AND papel <> $2",
      {id, role});
  for (int row = 0; row < PQntuples(others.get()); ++row)
    done.push_back("Aviso: a instalação '" + id + "' também é gravada pelo papel " + value(others.get(), row, 0) +
                   ".");
  transaction.commit();
  for (const std::string& line : done) out << line << '\n';
  out << "OK\n" << std::flush;
}

void add_reader(PGconn* conn, const std::string& role, const std::vector<std::string>& ids,
                const std::string& password, std::ostream& out) {
  Transaction transaction(conn);
  require_isolated(check_owner(conn));
  const RoleState state = role_state(conn, role);
  std::vector<std::string> added;
  for (const std::string& id : ids)
    if (!contains(state.reads, id) && !contains(added, id)) added.push_back(id);
  std::string line;
  if (state.exists) {
    if (!state.writes.empty() || state.reads.empty())
      throw Refusal("o papel " + role + " já existe e não é um papel de leitura criado por cobrix-central; " +
                    "escolha outro nome.");
    set_role(conn, role, password, false);
    line = "Papel de leitura " + role + ": senha trocada";
    line += added.empty() ? "." : "; instalações acrescentadas: " + quoted_list(added) + ".";
  } else {
    set_role(conn, role, password, true);
    line = "Papel de leitura " + role + " criado: lê os resumos de " + quoted_list(added) + ".";
  }
  for (const std::string& id : added) map(conn, role, id, false);
  store::exec(conn, grant_statement(conn, role, false));
  transaction.commit();
  out << line << "\nOK\n" << std::flush;
}

void remove_installation(PGconn* conn, const std::string& id, std::ostream& out) {
  Transaction transaction(conn);
  require_isolated(check_owner(conn));
  // The installation's roles, and whether each keeps a mapping row for
  // another installation after this delete.
  const PgResult roles = exec_params(
      conn,
      "WITH gone AS (DELETE FROM ixc_clientes_acesso WHERE ixcidentification = $1 RETURNING papel) "
      "SELECT DISTINCT g.papel, EXISTS (SELECT FROM ixc_clientes_acesso a WHERE a.papel = g.papel "
      "AND a.ixcidentification <> $1), EXISTS (SELECT FROM pg_roles r WHERE r.rolname = g.papel) "
      "FROM gone g ORDER BY 1",
      {id});
  std::vector<std::string> done;
  for (int row = 0; row < PQntuples(roles.get()); ++row) {
    const std::string role = value(roles.get(), row, 0);
    if (is_true(roles.get(), row, 1)) {
      done.push_back("Papel " + role + " mantido: ainda tem outras instalações em ixc_clientes_acesso.");
    } else if (is_true(roles.get(), row, 2)) {
      store::exec(conn, revoke_statement(conn, role) + "DROP ROLE " + quote_identifier(conn, role));
      done.push_back("Papel " + role + " removido.");
    }
  }
  transaction.commit();
  if (done.empty()) done.push_back("Nenhum papel mapeado à instalação '" + id + "'.");
  for (const std::string& line : done) out << line << '\n';
  out << "As linhas da instalação '" << id << "' ficam até a retenção apagá-las.\nOK\n" << std::flush;
}

}  // namespace cobrix::central
