// The normal run end to end through the built program: the sample IXC
// database into an empty PostgreSQL database, its five lines, the stored
// rows, a failing store, and several installations at once.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/normal_run.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_servers.h"

namespace cobrix {
namespace {

using testing::Captured;
using testing::MariaAdmin;
using testing::PgAdmin;
using testing::ServerAddress;

// The customer ids of the debug report, in report order.
std::vector<std::string> reported_ids(const std::string& report) {
  std::vector<std::string> ids;
  std::istringstream lines(report);
  const std::string head = "{'{#ID_CLIENTE}': ";
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with(head)) ids.push_back(line.substr(head.size(), line.find(',') - head.size()));
  return ids;
}

TEST(NormalRun, SampleIntoAnEmptyDatabaseThenASecondRun) {
  const testing::Installation site(COBRIX_BIN);
  const Captured debug = site.run("debug");
  ASSERT_EQ(debug.status, 0) << debug.err;
  std::vector<std::string> ids = reported_ids(debug.out);
  ASSERT_GE(ids.size(), 40u);

  // The run timestamp is the machine's local time: in a zone three hours
  // off UTC (and off the server's zone) a UTC clock would show.
  testing::RunOptions sao_paulo;
  sao_paulo.env["TZ"] = "America/Sao_Paulo";
  const Captured first = site.run("zbx-e2e", {}, sao_paulo);
  EXPECT_EQ(first.out, testing::normal_run_output(ids.size()));
  EXPECT_EQ(first.err, "");
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(site.pg_value("SELECT bool_and(abs(extract(epoch FROM timestamp - (now() AT TIME ZONE "
                          "'America/Sao_Paulo'))) < 300)::text FROM ixc_clientes"),
            "true");

  // One row per reported customer, all with this installation and one run time.
  std::vector<std::string> stored;
  for (const auto& row : site.pg("SELECT idcliente FROM ixc_clientes ORDER BY idcliente")) stored.push_back(*row[0]);
  std::sort(ids.begin(), ids.end(), [](const auto& a, const auto& b) { return std::stol(a) < std::stol(b); });
  EXPECT_EQ(stored, ids);
  EXPECT_EQ(site.pg_value("SELECT count(DISTINCT timestamp) || ':' || string_agg(DISTINCT ixcidentification, ',') "
                          "FROM ixc_clientes"),
            "1:zbx-e2e");

  // Texts arrive byte for byte as the IXC database holds them.
  for (const auto& row : site.ixc("SELECT id, razao, bairro FROM cliente WHERE id IN (215, 216, 217, 218, 219)")) {
    const testing::Rows pg = site.pg("SELECT razaosocial, bairro FROM ixc_clientes WHERE idcliente = " + *row[0]);
    ASSERT_EQ(pg.size(), 1u) << *row[0];
    EXPECT_EQ(pg[0][0], row[1]);
    EXPECT_EQ(pg[0][1], row[2]);
  }
  // Null and empty contact, null sign-up date, inactive status, exact amounts.
  EXPECT_EQ(site.pg_value("SELECT string_agg(idcliente || '=' || coalesce(contatocliente, 'NULL'), ',' ORDER BY "
                          "idcliente) FROM ixc_clientes WHERE idcliente IN (201, 202)"),
            "201=NULL,202=NULL");
  EXPECT_EQ(site.pg_value("SELECT coalesce(datacadastro::text, 'NULL') FROM ixc_clientes WHERE idcliente = 208"),
            "NULL");
  EXPECT_EQ(site.pg_value("SELECT statuscliente || ':' || (valoratraso = 10.01::float8) FROM ixc_clientes WHERE "
                          "idcliente = 223"),
            "0:true");
  EXPECT_EQ(site.pg_value("SELECT string_agg((valoratraso = CASE idcliente WHEN 216 THEN 210.25::float8 ELSE "
                          "0.01::float8 END)::text, ',') FROM ixc_clientes WHERE idcliente IN (216, 218)"),
            "true,true");

  const std::string first_time = site.pg_value("SELECT max(timestamp) FROM ixc_clientes");
  const Captured second = site.run("zbx-e2e");  // the table exists now: the server sends a notice
  EXPECT_EQ(second.out, testing::normal_run_output(ids.size()));
  EXPECT_EQ(second.err, "");
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(site.pg_value("SELECT count(*) || ':' || bool_and(timestamp > '" + first_time + "') FROM ixc_clientes"),
            std::to_string(ids.size()) + ":true");
}

TEST(NormalRun, FailedStoreEndsWithoutOKAndWithStatusOne) {
  const testing::Installation site(COBRIX_BIN);
  const Captured refused = site.run("zbx-e2e", {.password = "wrong-password"});
  EXPECT_TRUE(refused.out.starts_with("Erro ao conectar ao PostgreSQL: ")) << refused.out;
  EXPECT_EQ(std::count(refused.out.begin(), refused.out.end(), '\n'), 1) << refused.out;
  EXPECT_EQ(refused.err, "");
  EXPECT_EQ(refused.status, 1);

  // A table without the unique key: the upsert fails, old rows stay.
  site.pg("CREATE TABLE ixc_clientes (idcliente INT, ixcidentification TEXT, timestamp TIMESTAMP); "
          "INSERT INTO ixc_clientes VALUES (1, 'old', now() - interval '3 days')");
  const Captured failed = site.run("zbx-e2e");
  EXPECT_NE(failed.out.find("\nErro durante UPSERT em ixc_clientes: "), std::string::npos) << failed.out;
  EXPECT_TRUE(failed.out.ends_with("\nRegistros antigos mantidos: o UPSERT não foi concluído.\n")) << failed.out;
  EXPECT_EQ(failed.err, "");
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(site.pg_value("SELECT string_agg(ixcidentification, ',') FROM ixc_clientes"), "old");

  // A role that may neither create the table nor use it: the table is
  // complete, so the run goes on to the upsert, which the server refuses.
  const std::string role = testing::unique_database_name("blind");
  site.pg("CREATE ROLE " + role + " LOGIN PASSWORD 'blind-pass'");
  const Captured blind = site.run("zbx-e2e", {.user = role, .password = "blind-pass"});
  site.pg("DROP ROLE " + role);
  EXPECT_NE(blind.out.find("\nErro durante UPSERT em ixc_clientes: ERROR:  "), std::string::npos) << blind.out;
  EXPECT_EQ(blind.err, "");
  EXPECT_EQ(blind.status, 1);
  EXPECT_EQ(site.pg_value("SELECT string_agg(ixcidentification, ',') FROM ixc_clientes"), "old");
}

TEST(NormalRun, LeastPrivilegeRoleEndsWithOK) {
  // The owner's run creates the tables; a role holding only the four table
  // privileges (PostgreSQL 15's public schema gives it no CREATE) then runs.
  const testing::Installation site(COBRIX_BIN);
  ASSERT_EQ(site.run("owner").status, 0);
  const std::string role = testing::unique_database_name("least");
  site.pg("INSERT INTO ixc_clientes (idcliente, ixcidentification, timestamp) VALUES (1, 'stale', now() - "
          "interval '2 days'); CREATE ROLE " + role + " LOGIN PASSWORD 'least-pass'; "
          "GRANT SELECT, INSERT, UPDATE, DELETE ON ixc_clientes, ixc_clientes_resumo TO " + role);
  const Captured run = site.run("zbx-least", {.user = role, .password = "least-pass"});
  site.pg("DROP OWNED BY " + role + "; DROP ROLE " + role);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, site.run("owner").out);  // the normal five lines
  EXPECT_EQ(site.pg_value("SELECT (count(*) FILTER (WHERE ixcidentification = 'zbx-least') = count(*) FILTER (WHERE "
                          "ixcidentification = 'owner'))::text || ':' || count(*) FILTER (WHERE ixcidentification = "
                          "'stale') FROM ixc_clientes"),
            "true:0");
}

