#pragma once
// What the end-to-end tests of the normal run share: the sample IXC
// database as a run's source, and the lines that a normal run prints.

#include <cstddef>
#include <string>

#include "tests/support/process_runner.h"
#include "tests/support/test_servers.h"

namespace cobrix::testing {

// Creates the database `database` on `mariadb` and loads the sample IXC
// database (sample/ixc_sample.sql) into it. Throws std::runtime_error when
// either fails.
void create_sample_ixc(const ServerAddress& mariadb, const std::string& database);

// The output of a normal run that stores `count` records into a table that
// already has all its columns: five lines, the last "OK".
std::string normal_run_output(std::size_t count);

// Where a run writes: empty fields take the test server's own values.
struct PgLogin {
  std::string port = {};
  std::string user = {};
  std::string password = {};
};

// An installation to run `program` (the built cobrix) for: the sample IXC
// database in MariaDB and an empty PostgreSQL database, both dropped at the
// end. Throws std::runtime_error when the test servers are not up.
class Installation {
 public:
  explicit Installation(std::string program);
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  // A normal (or, for "debug", a debug) run for `zabbix_host`, into this
  // installation's PostgreSQL database as `login`.
  Captured run(const std::string& zabbix_host, const PgLogin& login = {}, const RunOptions& options = {}) const;
  // The same run through the fixture's pgbouncer (transaction pooling).
  Captured run_through_pooler(const std::string& zabbix_host, PgLogin login = {}) const;
  // Statements and queries in the PostgreSQL database, as the superuser.
  Rows pg(const std::string& sql) const;
  std::string pg_value(const std::string& sql) const;
  Rows ixc(const std::string& sql) const;
  const ServerAddress& postgres() const { return pg_; }
  const std::string& pooler_port() const { return pooler_port_; }
  const std::string& pg_database() const { return pg_db_; }

 private:
  std::string program_;
  ServerAddress maria_;
  ServerAddress pg_;
  std::string pooler_port_;
  std::string ixc_;
  std::string pg_db_;
};

}  // namespace cobrix::testing
