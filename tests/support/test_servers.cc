#include "tests/support/test_servers.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <mysql.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>

namespace cobrix::testing {

std::map<std::string, std::string> read_env_file(const std::string& path) {
  std::map<std::string, std::string> env;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (const auto eq = line.find('='); eq != std::string::npos) env[line.substr(0, eq)] = line.substr(eq + 1);
  return env;
}

int mariadb_client(const ServerAddress& server, const std::string& arguments) {
  const std::string command =
      "mariadb --no-defaults -h" + server.host + " -P" + server.port + " -u" + server.user + " " + arguments;
  ::setenv("MYSQL_PWD", server.password.c_str(), 1);
  const int status = std::system(command.c_str());
  ::unsetenv("MYSQL_PWD");
  return status;
}

std::optional<TestServers> test_servers() {
  const char* dir = std::getenv("COBRIX_TEST_SERVERS");
  std::map<std::string, std::string> env;
  if (dir) env = read_env_file(std::string(dir) + "/env");
  if (!env.count("MARIADB_PORT") || !env.count("PG_PORT") || !env.count("PGBOUNCER_PORT")) {
    ADD_FAILURE() << "test servers are not running (COBRIX_TEST_SERVERS=" << (dir ? dir : "") << ")";
    return std::nullopt;
  }
  return TestServers{{env["MARIADB_HOST"], env["MARIADB_PORT"], env["MARIADB_USER"], env["MARIADB_PASSWORD"]},
                     {env["PG_HOST"], env["PG_PORT"], env["PG_USER"], env["PG_PASSWORD"]},
                     {env["PG_HOST"], env["PGBOUNCER_PORT"], env["PG_USER"], env["PG_PASSWORD"]}};
}

std::string unique_database_name(const std::string& tag) {
  static std::atomic<int> counter{0};
  return "t_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

MariaAdmin::MariaAdmin(const ServerAddress& server, const std::string& database) : mysql_(mysql_init(nullptr)) {
  if (!mysql_real_connect(mysql_, server.host.c_str(), server.user.c_str(), server.password.c_str(),
                          database.empty() ? nullptr : database.c_str(), std::stoi(server.port), nullptr,
                          CLIENT_MULTI_STATEMENTS)) {
    const std::string message = mysql_error(mysql_);
    mysql_close(mysql_);
    throw std::runtime_error("MariaDB connect: " + message);
  }
  mysql_set_character_set(mysql_, "utf8mb4");
}

MariaAdmin::~MariaAdmin() { mysql_close(mysql_); }

void MariaAdmin::exec(const std::string& sql) {
  if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0)
    throw std::runtime_error("MariaDB: " + std::string(mysql_error(mysql_)));
  do {
    if (MYSQL_RES* res = mysql_store_result(mysql_)) mysql_free_result(res);
    if (mysql_errno(mysql_) != 0) throw std::runtime_error("MariaDB: " + std::string(mysql_error(mysql_)));
  } while (mysql_next_result(mysql_) == 0);
  if (mysql_errno(mysql_) != 0) throw std::runtime_error("MariaDB: " + std::string(mysql_error(mysql_)));
}

Rows MariaAdmin::query(const std::string& sql) {
  if (mysql_real_query(mysql_, sql.data(), sql.size()) != 0)
    throw std::runtime_error("MariaDB: " + std::string(mysql_error(mysql_)));
  MYSQL_RES* res = mysql_store_result(mysql_);
  if (!res) throw std::runtime_error("MariaDB: no result: " + std::string(mysql_error(mysql_)));
  Rows rows;
  const unsigned fields = mysql_num_fields(res);
  while (MYSQL_ROW row = mysql_fetch_row(res)) {
    const unsigned long* lengths = mysql_fetch_lengths(res);
    auto& out = rows.emplace_back();
    for (unsigned i = 0; i < fields; ++i)
      out.push_back(row[i] ? Cell(std::string(row[i], lengths[i])) : std::nullopt);
  }
  mysql_free_result(res);
  return rows;
}

PgAdmin::PgAdmin(const ServerAddress& server, const std::string& database) {
  const char* keys[] = {"host", "port", "user", "password", "dbname", nullptr};
  const char* values[] = {server.host.c_str(), server.port.c_str(), server.user.c_str(), server.password.c_str(),
                          database.c_str(), nullptr};
  conn_ = PQconnectdbParams(keys, values, 0);
  if (PQstatus(conn_) != CONNECTION_OK) {
    const std::string message = PQerrorMessage(conn_);
    PQfinish(conn_);
    throw std::runtime_error("PostgreSQL connect: " + message);
  }
  PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
}

PgAdmin::~PgAdmin() { PQfinish(conn_); }

void PgAdmin::exec(const std::string& sql) { query(sql); }

Rows PgAdmin::query(const std::string& sql) {
  PGresult* res = PQexec(conn_, sql.c_str());
  const auto status = PQresultStatus(res);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    const std::string message = PQerrorMessage(conn_);
    PQclear(res);
    throw std::runtime_error("PostgreSQL: " + message);
  }
  Rows rows;
  for (int r = 0; r < PQntuples(res); ++r) {
    auto& out = rows.emplace_back();
    for (int c = 0; c < PQnfields(res); ++c)
      out.push_back(PQgetisnull(res, r, c) ? std::nullopt : Cell(std::string(PQgetvalue(res, r, c), PQgetlength(res, r, c))));
  }
  PQclear(res);
  return rows;
}

}  // namespace cobrix::testing
