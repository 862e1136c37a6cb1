#pragma once
// Helpers for the store tests: a database of its own per test on the test
// PostgreSQL server, customer records, and running the store.

#include <string>
#include <vector>

#include "model/record.h"
#include "model/run_config.h"
#include "tests/support/test_servers.h"

namespace cobrix::store_test {

// A fresh database, dropped (WITH (FORCE)) when the object goes away.
class TestDatabase {
 public:
  explicit TestDatabase(const std::string& tag);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  const std::string& name() const { return name_; }
  const testing::ServerAddress& server() const { return server_; }
  // Run settings that point the store at this database as the superuser.
  RunSettings settings() const;
  // Runs statements / a query in this database as the superuser.
  void exec(const std::string& sql) const;
  testing::Rows query(const std::string& sql) const;
  // The single value of a one-row, one-column query ("NULL" for null).
  std::string scalar(const std::string& sql) const;

 private:
  testing::ServerAddress server_;
  std::string name_;
};

// The settings of `db` pointed at the fixture's pgbouncer instead, and at
// `database` there (by default db's own, in transaction pooling).
RunSettings through_pooler(const TestDatabase& db, const std::string& database = "");

// Runs `sql` on each server connection of the fixture's pool that `pooled`
// reaches (its database and user: a pool of 2), both held at once, each in a
// transaction of its own that ends before its client leaves (a client that
// leaves mid-transaction makes pgbouncer close the server connection).
// Returns each connection's rows.
std::vector<testing::Rows> on_each_server_connection(const RunSettings& pooled, const std::string& sql);

// Whether the fixture's pgbouncer keeps named prepared statements under
// names of its own (its console shows max_prepared_statements above 0);
// otherwise it hands them through to the server.
bool pooler_keeps_statements();

// Checks the named prepared statements on the server connections of the
// pool that `pooled` reaches: none under a client's own name (pgbouncer's
// own, PGBOUNCER_n, are its cache), and an INSERT into ixc_clientes at most
// once on each. Returns how many times those INSERTs were executed there.
long check_pool_statements(const RunSettings& pooled);

// A record as the discovery builds it, keys in their usual order.
Record customer(std::int64_t id, const std::string& ixc, const std::string& name = "Cliente");
// `count` customers with ids first_id, first_id + 1, ...
std::vector<Record> customers(std::size_t count, const std::string& ixc, std::int64_t first_id = 1);
// Replaces the value under `key`.
void set_value(Record& record, const std::string& key, Value value);

struct StoreRun {
  bool ok = false;
  std::string out;
};
StoreRun run_store(const std::vector<Record>& records, const RunSettings& settings);

// The four lines of a successful store of `count` records (no column added).
std::string normal_lines(std::size_t count);

}  // namespace cobrix::store_test
