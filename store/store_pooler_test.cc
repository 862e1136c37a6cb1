// The store behind the test fixture's pgbouncer: transaction pooling with a
// pool of 2 server connections shared with other busy clients, and session
// pooling. Every run must store exactly what a direct run stores.

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "store/pg_connection.h"
#include "store/retention.h"
#include "store/store_test_util.h"

namespace cobrix::store_test {
namespace {

// Records of `count` customers with texts that need quoting, nulls and
// exact doubles, so that a value bound to the wrong place shows.
std::vector<Record> varied(std::size_t count, const std::string& ixc) {
  std::vector<Record> records = customers(count, ixc);
  for (std::size_t i = 0; i < count; ++i) {
    Record& r = records[i];
    if (i % 7 == 0) set_value(r, "{#CONTATO_CLIENTE}", Null{});
    if (i % 5 == 0) set_value(r, "{#RAZAO_SOCIAL}", "D'Ávila \\ \"Filhos\" nº " + std::to_string(i));
    if (i % 3 == 0) set_value(r, "{#VALOR_ATRASO}", 0.1 * double(i) + 1e-9);
    if (i % 11 == 0) set_value(r, "{#DATA_CADASTRO}", Null{});
  }
  return records;
}

// A digest of one installation's rows, every column but the identification
// and the run timestamp, in customer order, after the number of run
// timestamps they carry.
std::string rows_query(const std::string& ixc) {
  return "SELECT count(DISTINCT timestamp) || ':' || md5(string_agg(concat_ws('|', idcliente, idcontrato, razaosocial, "
      "cpfcnpj, coalesce(contatocliente, '<null>'), float8send(valoratraso), titulosatraso, statuscliente, "
      "coalesce(datacadastro::text, '<null>'), datavencimento, filial, cidade, bairro, tipocliente), E'\\n' ORDER BY "
      "idcliente)) FROM ixc_clientes WHERE ixcidentification = '" + ixc + "'";
}

std::string rows_of(const TestDatabase& db, const std::string& ixc) { return db.scalar(rows_query(ixc)); }

// A client of the pool that keeps its server connections busy with short
// autocommit statements, leaves an unnamed statement of its own behind on
// them, and checks that no named prepared statement under a client's own
// name is ever left there (pgbouncer's own, PGBOUNCER_n, are its cache).
class BusyClient {
 public:
  explicit BusyClient(const RunSettings& settings) : settings_(settings), thread_([this] { loop(); }) {}
  ~BusyClient() {
    stop_ = true;
    thread_.join();
  }
  int rounds() const { return rounds_; }
  const std::string& problem() const { return problem_; }

 private:
  void loop() {
    try {
      const store::PgConn conn = store::connect(settings_);
      const char* one[] = {"1"};
      while (!stop_) {
        store::check(conn.get(), PQprepare(conn.get(), "", "SELECT $1::int, $2::text", 2, nullptr));
        store::check(conn.get(), PQexecParams(conn.get(), "SELECT $1::int", 1, nullptr, one, nullptr, nullptr, 0));
        const store::PgResult named =
            store::exec(conn.get(), "SELECT string_agg(name, ',') FROM pg_prepared_statements "
                                    "WHERE name NOT LIKE 'PGBOUNCER\\_%'");
        if (!PQgetisnull(named.get(), 0, 0)) problem_ = "named statements left: " + std::string(PQgetvalue(named.get(), 0, 0));
        ++rounds_;
      }
    } catch (const std::exception& e) {
      problem_ = e.what();
    }
  }