TEST(NormalRun, SeveralInstallationsStartedAtOnceAllEndWithOK) {
  // Five directly, then six through a transaction pooler whose pool of two
  // server connections they share: every run stores the direct run's rows.
  const testing::Installation site(COBRIX_BIN);
  constexpr int kDirect = 5;
  constexpr int kPooled = 6;
  std::vector<Captured> results(kDirect + kPooled);
  for (const bool pooled : {false, true}) {
    std::vector<std::thread> runs;
    for (int i = pooled ? kDirect : 0; i < (pooled ? kDirect + kPooled : kDirect); ++i)
      runs.emplace_back([&, i, pooled] {
        const std::string host = "zbx-" + std::to_string(i);
        results[i] = pooled ? site.run_through_pooler(host) : site.run(host);
      });
    for (std::thread& t : runs) t.join();
  }
  for (const Captured& result : results) {
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, results[0].out);
    EXPECT_TRUE(result.out.ends_with("\nOK\n")) << result.out;
  }
  std::set<std::string> digests;
  for (const auto& row : site.pg("SELECT md5(string_agg(concat_ws('|', idcliente, idcontrato, razaosocial, cpfcnpj, "
                                 "contatocliente, float8send(valoratraso), titulosatraso, statuscliente, datacadastro, "
                                 "datavencimento, filial, cidade, bairro, tipocliente), E'\\n' ORDER BY idcliente)) "
                                 "FROM ixc_clientes GROUP BY ixcidentification"))
    digests.insert(*row[0]);
  EXPECT_EQ(site.pg_value("SELECT count(DISTINCT ixcidentification) FROM ixc_clientes"),
            std::to_string(kDirect + kPooled));
  EXPECT_EQ(digests.size(), 1u);  // every installation stored the same customers with the same values
}

}  // namespace
}  // namespace cobrix
