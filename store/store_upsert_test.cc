// Paged upsert, value fidelity and retention against the test server.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "store/pg_connection.h"
#include "store/schema.h"
#include "store/store.h"
#include "store/store_test_util.h"
#include "store/upsert.h"

namespace cobrix::store_test {
namespace {

const std::string kKept = "Registros antigos mantidos: o UPSERT não foi concluído.\n";

// Logs the row count of every INSERT statement on ixc_clientes (a
// statement-level trigger fires once per statement that succeeded).
void log_insert_statements(const TestDatabase& db) {
  db.exec(R"(
    CREATE TABLE insert_log (n serial, rows int);
    CREATE FUNCTION log_insert() RETURNS trigger LANGUAGE plpgsql AS
      $$ BEGIN INSERT INTO insert_log (rows) SELECT count(*) FROM new_rows; RETURN NULL; END $$;
    CREATE TRIGGER log_insert AFTER INSERT ON ixc_clientes REFERENCING NEW TABLE AS new_rows
      FOR EACH STATEMENT EXECUTE FUNCTION log_insert();)");
}

std::string logged_statements(const TestDatabase& db) {
  return db.scalar("SELECT coalesce(string_agg(rows::text, ',' ORDER BY n), '') FROM insert_log");
}

TEST(StoreUpsert, InsertQueryIsComposedFromItsPieces) {
  EXPECT_EQ(store::insert_query(),
            "\n        INSERT INTO ixc_clientes (idcliente, idcontrato, razaosocial, cpfcnpj, contatocliente, "
            "valoratraso, titulosatraso, statuscliente, datacadastro, datavencimento, filial, cidade, bairro, "
            "tipocliente, ixcidentification, timestamp)\n        VALUES %s\n        ON CONFLICT (idcliente, "
            "ixcidentification)\n        DO UPDATE SET\n        idcontrato=EXCLUDED.idcontrato, "
            "razaosocial=EXCLUDED.razaosocial, cpfcnpj=EXCLUDED.cpfcnpj, contatocliente=EXCLUDED.contatocliente, "
            "valoratraso=EXCLUDED.valoratraso, titulosatraso=EXCLUDED.titulosatraso, "
            "statuscliente=EXCLUDED.statuscliente, datacadastro=EXCLUDED.datacadastro, "
            "datavencimento=EXCLUDED.datavencimento, filial=EXCLUDED.filial, cidade=EXCLUDED.cidade, "
            "bairro=EXCLUDED.bairro, tipocliente=EXCLUDED.tipocliente, timestamp=EXCLUDED.timestamp;\n    ");
}

TEST(StoreUpsert, PagesOfAtMostAThousandRowsOneStatementEach) {
  const TestDatabase db("upsert_pages");
  ASSERT_TRUE(run_store({}, db.settings()).ok);
  log_insert_statements(db);
  for (const auto& [count, expected] : {std::pair<std::size_t, std::string>{1000, "1000"},
                                        {1001, "1000,1"},
                                        {2500, "1000,1000,500"}}) {
    db.exec("TRUNCATE ixc_clientes, insert_log");
    const StoreRun run = run_store(customers(count, "ixc"), db.settings());
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(run.out, normal_lines(count));
    EXPECT_EQ(logged_statements(db), expected) << count;
    // One run timestamp shared by every row.
    EXPECT_EQ(db.scalar("SELECT count(*) || '/' || count(DISTINCT timestamp) FROM ixc_clientes"),
              std::to_string(count) + "/1");
  }
}

TEST(StoreUpsert, RunTimestampIsLocalTimeWithMicroseconds) {
  const DateTime a = store::get_timestamp();
  const DateTime b = store::get_timestamp();
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(a.year, local.tm_year + 1900);
  EXPECT_EQ(a.hour, local.tm_hour);
  EXPECT_TRUE(a.microsecond != 0 || b.microsecond != 0);
}

TEST(StoreUpsert, FailureInTheSecondOfThreePagesStopsAndKeepsOldRows) {
  struct Failure {
    const char* name;
    const char* setup;    // run in the database before the run
    bool same_key_twice;  // page 2 holds one customer twice
    std::string error;    // the first line of the failure
    const char* undo;     // run in the database before the next run
  };
  const Failure failures[] = {
      {"the same key twice in its statement", "", true,
       "ERROR:  ON CONFLICT DO UPDATE command cannot affect row a second time", ""},
      {"refused at its COMMIT",
       "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION 'recusado'; END $$; "
       "CREATE CONSTRAINT TRIGGER refuse AFTER INSERT ON ixc_clientes DEFERRABLE INITIALLY DEFERRED FOR EACH ROW "
       "WHEN (NEW.idcliente = 1500) EXECUTE FUNCTION refuse()",
       false, "ERROR:  recusado", "DROP TRIGGER refuse ON ixc_clientes"},
  };
  for (const Failure& f : failures) {
    for (const bool pooled : {false, true}) {  // directly, and behind the transaction pooler
      SCOPED_TRACE(std::string(f.name) + (pooled ? ", pooled" : ", direct"));
      const TestDatabase db("upsert_fail");
      ASSERT_TRUE(run_store({}, db.settings()).ok);
      db.exec("INSERT INTO ixc_clientes (idcliente, ixcidentification, timestamp) VALUES (1, 'old', now() - "
              "interval '3 days')");
      log_insert_statements(db);
      if (*f.setup) db.exec(f.setup);
      std::vector<Record> records = customers(2500, "ixc");
      if (f.same_key_twice) set_value(records[1500], "{#ID_CLIENTE}", std::int64_t{1400});
      const RunSettings route = pooled ? through_pooler(db) : db.settings();
      const StoreRun run = run_store(records, route);
      EXPECT_FALSE(run.ok);
      EXPECT_TRUE(run.out.starts_with("Conectado ao PostgreSQL com sucesso.\nEnviando 2500 registros (Clientes) com "
                                      "UPSERT...\nErro durante UPSERT em ixc_clientes: " + f.error + "\n"))
          << run.out;
      EXPECT_TRUE(run.out.ends_with("\n" + kKept)) << run.out;
      EXPECT_EQ(run.out.find("\n\n"), std::string::npos);
      EXPECT_EQ(logged_statements(db), "1000");
      EXPECT_EQ(db.scalar("SELECT min(idcliente) || '-' || max(idcliente) || ':' || count(*) FROM ixc_clientes "
                          "WHERE ixcidentification = 'ixc'"),
                "1-1000:1000");
      EXPECT_EQ(db.scalar("SELECT count(*) FROM ixc_clientes WHERE ixcidentification = 'old'"), "1");
      if (!pooled) continue;
      // Nothing left on the pool's server connections breaks the next run there.
      check_pool_statements(route);
      if (*f.undo) db.exec(f.undo);
      EXPECT_EQ(run_store(customers(2500, "ixc"), route).out, normal_lines(2500));
      EXPECT_EQ(db.scalar("SELECT count(*) FROM ixc_clientes WHERE ixcidentification = 'ixc'"), "2500");
    }
  }
}

TEST(StoreUpsert, SecondRunUpdatesInPlace) {
  const TestDatabase db("upsert_update");
  ASSERT_TRUE(run_store(customers(3, "ixc"), db.settings()).ok);
  const std::string first = db.scalar("SELECT max(timestamp) FROM ixc_clientes");
  std::vector<Record> records = customers(3, "ixc");
  set_value(records[1], "{#CONTATO_CLIENTE}", Null{});
  set_value(records[1], "{#VALOR_ATRASO}", 99.25);
  records[2].erase(records[2].begin() + 4);  // no contact key at all
  const StoreRun run = run_store(records, db.settings());
  EXPECT_TRUE(run.ok);
  EXPECT_EQ(run.out, normal_lines(3));
  EXPECT_EQ(db.scalar("SELECT string_agg(idcliente || ':' || coalesce(contatocliente, 'NULL') || ':' || "
                      "valoratraso, ',' ORDER BY idcliente) FROM ixc_clientes"),
            "1:(11) 4000-1:11.5,2:NULL:99.25,3:NULL:13.5");
  EXPECT_EQ(db.scalar("SELECT count(*) FROM ixc_clientes WHERE timestamp > '" + first + "'"), "3");
}

TEST(StoreRetention, RowsOlderThanADayGoForEveryInstallationYoungerOnesStay) {
  const TestDatabase db("retention");
  ASSERT_TRUE(run_store(customers(2, "a"), db.settings()).ok);
  ASSERT_TRUE(run_store(customers(2, "b"), db.settings()).ok);
  db.exec("UPDATE ixc_clientes SET timestamp = timestamp - interval '23 hours' WHERE ixcidentification = 'a'");
  ASSERT_TRUE(run_store(customers(2, "c"), db.settings()).ok);
  EXPECT_EQ(db.scalar("SELECT string_agg(DISTINCT ixcidentification, ',') FROM ixc_clientes"), "a,b,c");
  db.exec("UPDATE ixc_clientes SET timestamp = timestamp - interval '2 hours' WHERE ixcidentification = 'a'");
  db.exec("UPDATE ixc_clientes SET timestamp = timestamp - interval '3 days' WHERE ixcidentification = 'b' "
          "AND idcliente = 2");
  const StoreRun run = run_store(customers(1, "c"), db.settings());
  EXPECT_TRUE(run.ok);
  EXPECT_EQ(run.out, normal_lines(1));
  EXPECT_EQ(db.scalar("SELECT string_agg(ixcidentification || idcliente, ',' ORDER BY ixcidentification, idcliente) FROM ixc_clientes"),
            "b1,c1,c2");
}

TEST(StoreRetention, FailedDeleteIsReportedAndTheStoreFails) {
  const TestDatabase db("retention_fail");
  std::string sql = "CREATE TABLE ixc_clientes (";
  for (const store::Column& column : store::colunas_tabela)
    sql += std::string(column.name) + (column.name == "timestamp" ? " TEXT" : " " + std::string(column.sql_type)) + ", ";
  db.exec(sql + "UNIQUE (idcliente, ixcidentification))");
  const StoreRun run = run_store(customers(1, "ixc"), db.settings());
  EXPECT_FALSE(run.ok);
  EXPECT_TRUE(run.out.starts_with("Conectado ao PostgreSQL com sucesso.\nEnviando 1 registros (Clientes) com "
                                  "UPSERT...\nUPSERT em ixc_clientes concluído com sucesso!\nErro ao apagar "
                                  "registros antigos: ERROR:  operator does not exist: text < timestamp with time zone\n"))
      << run.out;
  EXPECT_EQ(run.out.find("\n\n"), std::string::npos);
  EXPECT_EQ(db.scalar("SELECT count(*) FROM ixc_clientes"), "1");
}

// Value fidelity holds for every way of sending pages; the pooled way goes
// through the transaction pooler.
class StoreValues : public ::testing::TestWithParam<store::PageMethod> {
 protected:
  RunSettings route(const TestDatabase& db) const {
    return GetParam() == store::PageMethod::pooled ? through_pooler(db) : db.settings();
  }
};

TEST_P(StoreValues, ValuesReachTheirColumnsUnchanged) {
  const TestDatabase db("values");
  ASSERT_TRUE(run_store({}, db.settings()).ok);
  const std::vector<std::string> texts = {"Robert'); DROP TABLE ixc_clientes;--", "O'Brien ''x''",
                                          "C:\\novo\\tab\\t \\' \\\\", "emoji 😀 ação", "$1 $$ %s \"aspas\"", ""};
  const std::vector<double> doubles = {0.1, 1e-300, 5e-324, 1.7976931348623157e308, 123456.789, -0.0, 1e22,
                                       2.675};
  std::vector<Record> records;
  for (std::size_t i = 0; i < std::max(texts.size(), doubles.size()); ++i) {
    Record r = customer(std::int64_t(i + 1), "ixc", texts[i % texts.size()]);
    set_value(r, "{#VALOR_ATRASO}", doubles[i % doubles.size()]);
    set_value(r, "{#DATA_CADASTRO}", i == 0 ? Value(Null{}) : Value(DateTime{1999, 12, 31, 23, 59, 58}));
    set_value(r, "{#TITULOS_ATRASO}", std::int64_t{-2147483648});
    records.push_back(std::move(r));
  }
  // A full first page: the prepared ways send it as their named statement.
  const std::size_t special = records.size();
  for (std::size_t id = special + 1; id <= store::kPageRows; ++id) records.push_back(customer(std::int64_t(id), "ixc"));
  const store::PgConn conn = store::connect(route(db));
  const DateTime stamp{2026, 12, 8, 10, 11, 12, 345678};
  store::upsert_pages(conn.get(), records, stamp, GetParam());
  for (std::size_t i = 0; i < special; ++i) {
    const testing::Rows rows = db.query(
        "SELECT razaosocial, float8send(valoratraso)::text, datacadastro::text, titulosatraso, timestamp::text "
        "FROM ixc_clientes WHERE idcliente = " + std::to_string(i + 1));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], texts[i % texts.size()]);
    const double d = doubles[i % doubles.size()];
    std::uint64_t bits = 0;
    std::memcpy(&bits, &d, sizeof bits);
    char hex[24];
    std::snprintf(hex, sizeof hex, "\\x%016llx", static_cast<unsigned long long>(bits));
    EXPECT_EQ(rows[0][1], std::string(hex)) << d;
    EXPECT_EQ(rows[0][2], i == 0 ? testing::Cell() : testing::Cell("1999-12-31 23:59:58"));
    EXPECT_EQ(rows[0][3], "-2147483648");
    EXPECT_EQ(rows[0][4], "2026-12-08 10:11:12.345678");
  }
}

