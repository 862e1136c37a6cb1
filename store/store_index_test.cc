// The retention index: how a run finds it, what it leaves, and that a run
// never prints a line of its own for it when nothing failed. A run that
// waited for a build held by another session would hang here.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "store/retention.h"
#include "store/store_test_util.h"

namespace cobrix::store_test {
namespace {

// "valid", "invalid" or "absent".
std::string index_state(const TestDatabase& db) {
  return db.scalar(
      "SELECT coalesce((SELECT CASE WHEN i.indisvalid THEN 'valid' ELSE 'invalid' END FROM pg_index i "
      "JOIN pg_class c ON c.oid = i.indexrelid WHERE c.relname = 'ixc_clientes_timestamp_idx'), 'absent')");
}

// The concurrent build goes on in the server after the run has ended: wait
// for it, and for a state other than "valid" make sure that no build of the
// run is still on its way.
std::string settled_index_state(const TestDatabase& db, const std::string& expected) {
  for (int i = 0; i < 300 && index_state(db) != expected; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (expected != "valid") {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (db.scalar("SELECT count(*) FROM pg_stat_progress_create_index WHERE datname = current_database()") != "0")
      return "being built";
  }
  return index_state(db);
}

// An existing table of an earlier version: no retention index, and rows of
// other installations past the size up to which it is built in one plain
// transaction.
void big_table_without_index(const TestDatabase& db) {
  db.exec("DROP INDEX ixc_clientes_timestamp_idx");
  db.exec("INSERT INTO ixc_clientes (idcliente, ixcidentification, razaosocial, timestamp) "
          "SELECT g, 'outra', 'Cliente ' || g, now() FROM generate_series(1, 40000) g");
  ASSERT_GT(std::stoll(db.scalar("SELECT pg_relation_size('ixc_clientes')")), store::kQuickIndexBytes);
}

// The index as an interrupted CREATE INDEX CONCURRENTLY leaves it: in the
// catalog, not usable. The build waits for a reader's older snapshot and
// its statement timeout cancels it there.
void interrupted_build(const TestDatabase& db) {
  db.exec("DROP INDEX ixc_clientes_timestamp_idx");
  testing::PgAdmin reader(db.server(), db.name());
  reader.exec("BEGIN ISOLATION LEVEL REPEATABLE READ");
  reader.exec("SELECT count(*) FROM pg_class");
  testing::PgAdmin builder(db.server(), db.name());
  builder.exec("SET statement_timeout = '500ms'");
  EXPECT_THROW(builder.exec("CREATE INDEX CONCURRENTLY ixc_clientes_timestamp_idx ON ixc_clientes (timestamp)"),
               std::runtime_error);
  reader.exec("COMMIT");
  ASSERT_EQ(index_state(db), "invalid");
}

struct IndexCase {
  const char* name;
  // Prepares the table; may return a session that must stay open during the run.
  std::function<std::unique_ptr<testing::PgAdmin>(const TestDatabase&)> setup;
  bool pooled;
  bool least_privilege;
  const char* after;  // the index once the run and any build it started have ended
};

TEST(StoreRetentionIndex, ARunBuildsOnlyWhatItMayAndNeverWaitsOrPrintsForIt) {
  const auto none = [](const TestDatabase&) { return std::unique_ptr<testing::PgAdmin>(); };
  const auto big = [](const TestDatabase& db) {
    big_table_without_index(db);
    return std::unique_ptr<testing::PgAdmin>();
  };
  const auto interrupted = [](const TestDatabase& db) {
    interrupted_build(db);
    return std::unique_ptr<testing::PgAdmin>();
  };
  const IndexCase cases[] = {
      {"a small table without it gets it, also through a pooler",
       [](const TestDatabase& db) {
         db.exec("DROP INDEX ixc_clientes_timestamp_idx");
         return std::unique_ptr<testing::PgAdmin>();
       },
       true, false, "valid"},
      {"a big table gets it built concurrently on a direct connection", big, false, false, "valid"},
      {"a big table is left alone behind a pooler", big, true, false, "absent"},
      {"a build that another run holds the lock of is not waited for",
       [](const TestDatabase& db) {
         big_table_without_index(db);
         auto holder = std::make_unique<testing::PgAdmin>(db.server(), db.name());
         holder->exec("SELECT pg_advisory_lock(" + std::to_string(store::kIndexBuildLock) + ")");
         return holder;
       },
       false, false, "absent"},
      {"an interrupted build is dropped and built again", interrupted, false, false, "valid"},
      {"an interrupted build is not taken for done behind a pooler either", interrupted, true, false, "invalid"},
      {"a role that may not create it runs as before", none, false, true, "valid"},
      {"a role that may not create it leaves a table without it as it is",
       [](const TestDatabase& db) {
         db.exec("DROP INDEX ixc_clientes_timestamp_idx");
         return std::unique_ptr<testing::PgAdmin>();
       },
       false, true, "absent"},
  };
  for (const IndexCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TestDatabase db("index");
    ASSERT_TRUE(run_store(customers(3, "old"), db.settings()).ok);  // the owner's first run
    const auto holder = c.setup(db);
    RunSettings settings = c.pooled ? through_pooler(db) : db.settings();
    const std::string role = db.name() + "_app";
    if (c.least_privilege) {
      db.exec("CREATE ROLE " + role + " LOGIN PASSWORD 'app-pass'; GRANT SELECT, INSERT, UPDATE, DELETE ON "
              "ixc_clientes, ixc_clientes_resumo TO " + role);
      settings.pg_user = role;
      settings.pg_password = "app-pass";
    }
    const StoreRun run = run_store(customers(1500, "ixc"), settings);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(run.out, normal_lines(1500));
    EXPECT_EQ(db.scalar("SELECT count(*) FROM ixc_clientes WHERE ixcidentification = 'ixc'"), "1500");
    EXPECT_EQ(settled_index_state(db, c.after), c.after);
    if (c.least_privilege) db.exec("DROP OWNED BY " + role + "; DROP ROLE " + role);
  }
}

}  // namespace
}  // namespace cobrix::store_test
