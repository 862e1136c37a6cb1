// Verified TLS end to end through the built program, against servers that
// accept only TLS and a MariaDB without TLS (tests/servers/tls.sh), and the
// plain ones of the test fixture: the MySQL/MariaDB settings from the client
// option files, the PostgreSQL ones from libpq's environment, each refusal
// as one failure line with nothing stored, and a run through the Zabbix
// wrapper whose per-host file carries both. The same cases hold with the
// client libraries of Debian 12 and 13: where their texts differ, a refusal
// is checked by what the operator gets (its kind, its number, a reason).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <stdexcept>
#include <vector>

#include "tests/support/normal_run.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_servers.h"

namespace cobrix {
namespace {

using testing::Captured;
using testing::PgAdmin;
using testing::RunOptions;
using testing::ServerAddress;

// The servers of tests/servers/tls.sh, read from $COBRIX_TLS_SERVERS/env.
struct TlsServers {
  ServerAddress mariadb;
  ServerAddress postgres;
  ServerAddress mariadb_without_tls;  // started with TLS off: offers none
  std::string other_host;  // the same servers under a name that their certificate lacks
  std::string ca;          // the CA of their certificate
  std::string other_ca;    // a CA that signed nothing of theirs
  std::string fingerprint; // SHA-1 of their certificate, as Connector/C's ssl-fp takes it
};

TlsServers tls_servers() {
  const char* dir = std::getenv("COBRIX_TLS_SERVERS");
  auto env = testing::read_env_file(std::string(dir ? dir : "") + "/env");
  if (!env.count("TLS_MARIADB_PID") || !env.count("TLS_NOTLS_MARIADB_PID") || !env.count("TLS_PG_PID"))
    throw std::runtime_error("the TLS servers are not running (COBRIX_TLS_SERVERS)");
  return {{env["TLS_HOST"], env["TLS_MARIADB_PORT"], env["TLS_MARIADB_USER"], env["TLS_MARIADB_PASSWORD"]},
          {env["TLS_HOST"], env["TLS_PG_PORT"], env["TLS_PG_USER"], env["TLS_PG_PASSWORD"]},
          {env["TLS_HOST"], env["TLS_NOTLS_MARIADB_PORT"], env["TLS_MARIADB_USER"], env["TLS_MARIADB_PASSWORD"]},
          env["TLS_OTHER_HOST"], env["TLS_CA"], env["TLS_OTHER_CA"], env["TLS_SERVER_FP"]};
}

void write_file(const std::string& path, const std::vector<std::string>& lines, mode_t mode = 0640) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path);
  for (const std::string& line : lines) out << line << '\n';
  out.close();
  ::chmod(path.c_str(), mode);
}

// `text` with every {NAME} of `values` replaced.
std::string filled(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& [name, value] : values)
    for (std::size_t at; (at = text.find("{" + name + "}")) != std::string::npos;)
      text.replace(at, name.size() + 2, value);
  return text;
}

