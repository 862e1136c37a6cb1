// The normal run against a primary and its streaming standby
// (tests/servers/start-pair.sh), both in the host entry, the standby first:
// the run writes to the primary; with the primary stopped it writes nothing
// and does not end in OK; once the standby is promoted it writes there. The
// test stops and promotes the pair, so it needs a freshly started one.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <thread>

#include "tests/support/normal_run.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_servers.h"

namespace cobrix {
namespace {

using testing::Captured;
using testing::ServerAddress;

struct Pair {
  ServerAddress primary;
  ServerAddress standby;  // same port, user and password
  int primary_pid = 0;
};

// The pair of this test run, read from $COBRIX_FAILOVER_PAIR/env.
Pair failover_pair() {
  const char* dir = std::getenv("COBRIX_FAILOVER_PAIR");
  auto env = testing::read_env_file(std::string(dir ? dir : "") + "/env");
  if (!env.count("PAIR_PRIMARY_PID") || !env.count("PAIR_PORT"))
    throw std::runtime_error("the primary and standby are not running (COBRIX_FAILOVER_PAIR)");
  const ServerAddress primary{env["PAIR_PRIMARY_HOST"], env["PAIR_PORT"], env["PAIR_USER"], env["PAIR_PASSWORD"]};
  ServerAddress standby = primary;
  standby.host = env["PAIR_STANDBY_HOST"];
  return {primary, standby, std::stoi(env["PAIR_PRIMARY_PID"])};
}

// True once `done` holds, false when it still does not after 30 s; a throw
// counts as not yet (a database that the standby has not replayed so far).
bool eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 300; ++i) {
    try {
      if (done()) return true;
    } catch (const std::exception&) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

TEST(Failover, RunWritesToWhicheverHostIsThePrimary) {
  const auto servers = testing::test_servers();
  ASSERT_TRUE(servers);
  const Pair pair = failover_pair();
  const ServerAddress& maria = servers->mariadb;
  const std::string ixc = testing::unique_database_name("failover_ixc");
  testing::create_sample_ixc(maria, ixc);
  const std::string db = testing::unique_database_name("failover_pg");
  testing::PgAdmin(pair.primary).exec("CREATE DATABASE " + db);

  const auto run = [&](const std::string& hosts) {
    return testing::run_program(COBRIX_BIN, {"cobrix", "descobertaClientes", maria.host, maria.port, maria.user,
                                             maria.password, ixc, hosts, pair.primary.port, db, pair.primary.user,
                                             pair.primary.password, "zbx-failover"});
  };
  const auto value = [&](const ServerAddress& server, const std::string& sql) {
    return testing::PgAdmin(server, db).query(sql).at(0).at(0).value_or("NULL");
  };
  const std::string summary = "SELECT count(*) || ' ' || max(timestamp) FROM ixc_clientes";

  ASSERT_TRUE(eventually([&] { return value(pair.standby, "SELECT 1") == "1"; })) << "no database on the standby";

  // One host is taken as ever: libpq connects to the standby, whose first
  // write is then refused.
  const Captured standby_alone = run(pair.standby.host);
  EXPECT_TRUE(standby_alone.out.starts_with("Conectado ao PostgreSQL com sucesso.\n")) << standby_alone.out;
  EXPECT_EQ(standby_alone.out.find("OK\n"), std::string::npos) << standby_alone.out;

  // Both, the standby first: the run writes to the primary, which streams
  // the rows to the standby.
  const std::string hosts = pair.standby.host + "," + pair.primary.host;
  const Captured first = run(hosts);
  ASSERT_EQ(first.status, 0) << first.out << first.err;
  const std::string count = value(pair.primary, "SELECT count(*) FROM ixc_clientes");
  ASSERT_GE(std::stoi(count), 40);
  EXPECT_EQ(first.out, testing::normal_run_output(std::stoul(count)));
  EXPECT_EQ(first.err, "");
  const std::string first_rows = value(pair.primary, summary);
  const std::string first_time = value(pair.primary, "SELECT max(timestamp) FROM ixc_clientes");
  EXPECT_TRUE(eventually([&] { return value(pair.standby, summary) == first_rows; })) << "not replicated";

  // The primary stops: the standby refuses to be the writer and the primary
  // refuses the connection, one line each after the connection line.
  ASSERT_EQ(::kill(pair.primary_pid, SIGINT), 0);  // fast shutdown
  ASSERT_TRUE(eventually([&] { return !testing::process_exists(pair.primary_pid); }));
  const Captured none = run(hosts);
  const auto at = [&](const ServerAddress& server) {
    return "connection to server at \"" + server.host + "\", port " + server.port + " failed: ";
  };
  EXPECT_TRUE(none.out.starts_with("Erro ao conectar ao PostgreSQL: " + at(pair.standby) +
                                   "session is read-only\n" + at(pair.primary) + "Connection refused\n"))
      << none.out;
  EXPECT_EQ(none.out.find("OK\n"), std::string::npos) << none.out;
  EXPECT_EQ(none.err, "");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(value(pair.standby, summary), first_rows);

  // The standby is promoted: the next run stores every row there anew.
  EXPECT_EQ(value(pair.standby, "SELECT pg_promote()::text"), "true");  // waits until it is out of recovery
  const Captured promoted = run(hosts);
  EXPECT_EQ(promoted.out, testing::normal_run_output(std::stoul(count)));
  EXPECT_EQ(promoted.err, "");
  EXPECT_EQ(promoted.status, 0);
  EXPECT_EQ(value(pair.standby, "SELECT count(*) || ' ' || count(DISTINCT timestamp) || ' ' || "
                                "bool_and(timestamp > '" + first_time + "') FROM ixc_clientes"),
            count + " 1 true");

  testing::MariaAdmin(maria).exec("DROP DATABASE " + ixc);
}

}  // namespace
}  // namespace cobrix
