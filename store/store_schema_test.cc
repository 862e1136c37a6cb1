// Connection, table creation and column migration against the test server.

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "store/pg_connection.h"
#include "store/schema.h"
#include "store/store.h"
#include "store/store_test_util.h"
#include "tests/support/process_runner.h"

namespace cobrix::store_test {
namespace {

const std::string kConnected = "Conectado ao PostgreSQL com sucesso.\n";

// Column names and types in table order.
std::string columns_of(const TestDatabase& db, const std::string& schema = "public") {
  std::string text;
  for (const auto& row : db.query("SELECT column_name, data_type FROM information_schema.columns "
                                  "WHERE table_name = 'ixc_clientes' AND table_schema = '" +
                                  schema + "' ORDER BY ordinal_position"))
    text += *row[0] + " " + *row[1] + "\n";
  return text;
}

// Every column but `missing`, with or without the unique key.
std::string table_without(const std::vector<std::string>& missing, bool with_key) {
  std::string sql = "CREATE TABLE ixc_clientes (";
  bool first = true;
  for (const store::Column& column : store::colunas_tabela) {
    if (std::find(missing.begin(), missing.end(), column.name) != missing.end()) continue;
    sql += (first ? "" : ", ") + std::string(column.name) + " " + std::string(column.sql_type);
    first = false;
  }
  return sql + (with_key ? ", UNIQUE (idcliente, ixcidentification))" : ")");
}

TEST(StoreSchema, StatementTextsAreExact) {
  EXPECT_EQ(store::create_table_statement(),
            "\n        CREATE TABLE IF NOT EXISTS ixc_clientes (\n            idcliente INT, idcontrato INT, "
            "razaosocial TEXT, cpfcnpj TEXT, contatocliente TEXT, valoratraso DOUBLE PRECISION, titulosatraso "
            "INT, statuscliente INT, datacadastro TIMESTAMP, datavencimento TIMESTAMP, filial TEXT, cidade TEXT, "
            "bairro TEXT, tipocliente TEXT, ixcidentification TEXT, timestamp TIMESTAMP,\n            UNIQUE "
            "(idcliente, ixcidentification)\n        );\n    ");
  EXPECT_STREQ(store::kColumnQuery,
               "\n        SELECT column_name \n        FROM information_schema.columns \n        WHERE "
               "table_name='ixc_clientes';\n    ");
  EXPECT_EQ(store::add_column_statement(store::colunas_tabela.back()),
            "ALTER TABLE ixc_clientes ADD COLUMN timestamp TIMESTAMP;");
}

TEST(StoreSchema, EmptyDatabaseGetsAllColumnsAndTheKeyAndNoColumnLines) {
  const TestDatabase db("schema_empty");
  const StoreRun run = run_store({}, db.settings());
  EXPECT_TRUE(run.ok);
  EXPECT_EQ(run.out, normal_lines(0));
  EXPECT_EQ(columns_of(db),
            "idcliente integer\nidcontrato integer\nrazaosocial text\ncpfcnpj text\ncontatocliente text\n"
            "valoratraso double precision\ntitulosatraso integer\nstatuscliente integer\n"
            "datacadastro timestamp without time zone\ndatavencimento timestamp without time zone\n"
            "filial text\ncidade text\nbairro text\ntipocliente text\nixcidentification text\n"
            "timestamp timestamp without time zone\n");
  // One constraint, the unique key over exactly the two key columns.
  EXPECT_EQ(db.scalar("SELECT string_agg(c.contype::text || ':' || pg_get_constraintdef(c.oid), ';') "
                      "FROM pg_constraint c WHERE c.conrelid = 'ixc_clientes'::regclass"),
            "u:UNIQUE (idcliente, ixcidentification)");
  // Besides the key's own index, only the retention index, usable.
  EXPECT_EQ(db.scalar("SELECT string_agg(c.relname || ':' || i.indisvalid || ':' || pg_get_indexdef(i.indexrelid), "
                      "';' ORDER BY c.relname) FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid "
                      "WHERE i.indrelid = 'ixc_clientes'::regclass AND NOT i.indisunique"),
            "ixc_clientes_timestamp_idx:true:CREATE INDEX ixc_clientes_timestamp_idx ON public.ixc_clientes USING "
            "btree (\"timestamp\")");
  EXPECT_EQ(db.scalar("SELECT count(*) FROM pg_index WHERE indrelid = 'ixc_clientes'::regclass"), "2");
}

TEST(StoreSchema, MissingColumnsAreAddedInMapOrder) {
  const TestDatabase db("schema_missing");
  db.exec(table_without({"timestamp", "bairro"}, true));
  const StoreRun run = run_store(customers(3, "ixc"), db.settings());
  EXPECT_TRUE(run.ok);
  EXPECT_EQ(run.out, kConnected +
                         "Coluna 'bairro' adicionada à tabela ixc_clientes.\n"
                         "Coluna 'timestamp' adicionada à tabela ixc_clientes.\n" +
                         normal_lines(3).substr(kConnected.size()));
  EXPECT_TRUE(columns_of(db).ends_with("bairro text\ntimestamp timestamp without time zone\n"));
  EXPECT_EQ(db.scalar("SELECT count(*) FROM ixc_clientes WHERE bairro = 'Centro' AND timestamp IS NOT NULL"), "3");
}

TEST(StoreSchema, AddedKeyColumnWithoutUniqueKeyFailsTheUpsertAndKeepsOldRows) {
  const TestDatabase db("schema_nokey");
  db.exec(table_without({"idcliente"}, false));
  db.exec("INSERT INTO ixc_clientes (ixcidentification, timestamp) VALUES ('old', now() - interval '3 days')");
  const StoreRun run = run_store(customers(2, "ixc"), db.settings());
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.out, kConnected +
                         "Coluna 'idcliente' adicionada à tabela ixc_clientes.\n"
                         "Enviando 2 registros (Clientes) com UPSERT...\n"
                         "Erro durante UPSERT em ixc_clientes: ERROR:  there is no unique or exclusion constraint "
                         "matching the ON CONFLICT specification\n"
                         "Registros antigos mantidos: o UPSERT não foi concluído.\n");
  EXPECT_TRUE(columns_of(db).ends_with("idcliente integer\n"));
  EXPECT_EQ(db.scalar("SELECT count(*) FROM pg_constraint WHERE conrelid = 'ixc_clientes'::regclass"), "0");
  EXPECT_EQ(db.scalar("SELECT string_agg(ixcidentification, ',') FROM ixc_clientes"), "old");
}

TEST(StoreSchema, ExistingColumnOfAnotherTypeIsLeftAlone) {
  const TestDatabase db("schema_type");
  db.exec(table_without({"statuscliente"}, true) + "; ALTER TABLE ixc_clientes ADD COLUMN statuscliente TEXT");
  const StoreRun run = run_store(customers(1, "ixc"), db.settings());
  EXPECT_TRUE(run.ok);
  EXPECT_EQ(run.out, normal_lines(1));
  EXPECT_EQ(db.scalar("SELECT data_type FROM information_schema.columns WHERE table_name = 'ixc_clientes' AND "
                      "column_name = 'statuscliente'"),
            "text");
  EXPECT_EQ(db.scalar("SELECT statuscliente FROM ixc_clientes"), "1");
}

TEST(StoreSchema, ColumnOfSameNamedTableInAnotherSchemaCountsAsPresent) {
  const TestDatabase db("schema_other");
  db.exec("CREATE SCHEMA other; CREATE TABLE other.ixc_clientes (bairro TEXT); " +
          table_without({"bairro"}, true));
  const StoreRun run = run_store(customers(1, "ixc"), db.settings());
  EXPECT_FALSE(run.ok);  // the working table still lacks bairro, so its upsert fails
  EXPECT_EQ(run.out.find("Coluna"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Erro durante UPSERT em ixc_clientes: ERROR:  column \"bairro\" of relation "
                         "\"ixc_clientes\" does not exist"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(columns_of(db).find("bairro"), std::string::npos);
}

TEST(StoreSchema, RefusedAlterIsReportedAndTheOtherColumnsAreStillTried) {
  const TestDatabase db("schema_priv");
  const std::string role = db.name() + "_writer";
  db.exec(table_without({"bairro", "timestamp"}, true));
  db.exec("CREATE ROLE " + role + " LOGIN PASSWORD 'writer-pass'; GRANT CREATE, USAGE ON SCHEMA public TO " + role +
          "; GRANT SELECT, INSERT, UPDATE, DELETE ON ixc_clientes TO " + role);
  RunSettings settings = db.settings();
  settings.pg_user = role;
  settings.pg_password = "writer-pass";
  const StoreRun run = run_store(customers(1, "ixc"), settings);
  db.exec("DROP OWNED BY " + role + "; DROP ROLE " + role);  // after the run: roles are cluster-wide
  EXPECT_FALSE(run.ok);
  EXPECT_TRUE(run.out.starts_with(kConnected +
                                  "Erro ao adicionar coluna 'bairro': ERROR:  must be owner of table ixc_clientes\n"
                                  "Erro ao adicionar coluna 'timestamp': ERROR:  must be owner of table "
                                  "ixc_clientes\nEnviando 1 registros"))
      << run.out;
}

TEST(StoreSchema, LeastPrivilegeRoleWritesTheTablesThatTheirOwnerCreated) {
  // PostgreSQL 15's default schema gives other roles no CREATE: the role
  // that the store uses holds exactly the four table privileges. Without
  // them on the summary table (or without that table: its owner has not
  // run this version yet) the rows are stored, the run says that the
  // summary was not, and it still ends well.
  const TestDatabase db("schema_least");
  const std::string role = db.name() + "_app";
  ASSERT_TRUE(run_store(customers(2, "owner"), db.settings()).ok);  // the owner's run creates the tables
  db.exec("CREATE ROLE " + role + " LOGIN PASSWORD 'app-pass'; GRANT SELECT, INSERT, UPDATE, DELETE ON ixc_clientes TO " +
          role);
  RunSettings settings = db.settings();
  settings.pg_user = role;
  settings.pg_password = "app-pass";
  const std::string refused = "Erro ao gravar o resumo em ixc_clientes_resumo: ERROR:  ";
  struct Step {
    const char* owner_does;
    std::string summary_line;  // empty: the normal lines, the summary written
  };
  const Step steps[] = {
      {"DROP TABLE ixc_clientes_resumo", refused + "relation \"ixc_clientes_resumo\" does not exist\n"},
      {"", refused + "permission denied for table ixc_clientes_resumo\n"},
      {"GRANT SELECT, INSERT, UPDATE, DELETE ON ixc_clientes_resumo TO ", ""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.owner_does);
    if (std::string(step.owner_does).starts_with("GRANT")) db.exec(step.owner_does + role);
    else if (*step.owner_does) db.exec(step.owner_does);
    else ASSERT_TRUE(run_store(customers(2, "owner"), db.settings()).ok);  // creates the summary table again
    db.exec("INSERT INTO ixc_clientes (idcliente, ixcidentification, timestamp) VALUES (9, 'gone', now() - interval "
            "'3 days')");
    const std::string summary_before =
        step.summary_line.empty() ? db.scalar("SELECT max(timestamp)::text FROM ixc_clientes_resumo") : "";
    const StoreRun run = run_store(customers(1200, "app"), settings);
    EXPECT_TRUE(run.ok) << run.out;
    const std::string lines = normal_lines(1200);
    const std::size_t retention_line = lines.find("Registros antigos");
    if (step.summary_line.empty()) {
      EXPECT_EQ(run.out, lines);
      EXPECT_EQ(db.scalar("SELECT (max(timestamp) > '" + summary_before + "' AND sum(clientes_ativos) FILTER "
                          "(WHERE tipo = 'total') = 1200)::text FROM ixc_clientes_resumo"),
                "true");
    } else {
      EXPECT_TRUE(run.out.starts_with(lines.substr(0, retention_line) + step.summary_line)) << run.out;
      EXPECT_TRUE(run.out.ends_with("\n" + lines.substr(retention_line))) << run.out;
    }
    EXPECT_EQ(db.scalar("SELECT count(*) FILTER (WHERE ixcidentification = 'app') || ':' || count(*) FILTER (WHERE "
                        "ixcidentification = 'gone') FROM ixc_clientes"),
              "1200:0");
  }

  // A column that the owner dropped since: its own guarded line, as for any
  // refused addition, and the upsert then fails on the missing column.
  db.exec("ALTER TABLE ixc_clientes DROP COLUMN bairro");
  const StoreRun without_bairro = run_store(customers(1, "app"), settings);
  db.exec("DROP OWNED BY " + role + "; DROP ROLE " + role);
  EXPECT_FALSE(without_bairro.ok);
  EXPECT_TRUE(without_bairro.out.starts_with(
      kConnected + "Erro ao adicionar coluna 'bairro': ERROR:  must be owner of table ixc_clientes\nEnviando 1 "))
      << without_bairro.out;
}

TEST(StoreSchema, ColumnSpelledWithCapitalsIsNotTheColumn) {
  // A quoted "Bairro" is another column than bairro: the server's names are
  // compared as they are, so bairro is still added and written.
  const TestDatabase db("schema_caps");
  db.exec(table_without({"bairro"}, true));
  db.exec("ALTER TABLE ixc_clientes ADD COLUMN \"Bairro\" TEXT");
  const StoreRun run = run_store(customers(3, "ixc"), db.settings());
  EXPECT_TRUE(run.ok) << run.out;
  EXPECT_TRUE(run.out.starts_with(kConnected + "Coluna 'bairro' adicionada à tabela ixc_clientes.\nEnviando 3 "))
      << run.out;
  EXPECT_EQ(db.scalar("SELECT count(bairro) || ':' || count(\"Bairro\") FROM ixc_clientes"), "3:0");
}

TEST(StoreSchema, RefusedCreationStatementWithoutAVisibleTableIsAnUnhandledFailure) {
  // No table at all, then a table on which the role holds no privilege:
  // either way there is nothing that this role could write into.
  const TestDatabase db("schema_nocreate");
  const std::string role = db.name() + "_reader";
  db.exec("CREATE ROLE " + role + " LOGIN PASSWORD 'reader-pass'");
  RunSettings settings = db.settings();
  settings.pg_user = role;
  settings.pg_password = "reader-pass";
  for (const bool table_exists : {false, true}) {
    if (table_exists) db.exec(table_without({}, true));
    std::string what;
    std::string out;
    try {
      out = run_store({}, settings).out;
    } catch (const store::PgError& e) {
      what = e.what();
      EXPECT_EQ(e.kind(), "PostgreSQL");
    }
    EXPECT_TRUE(what.starts_with("ERROR:  permission denied for schema public\n")) << table_exists << ": " << what;
    EXPECT_EQ(out, "") << table_exists;
  }
  db.exec("DROP ROLE " + role);
}

TEST(StoreConnection, WrongPasswordClosedPortAndMissingDatabaseGiveOnlyTheConnectionLine) {
  const TestDatabase db("conn");
  RunSettings wrong_password = db.settings();
  wrong_password.pg_password = "not-the-password";
  RunSettings closed = db.settings();
  closed.postgres_port = std::to_string(testing::closed_port());
  RunSettings missing_db = db.settings();
  missing_db.pg_db = db.name() + "_missing";
  for (const RunSettings& settings : {wrong_password, closed, missing_db}) {
    const StoreRun run = run_store(customers(1, "ixc"), settings);
    EXPECT_FALSE(run.ok);
    EXPECT_TRUE(run.out.starts_with("Erro ao conectar ao PostgreSQL: connection to server at \"127.0.0.1\""))
        << run.out;
    EXPECT_TRUE(run.out.ends_with("\n") && !run.out.ends_with("\n\n")) << run.out;
    EXPECT_EQ(run.out.find("Conectado"), std::string::npos);
  }
  EXPECT_EQ(db.scalar("SELECT count(*) FROM pg_tables WHERE tablename = 'ixc_clientes'"), "0");
}

TEST(StoreConnection, ErrorTextsKeepTheirLinesAndEndWithOneLineFeed) {
  EXPECT_EQ(store::as_line("ERROR:  x\nDETAIL:  y\n\n"), "ERROR:  x\nDETAIL:  y\n");
  EXPECT_EQ(store::as_line("plain"), "plain\n");
}

TEST(StoreConnection, RollbackRequestOnALostConnectionThrows) {
  const TestDatabase db("conn_lost");
  const store::PgConn conn = store::connect(db.settings());
  db.exec("SELECT pg_terminate_backend(" + std::to_string(PQbackendPID(conn.get())) + ")");
  EXPECT_THROW(store::exec(conn.get(), "SELECT 1"), store::PgError);
  EXPECT_THROW(store::request_rollback(conn.get()), store::PgError);
}

TEST(StoreConnection, NoticesNeverReachTheStandardStreams) {
  const TestDatabase db("conn_notice");
  const RunSettings settings = db.settings();
  const auto store_once = [&] {
    return testing::capture_forked([&] {
      return sendPostgresClientes(customers(2, "ixc"), settings, std::cout) ? 0 : 1;
    });
  };
  const testing::Captured first = store_once();
  const testing::Captured second = store_once();  // table exists: the server sends a notice
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out, normal_lines(2));
  EXPECT_EQ(second.err, "");
}

}  // namespace
}  // namespace cobrix::store_test