// The sample IXC database on the TLS MariaDB, the one without TLS and the
// plain one, and an empty PostgreSQL database on the TLS PostgreSQL and on
// the plain one; all dropped at the end. The mariadb client loads the first
// two, saying whether to use TLS: the clients of MariaDB 11.4 and later
// would otherwise refuse the server without it.
class Sites {
 public:
  Sites() : tls_(tls_servers()) {
    const auto servers = testing::test_servers();
    if (!servers) throw std::runtime_error("no test servers");
    plain_maria_ = servers->mariadb;
    plain_pg_ = servers->postgres;
    ixc_ = testing::unique_database_name("tls_ixc");
    pg_db_ = testing::unique_database_name("tls_pg");
    testing::create_sample_ixc(plain_maria_, ixc_);
    for (const auto& [server, tls] : {std::pair{tls_.mariadb, "--ssl --ssl-ca=" + tls_.ca},
                                      std::pair{tls_.mariadb_without_tls, std::string("--skip-ssl")}}) {
      mariadb(server, tls, "-e 'CREATE DATABASE " + ixc_ + " CHARACTER SET utf8mb4'");
      mariadb(server, tls, "--default-character-set=utf8mb4 " + ixc_ + " < " + COBRIX_SOURCE_DIR +
                               "/sample/ixc_sample.sql");
    }
    PgAdmin(tls_.postgres).exec("CREATE DATABASE " + pg_db_);
    PgAdmin(plain_pg_).exec("CREATE DATABASE " + pg_db_);
    work_ = "/tmp/cobrix-" + testing::unique_database_name("tls");
    std::filesystem::create_directories(work_);
  }
  ~Sites() {
    try {
      std::filesystem::remove_all(work_);
      mariadb(tls_.mariadb, "--ssl --ssl-ca=" + tls_.ca, "-e 'DROP DATABASE IF EXISTS " + ixc_ + "'");
      mariadb(tls_.mariadb_without_tls, "--skip-ssl", "-e 'DROP DATABASE IF EXISTS " + ixc_ + "'");
      testing::MariaAdmin(plain_maria_).exec("DROP DATABASE IF EXISTS " + ixc_);
      PgAdmin(tls_.postgres).exec("DROP DATABASE IF EXISTS " + pg_db_ + " WITH (FORCE)");
      PgAdmin(plain_pg_).exec("DROP DATABASE IF EXISTS " + pg_db_ + " WITH (FORCE)");
    } catch (...) {
    }
  }

  const TlsServers& tls() const { return tls_; }
  const ServerAddress& plain_maria() const { return plain_maria_; }
  const ServerAddress& plain_pg() const { return plain_pg_; }
  const std::string& ixc() const { return ixc_; }
  const std::string& pg_db() const { return pg_db_; }
  const std::string& work() const { return work_; }

  // The rows that runs as `zabbix_host` stored on `pg`.
  int stored(const ServerAddress& pg, const std::string& zabbix_host) const {
    PgAdmin admin(pg, pg_db_);
    if (!admin.query("SELECT to_regclass('ixc_clientes')")[0][0]) return 0;
    return std::stoi(*admin.query("SELECT count(*) FROM ixc_clientes WHERE ixcidentification = '" + zabbix_host +
                                  "'")[0][0]);
  }

 private:
  static void mariadb(const ServerAddress& server, const std::string& tls, const std::string& rest) {
    const std::string arguments = tls + " " + rest;
    if (mariadb_client(server, arguments) != 0) throw std::runtime_error("failed: mariadb " + arguments);
  }

  TlsServers tls_;
  ServerAddress plain_maria_;
  ServerAddress plain_pg_;
  std::string ixc_;
  std::string pg_db_;
  std::string work_;
};

// Which server a run reaches, and under which name: the TLS ones under a
// name that their certificate holds or lacks, the MariaDB without TLS, or
// the fixture's plain servers (PostgreSQL without TLS; MariaDB as installed,
// which from 11.4 on makes a certificate of its own that no CA vouches for).
enum class Server { kTls, kTlsOtherName, kWithoutTls, kPlain };
// Where a case's MySQL/MariaDB option lines go.
enum class Place { kVariable, kHome, kMariadbHome, kMissingVariable };
enum class Outcome {
  kStored,
  kIxcRefused,         // the program's own failure text, exactly
  kRefusedBeforeLogin, // Connector/C's TLS refusal (2026), whatever its words
  kLoginRefused,       // the server's refusal of the login, whatever its number and words
  kPgRefused,
};

struct TlsCase {
  std::string what;
  Server ixc;
  std::vector<std::string> options;  // the option file's lines; {CA}, {OTHER_CA}, {FP} filled in
  Place place;
  Server pg;
  std::map<std::string, std::string> env;  // the run's environment (libpq's variables...), filled in the same way
  Outcome outcome;
  // kIxcRefused: the failure's text after "cobrix: erro (MySQL do IXC): ";
  // kPgRefused: the store's after "Erro ao conectar ao PostgreSQL: connection to server at ... failed: ".
  std::string message;
};

