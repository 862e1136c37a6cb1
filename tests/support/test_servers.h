#pragma once
// Access to the throwaway MariaDB and PostgreSQL servers that the test
// fixture starts (tests/servers/start.sh), for tests that need real servers.

#include <map>
#include <optional>
#include <string>
#include <vector>

struct st_mysql;
struct pg_conn;

namespace cobrix::testing {

struct ServerAddress {
  std::string host;
  std::string port;
  std::string user;
  std::string password;
};

struct TestServers {
  ServerAddress mariadb;
  ServerAddress postgres;
  // The pgbouncer in front of `postgres`: same host, user and password.
  // Transaction pooling with a pool of 2 for every database, session pooling
  // for the database kSessionPoolDatabase.
  ServerAddress pooler;
};

inline constexpr const char* kSessionPoolDatabase = "pooler_session";

// The servers of this test run, read from $COBRIX_TEST_SERVERS/env. Fails
// the calling test (ADD_FAILURE) and returns nullopt when they are not up.
std::optional<TestServers> test_servers();

// The NAME=VALUE lines of a fixture's env file (tests/servers/*.sh); empty
// when the file cannot be read.
std::map<std::string, std::string> read_env_file(const std::string& path);

// Runs the mariadb client through the shell against `server`, as its user,
// with `arguments` (options, a database, a redirection) after the
// connection's own. The password reaches the client in its environment
// (MYSQL_PWD), never on a command line that other users could read. Returns
// std::system's status.
int mariadb_client(const ServerAddress& server, const std::string& arguments);

// A cell of a query result: nullopt for SQL NULL.
using Cell = std::optional<std::string>;
using Rows = std::vector<std::vector<Cell>>;

// A MariaDB session for setting up test data. Throws std::runtime_error with
// the server's message on any failure.
class MariaAdmin {
 public:
  explicit MariaAdmin(const ServerAddress& server, const std::string& database = "");
  ~MariaAdmin();
  MariaAdmin(const MariaAdmin&) = delete;
  MariaAdmin& operator=(const MariaAdmin&) = delete;

  // Runs one or more ';'-separated statements, discarding any results.
  void exec(const std::string& sql);
  Rows query(const std::string& sql);

 private:
  ::st_mysql* mysql_;
};

// A PostgreSQL session for checking what the store wrote. Throws
// std::runtime_error with the server's message on any failure.
class PgAdmin {
 public:
  explicit PgAdmin(const ServerAddress& server, const std::string& database = "postgres");
  ~PgAdmin();
  PgAdmin(const PgAdmin&) = delete;
  PgAdmin& operator=(const PgAdmin&) = delete;

  void exec(const std::string& sql);
  Rows query(const std::string& sql);

 private:
  ::pg_conn* conn_;
};

// A database name unique to this test process and `tag`.
std::string unique_database_name(const std::string& tag);

}  // namespace cobrix::testing
