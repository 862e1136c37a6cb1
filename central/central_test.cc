// cobrix-central against the test PostgreSQL, directly and through its
// pgbouncer: each case in a database of its own, owned by a CREATEROLE role
// that is not a superuser, with the built program run as a process.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "central/password.h"
#include "central/retention.h"
#include "store/pg_connection.h"
#include "store/store_test_util.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_servers.h"

namespace cobrix::central_test {
namespace {

using store_test::customers;
using store_test::run_store;
using testing::Captured;

enum class Path { direct, pooler };

// What a statement did: the SQLSTATE when it failed, else its first value
// (a query) or its row count (a write).
struct Outcome {
  std::string sqlstate;
  std::string value;
  std::string shown() const { return sqlstate.empty() ? value : "SQLSTATE " + sqlstate; }
};

Outcome attempt(PGconn* conn, const std::string& sql) {
  const store::PgResult res(PQexec(conn, sql.c_str()));
  const ExecStatusType status = PQresultStatus(res.get());
  Outcome outcome;
  if (status == PGRES_TUPLES_OK && PQntuples(res.get()) > 0)
    outcome.value = PQgetvalue(res.get(), 0, 0);
  else if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
    outcome.value = PQcmdTuples(res.get());
  else if (const char* state = PQresultErrorField(res.get(), PG_DIAG_SQLSTATE))
    outcome.sqlstate = state;
  else
    outcome.sqlstate = "?";
  if (PQtransactionStatus(conn) != PQTRANS_IDLE) store::PgResult(PQexec(conn, "ROLLBACK"));
  return outcome;
}

struct Attempt {
  const char* sql;
  const char* expected;  // value or row count, or SQLSTATE 42501 (refused)
};

// A database of its own, owned by a new CREATEROLE role that is not a
// superuser; every role made for it (or by the program in it) is named
// with the database's name in front and dropped with it.
class CentralDb {
 public:
  CentralDb() : name_(testing::unique_database_name("central")) {
    const auto servers = testing::test_servers();
    if (!servers) throw std::runtime_error("no test servers");
    postgres_ = servers->postgres;
    pooler_port_ = servers->pooler.port;
    create_login_role(owner(), owner_password(), "CREATEROLE");
    testing::PgAdmin(postgres_).exec("CREATE DATABASE " + name_ + " OWNER " + owner());
  }
  ~CentralDb() {
    try {
      testing::PgAdmin admin(postgres_);
      admin.exec("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
      for (const auto& row : admin.query("SELECT rolname FROM pg_roles WHERE rolname LIKE '" + name_ + "\\_%'"))
        admin.exec("DROP ROLE " + *row[0]);
    } catch (...) {
    }
  }
  CentralDb(const CentralDb&) = delete;
  CentralDb& operator=(const CentralDb&) = delete;

  std::string role(const std::string& tag) const { return name_ + "_" + tag; }
  std::string owner() const { return role("dono"); }
  std::string owner_password() const { return password("dono"); }
  // A password with a space, quotes and a non-ASCII letter, unique to the
  // database and `tag`.
  std::string password(const std::string& tag) const { return "s3nha " + tag + " ç'\"" + name_; }

  // A LOGIN role whose password reaches the server as a SCRAM verifier.
  void create_login_role(const std::string& role, const std::string& password, const std::string& options) const {
    const store::PgConn conn = store::connect(as(postgres_.user, postgres_.password, Path::direct, "postgres"));
    const std::string verifier = central::scram_verifier(conn.get(), password, role);
    store::exec(conn.get(), "CREATE ROLE " + role + " LOGIN " + options + " PASSWORD '" + verifier + "'");
  }

  // The program as the owner, with `input` on standard input.
  Captured central(std::vector<std::string> args, const std::string& input = "") const {
    args.insert(args.begin(), "cobrix-central");
    testing::RunOptions options;
    options.env = {{"PGHOST", postgres_.host},
                   {"PGPORT", postgres_.port},
                   {"PGUSER", owner()},
                   {"PGPASSWORD", owner_password()},
                   {"PGDATABASE", name_}};
    options.stdin_text = input;
    return testing::run_program(COBRIX_CENTRAL_BIN, args, options);
  }
  // The program, expected to succeed.
  std::string central_ok(const std::vector<std::string>& args, const std::string& input = "") const {
    const Captured run = central(args, input);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    return run.out;
  }
  // add-installation ROLE ID with the role's own password.
  void add_installation(const std::string& tag, const std::string& id) const {
    central_ok({"add-installation", role(tag), id}, password(tag) + "\n");
  }

  // Connection settings of this database as `user`, for the store and for
  // statements (the run's identification is `id`).
  RunSettings as(const std::string& user, const std::string& password, Path path, const std::string& db = "",
                 const std::string& id = "") const {
    RunSettings s;
    s.postgres_ip = postgres_.host;
    s.postgres_port = path == Path::direct ? postgres_.port : pooler_port_;
    s.pg_user = user;
    s.pg_password = password;
    s.pg_db = db.empty() ? name_ : db;
    s.zabbix_host = id;
    return s;
  }
  RunSettings as_role(const std::string& tag, Path path = Path::direct, const std::string& id = "") const {
    return as(role(tag), password(tag), path, "", id);
  }
  // One run of the store as role `tag` for installation `id`.
  void store_as(const std::string& tag, const std::string& id, std::size_t count) const {
    const auto run = run_store(customers(count, id), as_role(tag, Path::direct, id));
    EXPECT_TRUE(run.ok) << run.out;
  }

  testing::Rows query(const std::string& sql) const { return testing::PgAdmin(postgres_, name_).query(sql); }
  void exec(const std::string& sql) const { testing::PgAdmin(postgres_, name_).exec(sql); }
  std::string scalar(const std::string& sql) const {
    const testing::Rows rows = query(sql);
    return rows.size() == 1 && rows[0].size() == 1 ? rows[0][0].value_or("NULL") : "not one value";
  }
  const std::string& name() const { return name_; }
  const testing::ServerAddress& postgres() const { return postgres_; }

 private:
  std::string name_;
  testing::ServerAddress postgres_;
  std::string pooler_port_;
};

bool logs_in(const RunSettings& settings) {
  try {
    store::connect(settings);
    return true;
  } catch (const store::PgError&) {
    return false;
  }
}

// Every statement of `attempts` as role `tag`, each in its own
// transaction, directly and through the pgbouncer in transaction pooling.
void expect_outcomes(const CentralDb& db, const std::string& tag, const std::vector<Attempt>& attempts) {
  for (const Path path : {Path::direct, Path::pooler}) {
    const store::PgConn conn = store::connect(db.as_role(tag, path));
    for (const Attempt& a : attempts)
      EXPECT_EQ(attempt(conn.get(), a.sql).shown(), a.expected)
          << a.sql << (path == Path::direct ? " (direct)" : " (pgbouncer)");
  }
}

// The rows of a table in a stable text, for before/after comparisons.
std::string rows_of(const CentralDb& db, const std::string& table, const std::string& columns,
                    const std::string& where = "true") {
  return db.scalar("SELECT count(*) || ':' || coalesce(md5(string_agg(concat_ws(',', " + columns +
                   "), '|' ORDER BY " + columns + ")), '') FROM " + table + " WHERE " + where);
}
const std::string kRowColumns = "ixcidentification, idcliente, razaosocial, cpfcnpj, valoratraso, timestamp";
const std::string kSummaryColumns = "ixcidentification, tipo, posicao, nome, clientes_ativos, timestamp";

TEST(CentralCommandLine, RefusesBadArgumentsAndPasswordsBeforeConnecting) {
  struct Case {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err;  // the start of standard error
  };
  const std::string pg = "cobrix-central: erro (PostgreSQL): ";
  const std::vector<Case> cases = {
      {{}, "", 2, "cobrix-central: falta o subcomando.\nuso: cobrix-central init\n"},
      {{"apagar"}, "", 2, "cobrix-central: subcomando desconhecido: 'apagar'.\nuso:"},
      {{"init", "x"}, "", 2, "cobrix-central: número de argumentos errado para init.\nuso:"},
      {{"retention", "x"}, "", 2, "cobrix-central: número de argumentos errado para retention."},
      {{"add-installation", "a"}, "p\n", 2, "cobrix-central: número de argumentos errado para add-installation."},
      {{"add-installation", "a", "A", "B"}, "p\n", 2, "cobrix-central: número de argumentos errado"},
      {{"add-reader", "r"}, "p\n", 2, "cobrix-central: número de argumentos errado para add-reader."},
      {{"remove-installation"}, "", 2, "cobrix-central: número de argumentos errado"},
      {{"add-installation", "Papel", "A"}, "p\n", 2, "cobrix-central: nome de papel inválido: 'Papel'"},
      {{"add-installation", "1a", "A"}, "p\n", 2, "cobrix-central: nome de papel inválido"},
      {{"add-installation", "a-b", "A"}, "p\n", 2, "cobrix-central: nome de papel inválido"},
      {{"add-reader", std::string(64, 'a'), "A"}, "p\n", 2, "cobrix-central: nome de papel inválido"},
      {{"add-installation", "a", "debug"}, "p\n", 2, "cobrix-central: identificação de instalação inválida"},
      {{"add-installation", "a", ".oculta"}, "p\n", 2, "cobrix-central: identificação de instalação inválida"},
      {{"add-installation", "a", ""}, "p\n", 2, "cobrix-central: identificação de instalação inválida"},
      {{"add-installation", "a", std::string(129, 'x')}, "p\n", 2, "cobrix-central: identificação"},
      {{"add-reader", "r", "A", "B/C"}, "p\n", 2, "cobrix-central: identificação de instalação inválida: 'B/C'"},
      {{"remove-installation", "A;B"}, "", 2, "cobrix-central: identificação de instalação inválida"},
      {{"add-installation", "a", "A"}, "", 2, "cobrix-central: nenhuma senha na entrada padrão.\nuso:"},
      {{"add-installation", "a", "A"}, "\nsegunda\n", 2, "cobrix-central: a senha não pode ser vazia.\nuso:"},
      {{"add-reader", "r", "A"}, "\r\n", 2, "cobrix-central: a senha não pode ser vazia."},
      // Valid at their limits: these reach the connection (here refused).
      {{"add-installation", "_" + std::string(62, 'a'), "Provedor X-1.2_b"}, "p", 1, pg},
      {{"add-reader", "r9", "A", std::string(128, 'x')}, "p\n", 1, pg},
      {{"remove-installation", "a.b"}, "", 1, pg},
      {{"init"}, "", 1, pg},
  };
  testing::RunOptions options;
  options.env = {{"PGHOST", "127.0.0.1"}, {"PGPORT", std::to_string(testing::closed_port())}};
  for (const Case& c : cases) {
    options.stdin_text = c.input;
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "cobrix-central");
    const Captured run = testing::run_program(COBRIX_CENTRAL_BIN, args, options);
    const std::string shown = ::testing::PrintToString(c.args);
    EXPECT_EQ(run.status, c.status) << shown << ": " << run.err;
    EXPECT_TRUE(run.err.starts_with(c.err)) << shown << ": " << run.err;
    EXPECT_EQ(run.out, "") << shown;
  }
}

// Today's tables, made by the store as one shared role with two
// installations' rows, move to the layout in place: init refuses until a
// superuser hands the tables to the owner (the line it prints), then keeps
// every row, and a second init changes nothing.
TEST(Central, InitMigratesSingleRoleTablesKeepingEveryRow) {
  const CentralDb db;
  const std::string shared = db.role("antigo");
  db.create_login_role(shared, db.password("antigo"), "");
  db.exec("GRANT CREATE ON SCHEMA public TO " + shared);
  for (const std::string id : {"A", "B"}) {
    const auto run = run_store(customers(id == "A" ? 30 : 20, id),
                               db.as(shared, db.password("antigo"), Path::direct, "", id));
    ASSERT_TRUE(run.ok) << run.out;
  }
  db.exec("ALTER TABLE ixc_clientes DROP COLUMN bairro");  // a table from before that column
  const std::string rows = rows_of(db, "ixc_clientes", kRowColumns);
  const std::string summaries = rows_of(db, "ixc_clientes_resumo", kSummaryColumns);
  ASSERT_EQ(rows.substr(0, 3), "50:");

  const Captured refused = db.central({"init"});
  EXPECT_EQ(refused.status, 1);
  const std::string statement = "ALTER TABLE public.ixc_clientes OWNER TO " + db.owner() +
                                "; ALTER TABLE public.ixc_clientes_resumo OWNER TO " + db.owner() + ";\n";
  EXPECT_EQ(refused.err, "cobrix-central: erro: o papel " + db.owner() + " não é dono de ixc_clientes (dono: " +
                             shared + "), ixc_clientes_resumo (dono: " + shared +
                             "). Um superusuário passa as tabelas a ele com:\n" + statement);
  db.exec(statement);
  // As when the owner made the tables and granted them to the shared role.
  db.exec("GRANT SELECT, INSERT, UPDATE, DELETE ON ixc_clientes, ixc_clientes_resumo TO " + shared);

  EXPECT_EQ(db.central_ok({"init"}),
            "Coluna 'bairro' adicionada à tabela ixc_clientes.\n"
            "Tabela ixc_clientes_acesso criada.\n"
            "Índice ixc_clientes_instalacao_idx criado.\n"
            "Índice ixc_clientes_timestamp_idx removido (substituído por ixc_clientes_instalacao_idx).\n"
            "Segurança em nível de linha ativa e políticas recriadas em ixc_clientes, ixc_clientes_resumo e "
            "ixc_clientes_acesso.\n"
            "Privilégios do papel " + shared + " revogados (não está em ixc_clientes_acesso).\n"
            "Privilégios revogados de PUBLIC e concedidos aos papéis de ixc_clientes_acesso: 0.\nOK\n");
  db.add_installation("a", "A");
  EXPECT_EQ(db.central_ok({"init"}),
            "Segurança em nível de linha ativa e políticas recriadas em ixc_clientes, ixc_clientes_resumo e "
            "ixc_clientes_acesso.\n"
            "Privilégios revogados de PUBLIC e concedidos aos papéis de ixc_clientes_acesso: 1.\nOK\n");

  EXPECT_EQ(rows_of(db, "ixc_clientes", kRowColumns), rows);
  EXPECT_EQ(rows_of(db, "ixc_clientes_resumo", kSummaryColumns), summaries);
  EXPECT_EQ(db.scalar("SELECT string_agg(relname || ':' || relrowsecurity || ':' || relforcerowsecurity || ':' || "
                      "(SELECT count(*) FROM pg_policy WHERE polrelid = c.oid) || ':' || "
                      "pg_get_userbyid(relowner), ' ' ORDER BY relname) FROM pg_class c "
                      "WHERE relname IN ('ixc_clientes', 'ixc_clientes_resumo', 'ixc_clientes_acesso')"),
            "ixc_clientes:true:true:6:" + db.owner() + " ixc_clientes_acesso:true:false:1:" + db.owner() +
                " ixc_clientes_resumo:true:true:6:" + db.owner());
  EXPECT_EQ(db.scalar("SELECT string_agg(indexrelid::regclass::text, ' ' ORDER BY indexrelid::regclass::text) FROM pg_index "
                      "WHERE indrelid = 'ixc_clientes'::regclass AND NOT indisunique"),
            "ixc_clientes_instalacao_idx");
  // The shared role keeps nothing; the writer's privileges came back.
  EXPECT_EQ(db.scalar("SELECT string_agg(DISTINCT grantee || ':' || table_name || ':' || privilege_type, ' ' "
                      "ORDER BY grantee || ':' || table_name || ':' || privilege_type) "
                      "FROM information_schema.role_table_grants WHERE grantee <> '" + db.owner() +
                      "' AND table_name LIKE 'ixc_clientes%'"),
            db.role("a") + ":ixc_clientes:DELETE " + db.role("a") + ":ixc_clientes:INSERT " + db.role("a") +
                ":ixc_clientes:SELECT " + db.role("a") + ":ixc_clientes:UPDATE " + db.role("a") +
                ":ixc_clientes_acesso:SELECT " + db.role("a") + ":ixc_clientes_resumo:DELETE " + db.role("a") +
                ":ixc_clientes_resumo:INSERT " + db.role("a") + ":ixc_clientes_resumo:SELECT " + db.role("a") +
                ":ixc_clientes_resumo:UPDATE");
}

// An installation's role, run by today's store, writes its own rows; each
// statement against another installation's rows is refused or reaches no
// row, directly and through the pgbouncer, and those rows stay as they were.
TEST(Central, InstallationRoleReachesOnlyItsOwnRows) {
  const CentralDb db;
  db.central_ok({"init"});
  db.add_installation("a", "A");
  db.add_installation("b", "B");
  db.store_as("a", "A", 30);
  db.store_as("b", "B", 20);
  const std::string b_rows = rows_of(db, "ixc_clientes", kRowColumns, "ixcidentification = 'B'");
  const std::string b_summaries = rows_of(db, "ixc_clientes_resumo", kSummaryColumns, "ixcidentification = 'B'");
  ASSERT_EQ(b_rows.substr(0, 3), "20:");

  expect_outcomes(
      db, "a",
      {
          // Its own rows: the control that makes the refusals below mean something.
          {"SELECT count(*) FROM ixc_clientes WHERE ixcidentification = 'A'", "30"},
          {"UPDATE ixc_clientes SET razaosocial = razaosocial WHERE ixcidentification = 'A'", "30"},
          {"SELECT count(*) FROM ixc_clientes_resumo WHERE ixcidentification = 'A' AND tipo = 'total'", "1"},
          {"UPDATE ixc_clientes_acesso SET ultima_execucao = now() WHERE ixcidentification = 'A'", "1"},
          // Another installation's rows.
          {"SELECT count(*) FROM ixc_clientes WHERE ixcidentification <> 'A'", "0"},
          {"SELECT count(*) FROM ixc_clientes_resumo WHERE ixcidentification <> 'A'", "0"},
          {"SELECT count(*) FROM ixc_clientes_acesso WHERE ixcidentification <> 'A'", "0"},
          {"UPDATE ixc_clientes SET razaosocial = 'x' WHERE ixcidentification = 'B'", "0"},
          {"UPDATE ixc_clientes_resumo SET nome = 'x' WHERE ixcidentification = 'B'", "0"},
          {"DELETE FROM ixc_clientes WHERE ixcidentification = 'B'", "0"},
          {"DELETE FROM ixc_clientes_resumo WHERE ixcidentification = 'B'", "0"},
          {"INSERT INTO ixc_clientes (idcliente, ixcidentification, timestamp) VALUES (999, 'B', LOCALTIMESTAMP)",
           "SQLSTATE 42501"},
          {"INSERT INTO ixc_clientes (idcliente, ixcidentification, timestamp) VALUES (1, 'B', LOCALTIMESTAMP) "
           "ON CONFLICT (idcliente, ixcidentification) DO UPDATE SET razaosocial = 'x'",
           "SQLSTATE 42501"},
          {"INSERT INTO ixc_clientes_resumo (ixcidentification, timestamp, tipo, posicao) "
           "VALUES ('B', LOCALTIMESTAMP, 'x', 0)",
           "SQLSTATE 42501"},
          {"UPDATE ixc_clientes SET ixcidentification = 'B' WHERE ixcidentification = 'A'", "SQLSTATE 42501"},
          {"UPDATE ixc_clientes_resumo SET ixcidentification = 'B' WHERE ixcidentification = 'A'",
           "SQLSTATE 42501"},
          // Its mapping, the policies and the tables themselves.
          {"UPDATE ixc_clientes_acesso SET ixcidentification = 'B'", "SQLSTATE 42501"},
          {"INSERT INTO ixc_clientes_acesso VALUES (current_user, 'B', true)", "SQLSTATE 42501"},
          {"BEGIN; SET LOCAL row_security = off; SELECT count(*) FROM ixc_clientes", "SQLSTATE 42501"},
          {"ALTER TABLE ixc_clientes NO FORCE ROW LEVEL SECURITY", "SQLSTATE 42501"},
          {"DROP POLICY cobrix_leitura ON ixc_clientes_resumo", "SQLSTATE 42501"},
          {"TRUNCATE ixc_clientes", "SQLSTATE 42501"},
      });
  EXPECT_EQ(rows_of(db, "ixc_clientes", kRowColumns, "ixcidentification = 'B'"), b_rows);
  EXPECT_EQ(rows_of(db, "ixc_clientes_resumo", kSummaryColumns, "ixcidentification = 'B'"), b_summaries);
}

// A reader sees its installations' summaries and nothing of ixc_clientes;
// a later add-reader adds installations and replaces the password. Neither
// kind of role can be taken over by the other command.
TEST(Central, ReaderSeesOnlyItsInstallationsSummaries) {
  const CentralDb db;
  db.central_ok({"init"});
  for (const auto& [tag, id] : {std::pair{"wa", "A"}, {"wb", "B"}, {"wc", "C"}}) {
    db.add_installation(tag, id);
    db.store_as(tag, id, 5);
  }
  EXPECT_EQ(db.central_ok({"add-reader", db.role("r"), "A", "C", "A"}, db.password("r") + "\n"),
            "Papel de leitura " + db.role("r") + " criado: lê os resumos de 'A', 'C'.\nOK\n");
  expect_outcomes(db, "r",
                  {
                      {"SELECT string_agg(DISTINCT ixcidentification, ',' ORDER BY ixcidentification) FROM ixc_clientes_resumo", "A,C"},
                      {"SELECT string_agg(ixcidentification || ':' || escrita, ',' ORDER BY ixcidentification) "
                       "FROM ixc_clientes_acesso",
                       "A:false,C:false"},
                      {"SELECT count(*) FROM ixc_clientes", "SQLSTATE 42501"},
                      {"INSERT INTO ixc_clientes_resumo (ixcidentification, timestamp, tipo, posicao) "
                       "VALUES ('A', LOCALTIMESTAMP, 'x', 9)",
                       "SQLSTATE 42501"},
                      {"UPDATE ixc_clientes_resumo SET nome = 'x'", "SQLSTATE 42501"},
                      {"DELETE FROM ixc_clientes_resumo", "SQLSTATE 42501"},
                      {"UPDATE ixc_clientes_acesso SET ultima_execucao = now()", "SQLSTATE 42501"},
                  });

  const std::string second = db.password("r") + " nova";
  EXPECT_EQ(db.central_ok({"add-reader", db.role("r"), "B", "C"}, second + "\n"),
            "Papel de leitura " + db.role("r") + ": senha trocada; instalações acrescentadas: 'B'.\nOK\n");
  EXPECT_FALSE(logs_in(db.as_role("r")));
  const store::PgConn conn = store::connect(db.as(db.role("r"), second, Path::pooler));
  EXPECT_EQ(attempt(conn.get(), "SELECT string_agg(DISTINCT ixcidentification, ',' ORDER BY ixcidentification) FROM ixc_clientes_resumo").shown(),
            "A,B,C");

  struct Refused {
    std::vector<std::string> args;
    std::string err;
  };
  for (const Refused& r : std::vector<Refused>{
           {{"add-reader", db.role("wa"), "A"}, "o papel " + db.role("wa") + " já existe e não é um papel de leitura"},
           {{"add-installation", db.role("r"), "A"}, "o papel " + db.role("r") + " já existe e não é o papel de gravação"},
           {{"add-installation", db.role("wa"), "B"}, "o papel " + db.role("wa") + " já existe e não é o papel de gravação"},
           {{"add-reader", db.owner(), "A"}, "o papel " + db.owner() + " já existe"},
           {{"add-installation", "postgres", "A"}, "o papel postgres já existe"},
       }) {
    const Captured run = db.central(r.args, "outra\n");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(run.err.starts_with("cobrix-central: erro: " + r.err)) << run.err;
  }
  EXPECT_TRUE(logs_in(db.as_role("wa")));  // the refusals changed no password
}

// add-installation makes a role that logs in with the password from
// standard input, which never reaches the server (its statistics, its log),
// only its SCRAM verifier; a second add-installation replaces it; and
// remove-installation drops the roles left without an installation while
// the rows stay.
TEST(Central, RolesComeAndGoWithTheirInstallationAndPasswordsStayHere) {
  const CentralDb db;
  db.exec("CREATE EXTENSION IF NOT EXISTS pg_stat_statements");
  db.exec("ALTER DATABASE " + db.name() + " SET log_statement = 'all'");
  db.central_ok({"init"});
  const std::string a = db.role("a");
  EXPECT_EQ(db.central_ok({"add-installation", a, "Provedor A"}, db.password("a") + "\nresto\n"),
            "Papel " + a + " criado: grava a instalação 'Provedor A'.\nOK\n");
  for (const Path path : {Path::direct, Path::pooler}) EXPECT_TRUE(logs_in(db.as_role("a", path)));
  db.store_as("a", "Provedor A", 10);
  EXPECT_EQ(db.scalar("SELECT rolpassword LIKE 'SCRAM-SHA-256$%' FROM pg_authid WHERE rolname = '" + a + "'"),
            "t");

  const std::string second = db.password("a") + " 2";
  EXPECT_EQ(db.central_ok({"add-installation", a, "Provedor A"}, second + "\n"),
            "Papel " + a + " (gravação da instalação 'Provedor A'): senha trocada.\nOK\n");
  EXPECT_FALSE(logs_in(db.as_role("a")));
  EXPECT_TRUE(logs_in(db.as(a, second, Path::pooler)));
  db.central_ok({"add-reader", db.role("r"), "Provedor A", "B"}, db.password("r") + "\n");
  db.central_ok({"add-reader", db.role("s"), "Provedor A"}, db.password("s") + "\n");

  EXPECT_EQ(db.central_ok({"remove-installation", "Provedor A"}),
            "Papel " + a + " removido.\nPapel " + db.role("r") +
                " mantido: ainda tem outras instalações em ixc_clientes_acesso.\nPapel " + db.role("s") +
                " removido.\nAs linhas da instalação 'Provedor A' ficam até a retenção apagá-las.\nOK\n");
  EXPECT_EQ(db.scalar("SELECT string_agg(rolname, ' ' ORDER BY rolname) FROM pg_roles WHERE rolname LIKE '" + db.name() +
                      "\\_%'"),
            db.owner() + " " + db.role("r"));
  EXPECT_EQ(db.scalar("SELECT string_agg(papel || ':' || ixcidentification, ' ') FROM ixc_clientes_acesso"),
            db.role("r") + ":B");
  EXPECT_EQ(db.scalar("SELECT count(*) FROM ixc_clientes WHERE ixcidentification = 'Provedor A'"), "10");
  EXPECT_EQ(db.central_ok({"remove-installation", "Provedor A"}),
            "Nenhum papel mapeado à instalação 'Provedor A'.\n"
            "As linhas da instalação 'Provedor A' ficam até a retenção apagá-las.\nOK\n");

  // What reached the server: the verifiers, never a password.
  const std::string log =
      testing::read_file(testing::read_env_file(std::string(std::getenv("COBRIX_TEST_SERVERS")) + "/env")["PG_DIR"] +
                         "/server.log");
  EXPECT_NE(log.find("CREATE ROLE \"" + a + "\" LOGIN PASSWORD 'SCRAM-SHA-256$"), std::string::npos);
  std::string statements;
  for (const auto& row : db.query("SELECT query FROM pg_stat_statements")) statements += row.at(0).value_or("");
  EXPECT_NE(statements.find("CREATE ROLE"), std::string::npos);
  for (const std::string& password : {db.password("a"), second, db.password("r"), db.password("s")}) {
    EXPECT_EQ(log.find(password), std::string::npos) << password;
    EXPECT_EQ(statements.find(password), std::string::npos) << password;
  }
}

// retention deletes the stale rows of every installation, an abandoned one's
// included, from both tables, and keeps the fresh ones; as the owner, under
// the policies, it reads ixc_clientes only through its installation index.
TEST(Central, RetentionDeletesStaleRowsOfEveryInstallationThroughTheIndex) {
  const CentralDb db;
  db.central_ok({"init"});
  db.add_installation("a", "A");
  db.store_as("a", "A", 30);
  // B stopped running two days ago, except for rows of its last hours; five
  // of A's rows are stale too.
  db.exec(
      "INSERT INTO ixc_clientes (idcliente, ixcidentification, timestamp) "
      "SELECT i, 'B', LOCALTIMESTAMP - INTERVAL '2 days' FROM generate_series(1, 12) i; "
      "INSERT INTO ixc_clientes (idcliente, ixcidentification, timestamp) "
      "SELECT i, 'B', LOCALTIMESTAMP - INTERVAL '23 hours' FROM generate_series(101, 104) i; "
      "UPDATE ixc_clientes SET timestamp = LOCALTIMESTAMP - INTERVAL '25 hours' "
      "WHERE ixcidentification = 'A' AND idcliente <= 5; "
      "INSERT INTO ixc_clientes_resumo (ixcidentification, timestamp, tipo, posicao) "
      "SELECT 'B', LOCALTIMESTAMP - INTERVAL '2 days', 'filial', i FROM generate_series(0, 2) i");
  const std::string summaries_a = rows_of(db, "ixc_clientes_resumo", kSummaryColumns, "ixcidentification = 'A'");

  EXPECT_EQ(db.central_ok({"retention"}),
            "Instalação 'A', linhas antigas apagadas de ixc_clientes: 5\n"
            "Instalação 'B', linhas antigas apagadas de ixc_clientes: 12\n"
            "ixc_clientes, linhas antigas apagadas: 17 (instalações verificadas: 2)\n"
            "ixc_clientes_resumo, linhas antigas apagadas: 3\nOK\n");
  EXPECT_EQ(db.scalar("SELECT string_agg(ixcidentification || ':' || n, ' ' ORDER BY ixcidentification) FROM (SELECT "
                      "ixcidentification, count(*) n FROM ixc_clientes GROUP BY 1) s"),
            "A:25 B:4");
  EXPECT_EQ(rows_of(db, "ixc_clientes_resumo", kSummaryColumns), summaries_a);

  // Beside a hundred installations' rows, the owner's two reads of
  // ixc_clientes are index scans.
  db.exec("INSERT INTO ixc_clientes (idcliente, ixcidentification, timestamp) "
          "SELECT i, 'inst_' || i % 100, LOCALTIMESTAMP - (i % 2) * INTERVAL '2 days' "
          "FROM generate_series(1, 100000) i; ANALYZE ixc_clientes");
  testing::PgAdmin owner({db.postgres().host, db.postgres().port, db.owner(), db.owner_password()}, db.name());
  owner.exec(std::string("PREPARE stale(text) AS ") + central::kInstallationDelete);
  for (const std::string& explain : {std::string("EXPLAIN (COSTS OFF) ") + central::kInstallationScan,
                                     std::string("EXPLAIN (COSTS OFF) EXECUTE stale('inst_7')")}) {
    std::string plan;
    for (const auto& row : owner.query(explain)) plan += row.at(0).value_or("") + "\n";
    EXPECT_EQ(plan.find("Seq Scan"), std::string::npos) << plan;
    EXPECT_NE(plan.find("ixc_clientes_instalacao_idx"), std::string::npos) << plan;
  }
  const std::string out = db.central_ok({"retention"});
  EXPECT_NE(out.find("\nixc_clientes, linhas antigas apagadas: 50000 (instalações verificadas: 102)\n"),
            std::string::npos)
      << out;
}

// A lock that another session holds ends the program with the server's
// lock-timeout failure, not a wait without end.
TEST(Central, LockHeldElsewhereEndsInAFailure) {
  const CentralDb db;
  db.central_ok({"init"});
  testing::PgAdmin holder(db.postgres(), db.name());
  holder.exec("BEGIN; LOCK TABLE ixc_clientes IN ACCESS EXCLUSIVE MODE");
  const Captured run = db.central({"retention"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.err.starts_with("cobrix-central: erro (PostgreSQL): ERROR:  canceling statement due to lock timeout\n"))
      << run.err;
  EXPECT_EQ(run.out, "");
  holder.exec("ROLLBACK");
}

}  // namespace
}  // namespace cobrix::central_test