const std::map<std::string, std::string> kVerifyFull = {{"PGSSLMODE", "verify-full"}, {"PGSSLROOTCERT", "{CA}"}};
// libpq's settings plus the test CA as one of the system's trusted CAs, as
// OpenSSL reads them.
const std::map<std::string, std::string> kVerifyFullSystemCa = {
    {"PGSSLMODE", "verify-full"}, {"PGSSLROOTCERT", "{CA}"}, {"SSL_CERT_FILE", "{CA}"}};

const std::vector<TlsCase> kCases = {
    {"MariaDB verified: the CA in [client], the line without a value and latin1 in [cobrix]", Server::kTls,
     {"[client]", "ssl-ca={CA}", "[cobrix]", "ssl-verify-server-cert", "default-character-set=latin1"},
     Place::kVariable, Server::kTls, kVerifyFull, Outcome::kStored, ""},
    {"MariaDB: a certificate from another CA, in ~/.my.cnf", Server::kTls, {"[client]", "ssl-ca={OTHER_CA}"},
     Place::kHome, Server::kTls, kVerifyFull, Outcome::kRefusedBeforeLogin, ""},
    {"MariaDB: a certificate for another host name, the line without a value", Server::kTlsOtherName,
     {"[cobrix]", "ssl-ca={CA}", "ssl-verify-server-cert"}, Place::kVariable, Server::kTls, kVerifyFull,
     Outcome::kRefusedBeforeLogin, ""},
    {"MariaDB: another host name, ssl-verify-server-cert=0", Server::kTlsOtherName,
     {"[client]", "ssl-ca={CA}", "ssl-verify-server-cert=0"}, Place::kVariable, Server::kTls, kVerifyFull,
     Outcome::kRefusedBeforeLogin, ""},
    {"MariaDB: a server without TLS, the settings in $MARIADB_HOME/my.cnf", Server::kWithoutTls,
     {"[client-mariadb]", "ssl-ca={CA}", "ssl-verify-server-cert"}, Place::kMariadbHome, Server::kTls, kVerifyFull,
     Outcome::kRefusedBeforeLogin, ""},
    {"MariaDB: a server without TLS, ssl-enforce alone", Server::kWithoutTls, {"[cobrix]", "ssl-enforce=1"},
     Place::kVariable, Server::kTls, kVerifyFull, Outcome::kRefusedBeforeLogin, ""},
    // Neither the files nor the system name the server's CA: refused, also
    // from a local address (which Connector/C 3.4 alone would take unchecked)
    // and from another one (which it would take once the server proved that
    // it knows the password's hash, after the login).
    {"MariaDB: ssl-enforce alone, a certificate that no trusted CA vouches for", Server::kTls,
     {"[cobrix]", "ssl-enforce=1"}, Place::kVariable, Server::kTls, kVerifyFull, Outcome::kRefusedBeforeLogin, ""},
    {"MariaDB: ssl-enforce alone, no trusted CA, under another address", Server::kTlsOtherName,
     {"[cobrix]", "ssl-enforce=1"}, Place::kVariable, Server::kTls, kVerifyFull, Outcome::kRefusedBeforeLogin, ""},
    {"MariaDB verified: ssl-enforce alone, the CA among the system's", Server::kTls, {"[cobrix]", "ssl-enforce=1"},
     Place::kVariable, Server::kTls, kVerifyFullSystemCa, Outcome::kStored, ""},
    {"MariaDB: ssl-enforce alone, the CA among the system's, another host name", Server::kTlsOtherName,
     {"[cobrix]", "ssl-enforce=1"}, Place::kVariable, Server::kTls, kVerifyFullSystemCa,
     Outcome::kRefusedBeforeLogin, ""},
    {"MariaDB: the certificate pinned by fingerprint, under another host name", Server::kTlsOtherName,
     {"[cobrix]", "ssl-fp={FP}"}, Place::kVariable, Server::kTls, kVerifyFull, Outcome::kStored, ""},
    {"MariaDB: another fingerprint", Server::kTlsOtherName, {"[cobrix]", "ssl-fp=00:11:22"}, Place::kVariable,
     Server::kTls, kVerifyFull, Outcome::kRefusedBeforeLogin, ""},
    {"MariaDB: no TLS setting, a server without TLS", Server::kWithoutTls, {}, Place::kVariable, Server::kTls,
     kVerifyFull, Outcome::kStored, ""},
    {"MariaDB: no TLS setting, a server that accepts only TLS refuses the plain login", Server::kTls, {},
     Place::kVariable, Server::kTls, kVerifyFull, Outcome::kLoginRefused, ""},
    {"MariaDB: the variable names a file that cannot be read", Server::kTls, {}, Place::kMissingVariable,
     Server::kTls, kVerifyFull, Outcome::kIxcRefused,
     "Falha ao ler o arquivo de opções do MySQL do IXC '{DIR}/ausente.cnf': No such file or directory"},
    {"PostgreSQL verified: verify-full, PGSSLROOTCERT", Server::kPlain, {}, Place::kVariable, Server::kTls,
     kVerifyFull, Outcome::kStored, ""},
    {"PostgreSQL verified: verify-full, ~/.postgresql/root.crt", Server::kPlain, {}, Place::kVariable, Server::kTls,
     {{"PGSSLMODE", "verify-full"}}, Outcome::kStored, ""},
    {"PostgreSQL: a certificate from another CA", Server::kPlain, {}, Place::kVariable, Server::kTls,
     {{"PGSSLMODE", "verify-full"}, {"PGSSLROOTCERT", "{OTHER_CA}"}}, Outcome::kPgRefused,
     "SSL error: certificate verify failed"},
    {"PostgreSQL: a certificate for another host name", Server::kPlain, {}, Place::kVariable, Server::kTlsOtherName,
     kVerifyFull, Outcome::kPgRefused,
     "server certificate for \"127.0.0.1\" (and 1 other name) does not match host name \"{OTHER_HOST}\""},
    {"PostgreSQL: a server without TLS", Server::kPlain, {}, Place::kVariable, Server::kPlain, kVerifyFull,
     Outcome::kPgRefused, "server does not support SSL, but SSL was required"},
};