  const RunSettings settings_;
  std::atomic<bool> stop_ = false;
  std::atomic<int> rounds_ = 0;
  std::string problem_;
  std::thread thread_;
};

TEST(StorePooler, OnlyADirectConnectionOwnsItsServerSession) {
  const TestDatabase db("pooler_owns");
  const store::PgConn direct = store::connect(db.settings());
  EXPECT_TRUE(store::table_state(direct.get()).owns_session);
  const store::PgConn pooled = store::connect(through_pooler(db));
  EXPECT_FALSE(store::table_state(pooled.get()).owns_session);
  const store::PgConn session = store::connect(through_pooler(db, testing::kSessionPoolDatabase));
  EXPECT_FALSE(store::table_state(session.get()).owns_session);
}

TEST(StorePooler, ConcurrentInstallationsThroughATransactionPoolerStoreWhatADirectRunStores) {
  constexpr std::size_t kRows = 2500;  // three pages: 1000, 1000, 500
  constexpr int kInstallations = 6;
  constexpr int kRounds = 3;
  const TestDatabase db("pooler_tx");
  const StoreRun direct = run_store(varied(kRows, "direct"), db.settings());
  ASSERT_TRUE(direct.ok) << direct.out;
  const std::string expected = rows_of(db, "direct");
  ASSERT_EQ(expected.substr(0, 2), "1:");

  const RunSettings pooled = through_pooler(db);
  std::vector<std::vector<Record>> records;
  for (int i = 0; i < kInstallations; ++i) records.push_back(varied(kRows, "pooled-" + std::to_string(i)));
  BusyClient a(pooled), b(pooled), c(pooled);
  for (int round = 0; round < kRounds; ++round) {
    std::vector<StoreRun> runs(kInstallations);
    std::vector<std::thread> threads;
    for (int i = 0; i < kInstallations; ++i)
      threads.emplace_back([&, i] { runs[i] = run_store(records[i], pooled); });
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < kInstallations; ++i) {
      EXPECT_TRUE(runs[i].ok) << "round " << round << ", installation " << i << ":\n" << runs[i].out;
      EXPECT_EQ(runs[i].out, normal_lines(kRows)) << "round " << round << ", installation " << i;
      EXPECT_EQ(rows_of(db, "pooled-" + std::to_string(i)), expected) << "round " << round << ", installation " << i;
    }
  }
  for (const BusyClient* client : {&a, &b, &c}) {
    EXPECT_EQ(client->problem(), "");
    EXPECT_GT(client->rounds(), 0);
  }
  EXPECT_EQ(db.scalar("SELECT count(*) FROM ixc_clientes"), std::to_string(kRows * (kInstallations + 1)));
  // Two full pages a run: behind a pooler that keeps named statements, the
  // page statement parsed at most once per server connection served them all.
  EXPECT_EQ(check_pool_statements(pooled), pooler_keeps_statements() ? 2 * kInstallations * kRounds : 0);
}

// What a server connection of the pool may hold, or the database may lack,
// costs a run its speed at most: the rows are a direct run's.
TEST(StorePooler, WhatTheServerConnectionsHoldNeverFailsARun) {
  constexpr std::size_t kRows = 2500;
  struct Case {
    const char* name;
    const char* database;           // run in the database first
    const char* server_connection;  // left on each server connection of the pool
  };
  for (const Case& c : {Case{"a statement of the page statement's name, left by another client", "",
                             "PREPARE cobrix_page AS SELECT 1"},
                        Case{"no PL/pgSQL", "DROP EXTENSION plpgsql", ""}}) {
    SCOPED_TRACE(c.name);
    const TestDatabase db("pooler_held");
    ASSERT_TRUE(run_store(varied(kRows, "direct"), db.settings()).ok);
    if (*c.database) db.exec(c.database);
    const RunSettings pooled = through_pooler(db);
    if (*c.server_connection) on_each_server_connection(pooled, c.server_connection);
    for (const char* ixc : {"pooled-1", "pooled-2"}) {
      const StoreRun run = run_store(varied(kRows, ixc), pooled);
      EXPECT_TRUE(run.ok) << run.out;
      EXPECT_EQ(run.out, normal_lines(kRows));
      EXPECT_EQ(rows_of(db, ixc), rows_of(db, "direct"));
    }
  }
}

TEST(StorePooler, SessionPoolerStoresWhatADirectRunStores) {
  constexpr std::size_t kRows = 1500;
  const TestDatabase db("pooler_session_ref");
  ASSERT_TRUE(run_store(varied(kRows, "direct"), db.settings()).ok);

  // The session pool's database is shared by test processes: a name of this
  // process's own keeps the rows apart.
  const std::string ixc = testing::unique_database_name("session");
  const StoreRun run = run_store(varied(kRows, ixc), through_pooler(db, testing::kSessionPoolDatabase));
  EXPECT_TRUE(run.ok) << run.out;
  EXPECT_EQ(run.out, normal_lines(kRows));
  testing::PgAdmin session(db.server(), testing::kSessionPoolDatabase);
  EXPECT_EQ(session.query(rows_query(ixc)).at(0).at(0).value_or(""), rows_of(db, "direct"));
  session.exec("DELETE FROM ixc_clientes WHERE ixcidentification = '" + ixc + "'");
  // Session pooling hands named statements through: the run deallocated its own.
  EXPECT_EQ(check_pool_statements(through_pooler(db, testing::kSessionPoolDatabase)), 0);
}

}  // namespace
}  // namespace cobrix::store_test
