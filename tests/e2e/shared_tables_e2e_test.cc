// Many installations writing one central database: each role reaches only
// its own installation's rows (row-level security, set up by cobrix-central),
// none can make another's run wait without end, and a run whose clock is far
// from the server's writes nothing.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/normal_run.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_servers.h"

namespace cobrix {
namespace {

using testing::Captured;
using testing::Installation;
using testing::PgAdmin;
using testing::PgLogin;

// Rows of two other installations, one stale (three days old) and one fresh,
// written as the superuser.
void other_installations_rows(const Installation& site) {
  site.pg("INSERT INTO ixc_clientes (idcliente, ixcidentification, razaosocial, timestamp) VALUES "
          "(1, 'outra-velha', 'X', LOCALTIMESTAMP - interval '3 days'), "
          "(1, 'outra-nova', 'Y', LOCALTIMESTAMP - interval '1 hour')");
}

#ifdef COBRIX_CENTRAL_BIN
// The isolated layout in `site`'s database as an operator sets it up: an
// owner role (CREATEROLE, not a superuser) that owns the database runs
// cobrix-central init, then one writer role per installation.
class Central {
 public:
  explicit Central(const Installation& site)
      : site_(site), owner_(testing::unique_database_name("dono")), password_(owner_ + "-senha") {
    site.pg("CREATE ROLE " + owner_ + " LOGIN CREATEROLE PASSWORD '" + password_ + "'");
    site.pg("ALTER DATABASE " + site.pg_database() + " OWNER TO " + owner_);
    expect_ok(run({"init"}));
  }
  ~Central() {
    try {
      site_.pg("DROP DATABASE IF EXISTS " + site_.pg_database() + " WITH (FORCE)");
      for (const std::string& role : roles_) site_.pg("DROP ROLE IF EXISTS " + role);
      site_.pg("DROP ROLE IF EXISTS " + owner_);
    } catch (...) {
    }
  }

  // A writer role for installation `id`; returns its login.
  PgLogin add_installation(const std::string& id) {
    const std::string role = owner_ + "_" + std::to_string(roles_.size());
    roles_.push_back(role);
    expect_ok(run({"add-installation", role, id}, role + "-senha\n"));
    return {.user = role, .password = role + "-senha"};
  }

 private:
  Captured run(const std::vector<std::string>& args, const std::string& input = {}) const {
    testing::RunOptions options;
    options.env = {{"PGHOST", site_.postgres().host}, {"PGPORT", site_.postgres().port}, {"PGUSER", owner_},
                   {"PGPASSWORD", password_},        {"PGDATABASE", site_.pg_database()}};
    options.stdin_text = input;
    std::vector<std::string> argv{"cobrix-central"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testing::run_program(COBRIX_CENTRAL_BIN, argv, options);
  }
  static void expect_ok(const Captured& run) { ASSERT_EQ(run.status, 0) << run.out << run.err; }

  const Installation& site_;
  const std::string owner_;
  const std::string password_;
  std::vector<std::string> roles_;
};

// Installations prov-a and prov-b in the isolated layout, each with its own
// role; prov-b has run once.
class Isolated : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(site.run("prov-b", b).status, 0); }
  std::string b_rows() const {
    return site.pg_value("SELECT count(*) FROM ixc_clientes WHERE ixcidentification = 'prov-b'");
  }