// The parts of a failed connection's line, "cobrix: erro (MySQL do IXC):
// Falha ao conectar ao MySQL do IXC: <errno> (<SQLSTATE>): <reason>": the
// number, the state and the reason; all empty when the line is not one.
struct ConnectFailure {
  std::string number, state, reason;
};
ConnectFailure connect_failure(const std::string& err) {
  static const std::regex line(
      R"(cobrix: erro \(MySQL do IXC\): Falha ao conectar ao MySQL do IXC: ([0-9]+) \(([0-9A-Z]{5})\): (.*)\n)");
  std::smatch parts;
  if (!std::regex_match(err, parts, line)) return {};
  return {parts[1], parts[2], parts[3]};
}

// The overdue customers of the sample, as the debug report lists them.
std::size_t sample_customers(const Sites& sites) {
  const ServerAddress& m = sites.plain_maria();
  const Captured debug = testing::run_program(COBRIX_BIN, {"cobrix", "descobertaClientes", m.host, m.port, m.user,
                                                           m.password, sites.ixc(), "127.0.0.1", "1", "pg", "u",
                                                           "p", "debug"});
  std::size_t count = 0;
  for (std::size_t at = 0; (at = debug.out.find("\n{'{#ID_CLIENTE}': ", at)) != std::string::npos; ++at) ++count;
  return count;
}