TEST_P(StoreValues, NulByteFailsItsPageAndStoresNothingOfIt) {
  const TestDatabase db("nul");
  ASSERT_TRUE(run_store({}, db.settings()).ok);
  std::vector<Record> records = customers(1500, "ixc");
  set_value(records[1200], "{#BAIRRO}", std::string("Cen\0tro", 7));
  const store::PgConn conn = store::connect(route(db));
  try {
    store::upsert_pages(conn.get(), records, store::get_timestamp(), GetParam());
    ADD_FAILURE() << "no error";
  } catch (const store::PgError& e) {
    EXPECT_STREQ(e.what(),
                 "o valor da coluna bairro contém um byte NUL, que o PostgreSQL não aceita em texto; a página não "
                 "foi enviada.");
  }
  EXPECT_EQ(db.scalar("SELECT count(*) || ':' || max(idcliente) FROM ixc_clientes"), "1000:1000");
  if (GetParam() != store::PageMethod::pooled) return;
  // Nothing left on the pool's server connections breaks the next run there.
  check_pool_statements(route(db));
  EXPECT_EQ(run_store(customers(2500, "ixc"), route(db)).out, normal_lines(2500));
}

INSTANTIATE_TEST_SUITE_P(AllWays, StoreValues,
                         ::testing::Values(store::PageMethod::bound, store::PageMethod::prepared,
                                           store::PageMethod::pooled),
                         [](const auto& info) {
                           switch (info.param) {
                             case store::PageMethod::bound: return "bound";
                             case store::PageMethod::prepared: return "prepared";
                             case store::PageMethod::pooled: return "pooled";
                           }
                           return "";
                         });