  const Installation site{COBRIX_BIN};
  Central central{site};
  const PgLogin a = central.add_installation("prov-a");
  const PgLogin b = central.add_installation("prov-b");
};

TEST_F(Isolated, EachRunReachesItsOwnInstallationOnly) {
  const std::string b_summary = site.pg_value("SELECT max(timestamp) FROM ixc_clientes_resumo");
  // A stale row (three days old) of each.
  site.pg("INSERT INTO ixc_clientes (idcliente, ixcidentification, timestamp) VALUES "
          "(900001, 'prov-a', LOCALTIMESTAMP - interval '3 days'), (900001, 'prov-b', LOCALTIMESTAMP - interval "
          "'3 days')");
  const std::string b_before = b_rows();

  // A's run, directly and through the pooler: its rows and summary, its own
  // stale row deleted; b's rows, stale one included, and summary untouched.
  for (const bool pooled : {false, true}) {
    const Captured run = pooled ? site.run_through_pooler("prov-a", a) : site.run("prov-a", a);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(run.out.ends_with("\nOK\n")) << run.out;
    EXPECT_EQ(site.pg_value("SELECT count(*) FROM ixc_clientes WHERE ixcidentification = 'prov-a' AND "
                            "idcliente = 900001"),
              "0");
    EXPECT_EQ(b_rows(), b_before);
    EXPECT_EQ(site.pg_value("SELECT max(timestamp) FROM ixc_clientes_resumo WHERE ixcidentification = 'prov-b'"),
              b_summary);
    EXPECT_EQ(site.pg_value("SELECT count(*) > 0 FROM ixc_clientes_resumo WHERE ixcidentification = 'prov-a'"), "t");
  }

  // A's role writing as b: refused before anything is sent.
  const std::string before = site.pg_value("SELECT count(*) || ':' || max(timestamp) FROM ixc_clientes");
  const Captured forged = site.run("prov-b", a);
  EXPECT_EQ(forged.status, 1);
  EXPECT_EQ(forged.out, "Conectado ao PostgreSQL com sucesso.\n");
  EXPECT_TRUE(forged.err.starts_with("cobrix: erro (PostgreSQL): o papel '" + a.user +
                                     "' não grava a instalação 'prov-b'"))
      << forged.err;
  EXPECT_EQ(site.pg_value("SELECT count(*) || ':' || max(timestamp) FROM ixc_clientes"), before);
}

// A holds every lock its role may take on the shared tables, in an open
// transaction, and keeps it; b's run, directly and through the pooler,
// still ends within 30 s: with OK, or failing on its lock timeout with
// nothing lost.
TEST_F(Isolated, NoInstallationCanStallAnother) {
  const std::string b_before = b_rows();
  for (const bool pooled : {false, true}) {
    const testing::ServerAddress as_a{site.postgres().host, pooled ? site.pooler_port() : site.postgres().port,
                                      a.user, a.password};
    PgAdmin holder(as_a, site.pg_database());
    holder.exec("BEGIN");
    holder.exec("LOCK TABLE ixc_clientes, ixc_clientes_resumo IN ACCESS EXCLUSIVE MODE");
    holder.exec("UPDATE ixc_clientes_acesso SET ultima_execucao = now()");
    const auto start = std::chrono::steady_clock::now();
    const Captured run = pooled ? site.run_through_pooler("prov-b", b) : site.run("prov-b", b);
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    holder.exec("ROLLBACK");
    EXPECT_LT(seconds, 30) << (pooled ? "pooled" : "direct");
    const bool ok = run.status == 0 && run.out.ends_with("\nOK\n");
    const bool timed_out = run.status == 1 && (run.out + run.err).find("lock timeout") != std::string::npos;
    EXPECT_TRUE(ok || timed_out) << run.out << run.err;
    EXPECT_EQ(b_rows(), b_before);
  }
}
#endif

TEST(SharedTables, ClockFarFromTheServersWritesAndDeletesNothing) {
  const Installation site(COBRIX_BIN);
  ASSERT_EQ(site.run("relogio").status, 0);
  other_installations_rows(site);
  const std::string before = site.pg_value("SELECT count(*) || ':' || max(timestamp) FROM ixc_clientes");
  for (const char* offset : {"-2d", "+2d"}) {
    // The program's clock two days off, the server's untouched.
    testing::RunOptions options;
    options.env["FAKETIME"] = offset;
    options.env["LD_PRELOAD"] = FAKETIME_LIBRARY;
    const char* asan = std::getenv("ASAN_OPTIONS");
    options.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
    const Captured run = site.run("relogio", {}, options);
    EXPECT_EQ(run.status, 1) << offset;
    EXPECT_EQ(run.out, "Conectado ao PostgreSQL com sucesso.\n") << offset;
    EXPECT_TRUE(run.err.starts_with("cobrix: erro (relógio): esta máquina marca ")) << run.err;
    EXPECT_NE(run.err.find("nada foi gravado nem apagado"), std::string::npos) << run.err;
    EXPECT_EQ(site.pg_value("SELECT count(*) || ':' || max(timestamp) FROM ixc_clientes"), before) << offset;
  }
}

}  // namespace
}  // namespace cobrix