TEST(TlsRun, EachCaseStoresOrRefusesWithItsOneLine) {
  const Sites sites;
  const TlsServers& tls = sites.tls();
  const std::size_t customers = sample_customers(sites);
  ASSERT_GE(customers, 40u);
  const auto accented = [&](const ServerAddress& pg, const std::string& host) {
    return PgAdmin(pg, sites.pg_db())
        .query("SELECT razaosocial FROM ixc_clientes WHERE idcliente = 219 AND ixcidentification = '" + host + "'");
  };
  const testing::Rows original =
      testing::MariaAdmin(sites.plain_maria(), sites.ixc()).query("SELECT razao FROM cliente WHERE id = 219");

  for (std::size_t i = 0; i < kCases.size(); ++i) {
    const TlsCase& c = kCases[i];
    SCOPED_TRACE(c.what);
    const std::string dir = sites.work() + "/" + std::to_string(i);
    const std::map<std::string, std::string> values = {{"CA", tls.ca},   {"OTHER_CA", tls.other_ca},
                                                       {"FP", tls.fingerprint}, {"DIR", dir},
                                                       {"OTHER_HOST", tls.other_host}};
    std::vector<std::string> options;
    for (const std::string& line : c.options) options.push_back(filled(line, values));

    // A home of its own: the option lines where the case puts them, and the
    // test CA as libpq's default root certificate.
    RunOptions run;
    run.env = {{"HOME", dir + "/home"}, {"MARIADB_HOME", dir + "/mariadb-home"}, {"COBRIX_IXC_OPTION_FILE", ""}};
    std::filesystem::create_directories(dir + "/home/.postgresql");
    std::filesystem::copy_file(tls.ca, dir + "/home/.postgresql/root.crt");
    if (c.place == Place::kVariable && !options.empty()) {
      write_file(dir + "/ixc.cnf", options);
      run.env["COBRIX_IXC_OPTION_FILE"] = dir + "/ixc.cnf";
    }
    if (c.place == Place::kHome) write_file(dir + "/home/.my.cnf", options);
    if (c.place == Place::kMariadbHome) write_file(dir + "/mariadb-home/my.cnf", options);
    if (c.place == Place::kMissingVariable) run.env["COBRIX_IXC_OPTION_FILE"] = dir + "/ausente.cnf";
    for (const auto& [name, value] : c.env) run.env[name] = filled(value, values);

    const ServerAddress maria = c.ixc == Server::kPlain        ? sites.plain_maria()
                                : c.ixc == Server::kWithoutTls ? tls.mariadb_without_tls
                                                               : tls.mariadb;
    const std::string maria_host = c.ixc == Server::kTlsOtherName ? tls.other_host : maria.host;
    const ServerAddress pg = c.pg == Server::kPlain ? sites.plain_pg() : tls.postgres;
    const std::string pg_host = c.pg == Server::kTlsOtherName ? tls.other_host : pg.host;
    const std::string zabbix_host = "zbx-tls-" + std::to_string(i);
    const Captured result = testing::run_program(
        COBRIX_BIN,
        {"cobrix", "descobertaClientes", maria_host, maria.port, maria.user, maria.password, sites.ixc(), pg_host,
         pg.port, sites.pg_db(), pg.user, pg.password, zabbix_host},
        run);

    const std::string message = filled(c.message, values);
    switch (c.outcome) {
      case Outcome::kStored:
        EXPECT_EQ(result.out, testing::normal_run_output(customers));
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(sites.stored(pg, zabbix_host), static_cast<int>(customers));
        // Texts arrive byte for byte, four-byte characters included,
        // whatever character set the option files name.
        EXPECT_EQ(accented(pg, zabbix_host), original);
        break;
      case Outcome::kIxcRefused:
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "cobrix: erro (MySQL do IXC): " + message + "\n");
        EXPECT_EQ(result.status, 1);
        break;
      case Outcome::kRefusedBeforeLogin:
      case Outcome::kLoginRefused: {
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.status, 1);
        const ConnectFailure failure = connect_failure(result.err);
        EXPECT_NE(failure.reason, "") << result.err;
        if (c.outcome == Outcome::kRefusedBeforeLogin) {
          EXPECT_EQ(failure.number + " " + failure.state, "2026 HY000") << result.err;  // CR_SSL_CONNECTION_ERROR
        } else {
          // A server's error: not one of the client library's (2000-2999).
          const int number = failure.number.empty() ? 0 : std::stoi(failure.number);
          EXPECT_TRUE(number > 0 && (number < 2000 || number >= 3000)) << result.err;
        }
        break;
      }
      case Outcome::kPgRefused:
        EXPECT_EQ(result.out, "Erro ao conectar ao PostgreSQL: connection to server at \"" + pg_host + "\", port " +
                                  pg.port + " failed: " + message + "\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 1);
        break;
    }
    if (c.outcome != Outcome::kStored) {
      EXPECT_EQ(sites.stored(pg, zabbix_host), 0);
    }
  }
}