TEST(StoreUpsert, NulByteThroughTheStoreGivesTheUpsertErrorLine) {
  const TestDatabase db("nul_store");
  std::vector<Record> records = customers(2, "ixc");
  set_value(records[1], "{#RAZAO_SOCIAL}", std::string("a\0b", 3));
  const StoreRun run = run_store(records, db.settings());
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.out, "Conectado ao PostgreSQL com sucesso.\nEnviando 2 registros (Clientes) com UPSERT...\n"
                     "Erro durante UPSERT em ixc_clientes: o valor da coluna razaosocial contém um byte NUL, que o "
                     "PostgreSQL não aceita em texto; a página não foi enviada.\n" + kKept);
  EXPECT_EQ(db.scalar("SELECT count(*) FROM ixc_clientes"), "0");
}

TEST(StoreConcurrency, InstallationsStartingTogetherOnAnEmptyDatabaseAllSucceed) {
  constexpr int kRuns = 8;
  for (int attempt = 0; attempt < 4; ++attempt) {  // the catalog race is timing-dependent
    const TestDatabase db("concurrent");
    const RunSettings settings = db.settings();
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kRuns; ++i) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(gate[1]);
        char byte;
        (void)!::read(gate[0], &byte, 1);  // returns when the parent closes the gate
        std::ostringstream out;
        try {  // the child must never return into the test runner
          if (sendPostgresClientes(customers(1200, "ixc" + std::to_string(i)), settings, out) &&
              out.str() == normal_lines(1200))
            ::_exit(0);
        } catch (const std::exception& e) {
          out << "exception: " << e.what();
        }
        std::fprintf(stderr, "run %d:\n%s", i, out.str().c_str());
        ::_exit(1);
      }
      children.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (const pid_t pid : children) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(db.scalar("SELECT count(DISTINCT ixcidentification) || ':' || count(*) FROM ixc_clientes"),
              std::to_string(kRuns) + ":" + std::to_string(kRuns * 1200));
    EXPECT_EQ(db.scalar("SELECT indisvalid FROM pg_index WHERE indexrelid = 'ixc_clientes_timestamp_idx'::regclass"),
              "t");
  }
}

}  // namespace
}  // namespace cobrix::store_test