TEST(TlsRun, ZabbixWrapperHandsOverTheHostFilesSettings) {
  // The host's credentials file names its MySQL/MariaDB option file and
  // sets libpq's variables; under a name that the PostgreSQL certificate
  // lacks, the same file makes the run refuse, which shows that its libpq
  // settings reached the program.
  const Sites sites;
  const TlsServers& tls = sites.tls();
  const std::string hosts = sites.work() + "/zabbix";
  write_file(hosts + "/provedor-tls.my.cnf", {"[client]", "ssl-ca=" + tls.ca});
  RunOptions run;
  run.env = {{"COBRIX_CREDENTIALS_DIR", hosts}, {"HOME", hosts}, {"MARIADB_HOME", hosts}};
  const std::string wrapper = std::string(COBRIX_SOURCE_DIR) + "/contrib/zabbix/cobrix-zabbix";
  const auto external_check = [&](const std::string& pg_host) {
    write_file(hosts + "/provedor-tls.conf",
               {"IXC_HOST=" + tls.mariadb.host, "IXC_PORT=" + tls.mariadb.port, "IXC_USER=" + tls.mariadb.user,
                "IXC_PASSWORD=" + tls.mariadb.password, "IXC_DATABASE=" + sites.ixc(), "PG_HOST=" + pg_host,
                "PG_PORT=" + tls.postgres.port, "PG_DB=" + sites.pg_db(), "PG_USER=" + tls.postgres.user,
                "PG_PASSWORD=" + tls.postgres.password, std::string("COBRIX=") + COBRIX_BIN,
                "IXC_OPTION_FILE=" + hosts + "/provedor-tls.my.cnf", "PGSSLMODE=verify-full",
                "PGSSLROOTCERT=" + tls.ca});
    return testing::run_program(wrapper, {"cobrix-zabbix", "provedor-tls"}, run);
  };

  const Captured good = external_check(tls.postgres.host);
  const std::size_t customers = sample_customers(sites);
  EXPECT_EQ(good.out, testing::normal_run_output(customers));
  EXPECT_EQ(good.err, "");
  EXPECT_EQ(good.status, 0);
  EXPECT_EQ(sites.stored(tls.postgres, "provedor-tls"), static_cast<int>(customers));

  PgAdmin(tls.postgres, sites.pg_db()).exec("DELETE FROM ixc_clientes");
  const Captured refused = external_check(tls.other_host);
  EXPECT_EQ(refused.out, "Erro ao conectar ao PostgreSQL: connection to server at \"" + tls.other_host +
                             "\", port " + tls.postgres.port + " failed: server certificate for \"127.0.0.1\" (and 1 "
                             "other name) does not match host name \"" + tls.other_host + "\"\n");
  EXPECT_EQ(refused.err, "");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(sites.stored(tls.postgres, "provedor-tls"), 0);
}

}  // namespace
}  // namespace cobrix
