// The discovery end to end through the built program: the debug report byte
// for byte, the debug switch, the failure paths and the run-time limit.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process_runner.h"
#include "tests/support/test_servers.h"

namespace cobrix {
namespace {

using testing::Captured;
using testing::MariaAdmin;
using testing::run_program;
using testing::RunOptions;
using testing::ServerAddress;

const std::string GREEN = "\x1b[0;32m", CYAN = "\x1b[1;36m", RESET = "\x1b[0;0m";
const std::string kHeadAtraso =
    "...======================================== Clientes em Atraso ==============================================...\n";
const std::string kHeadAtivos =
    "...========================================== Clientes Ativos ===============================================...\n";
const std::string kHeadInativos =
    "...========================================= Clientes Inativos ==============================================...\n";

constexpr const char* kSchema = R"sql(
CREATE TABLE cliente (id INT PRIMARY KEY, razao VARCHAR(200), cnpj_cpf VARCHAR(20), telefone_celular VARCHAR(40),
  ativo CHAR(1), data_cadastro DATE, bairro VARCHAR(100), cidade INT, id_tipo_cliente INT) CHARSET utf8mb4;
CREATE TABLE fn_areceber (id INT AUTO_INCREMENT PRIMARY KEY, id_cliente INT, id_contrato INT, filial_id INT,
  status CHAR(1), data_vencimento DATE, valor DECIMAL(10,2), valor_aberto DECIMAL(10,3)) CHARSET utf8mb4;
CREATE TABLE filial (id INT PRIMARY KEY, razao VARCHAR(150)) CHARSET utf8mb4;
CREATE TABLE cidade (id INT PRIMARY KEY, nome VARCHAR(100)) CHARSET utf8mb4;
CREATE TABLE tipo_cliente (id INT PRIMARY KEY, tipo_cliente VARCHAR(60)) CHARSET utf8mb4;
INSERT INTO filial VALUES (1, 'Matriz São Paulo');
INSERT INTO cidade VALUES (1, 'São Paulo');
INSERT INTO tipo_cliente VALUES (1, 'Pessoa Física');
)sql";

// A database on `server` with the five tables, dropped at the end.
class IxcDatabase {
 public:
  explicit IxcDatabase(const ServerAddress& server, const std::string& schema = kSchema) : server_(server) {
    name_ = testing::unique_database_name("e2e");
    MariaAdmin(server_).exec("CREATE DATABASE " + name_ + " CHARACTER SET utf8mb4");
    admin_ = std::make_unique<MariaAdmin>(server_, name_);
    admin_->exec("SET SESSION sql_mode = 'NO_ENGINE_SUBSTITUTION'");
    if (!schema.empty()) admin_->exec(schema);
  }
  ~IxcDatabase() {
    admin_.reset();
    try {
      MariaAdmin(server_).exec("DROP DATABASE IF EXISTS " + name_);
    } catch (...) {
    }
  }
  void exec(const std::string& sql) { admin_->exec(sql); }
  // "Y, M, D" of CURRENT_DATE() - `days`, as the server counts.
  std::string server_date(int days) {
    return *admin_->query("SELECT DATE_FORMAT(CURRENT_DATE() - INTERVAL " + std::to_string(days) +
                          " DAY, '%Y, %c, %e')")[0][0];
  }
  // The full 13-entry command line for this database.
  std::vector<std::string> args(const std::string& zabbix_host = "debug") const {
    return {"cobrix",       "descobertaClientes", server_.host, server_.port, server_.user, server_.password,
            name_,          "127.0.0.1",          std::to_string(testing::closed_port()), "pg", "pg_user",
            "pg-secret",    zabbix_host};
  }

 private:
  ServerAddress server_;
  std::string name_;
  std::unique_ptr<MariaAdmin> admin_;
};

ServerAddress mariadb() {
  const auto servers = testing::test_servers();
  if (!servers) throw std::runtime_error("no test servers");
  return servers->mariadb;
}

Captured run(const std::vector<std::string>& args, const RunOptions& options = {}) {
  return run_program(COBRIX_BIN, args, options);
}

std::string report(const std::string& records, const std::string& ativos, const std::string& inativos) {
  return "Modo debug ativado.\n" + GREEN + "\nVersão do script: 1.0.1" + CYAN + " \n\n" + CYAN + kHeadAtraso +
         RESET + "\n" + records + CYAN + kHeadAtivos + RESET + "\n" + ativos + CYAN + kHeadInativos + RESET + "\n" +
         inativos;
}

std::string totals(const char* kind, const char* pad_clientes, const char* pad_titulos, const char* pad_valor,
                   const std::string& clientes, const std::string& titulos, const std::string& valor) {
  return std::string("Total de clientes ") + kind + " em atraso:" + pad_clientes + " " + clientes +
         "\nTotal de títulos em atraso dos clientes " + kind + ":" + pad_titulos + " " + titulos +
         "\nValor total em dívida dos clientes " + kind + ":" + pad_valor + " " + valor + "\n";
}

std::string ativos(const std::string& c, const std::string& t, const std::string& v) {
  return totals("ativos", "                 ", "     ", "          ", c, t, v);
}
std::string inativos(const std::string& c, const std::string& t, const std::string& v) {
  return totals("inativos", "               ", "   ", "        ", c, t, v);
}

TEST(DebugRun, EmptyResultPrintsTheHeadingsAndZeroTotals) {
  IxcDatabase db(mariadb());
  const Captured result = run(db.args());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, report("", ativos("0", "0", "0"), inativos("0", "0", "0")));
}

TEST(DebugRun, ReportByteForByte) {
  IxcDatabase db(mariadb());
  db.exec(R"sql(
INSERT INTO cliente VALUES
  (15, 'Cliente Exemplo', '123.456.789-00', '(11) 91234-5678', 'S', '2021-03-04', 'Centro', 1, 1),
  (16, 'Zé''s "Bar" \\ Ltda', '12.345.678/0001-90', '', 'N', NULL, NULL, NULL, NULL),
  (17, CONCAT('Linha', CHAR(10), 'Tab', CHAR(9), 'CR', CHAR(13), CHAR(1), CHAR(127), ' Açaí 🌴'), NULL, ' ', 'n',
   '0000-00-00', 'Bela Vista', 1, 1),
  (18, 'Robert''); DROP TABLE cliente;--', '1', NULL, '', '2018-11-04', 'x', 1, 1),
  (19, 'D''Ávila', '2', '3', NULL, '2020-02-29', 'y', 1, 1);
INSERT INTO fn_areceber (id_cliente, id_contrato, filial_id, status, data_vencimento, valor, valor_aberto) VALUES
  (15, 877, 1, 'A', CURRENT_DATE() - INTERVAL 1 DAY, 100.00, 100.00),
  (16, 900, NULL, 'A', CURRENT_DATE() - INTERVAL 2 DAY, 2.68, 2.675),
  (16, 900, NULL, 'A', CURRENT_DATE() - INTERVAL 9 DAY, NULL, 0.001),
  (17, 901, 1, 'A', CURRENT_DATE() - INTERVAL 3 DAY, 10.01, 10.005),
  (18, 902, 1, 'A', CURRENT_DATE() - INTERVAL 4 DAY, 0.12, 0.125),
  (19, 903, 1, 'A', CURRENT_DATE() - INTERVAL 5 DAY, 0.01, 0.005),
  (19, 903, 1, 'A', CURRENT_DATE(), 50.00, 50.00),
  (19, 903, 1, 'R', CURRENT_DATE() - INTERVAL 5 DAY, 50.00, 50.00);
)sql");
  const std::string tail = "'{#IXC_IDENTIFICATION}': 'debug'}\n";
  const std::string records =
      "{'{#ID_CLIENTE}': 15, '{#ID_CONTRATO}': 877, '{#RAZAO_SOCIAL}': 'Cliente Exemplo', '{#CPF_CNPJ}': "
      "'123.456.789-00', '{#CONTATO_CLIENTE}': '(11) 91234-5678', '{#STATUS_CLIENTE}': 1, '{#DATA_CADASTRO}': "
      "datetime.datetime(2021, 3, 4, 0, 0), '{#VALOR_ATRASO}': 100.0, '{#TITULOS_ATRASO}': 1, "
      "'{#DATA_VENCIMENTO}': datetime.datetime(" + db.server_date(1) + ", 0, 0), '{#FILIAL}': 'Matriz São Paulo', "
      "'{#CIDADE}': 'São Paulo', '{#BAIRRO}': 'Centro', '{#TIPO_CLIENTE}': 'Pessoa Física', " + tail +
      "{'{#ID_CLIENTE}': 16, '{#ID_CONTRATO}': 900, '{#RAZAO_SOCIAL}': 'Zé\\'s \"Bar\" \\\\ Ltda', '{#CPF_CNPJ}': "
      "'12.345.678/0001-90', '{#CONTATO_CLIENTE}': None, '{#STATUS_CLIENTE}': 0, '{#DATA_CADASTRO}': None, "
      "'{#VALOR_ATRASO}': 2.676, '{#TITULOS_ATRASO}': 1, '{#DATA_VENCIMENTO}': datetime.datetime(" +
      db.server_date(9) + ", 0, 0), '{#FILIAL}': None, '{#CIDADE}': None, '{#BAIRRO}': None, '{#TIPO_CLIENTE}': "
      "None, " + tail +
      "{'{#ID_CLIENTE}': 17, '{#ID_CONTRATO}': 901, '{#RAZAO_SOCIAL}': 'Linha\\nTab\\tCR\\r\\x01\\x7f Açaí 🌴', "
      "'{#CPF_CNPJ}': None, '{#CONTATO_CLIENTE}': ' ', '{#STATUS_CLIENTE}': 1, '{#DATA_CADASTRO}': None, "
      "'{#VALOR_ATRASO}': 10.005, '{#TITULOS_ATRASO}': 1, '{#DATA_VENCIMENTO}': datetime.datetime(" +
      db.server_date(3) + ", 0, 0), '{#FILIAL}': 'Matriz São Paulo', '{#CIDADE}': 'São Paulo', '{#BAIRRO}': "
      "'Bela Vista', '{#TIPO_CLIENTE}': 'Pessoa Física', " + tail +
      "{'{#ID_CLIENTE}': 18, '{#ID_CONTRATO}': 902, '{#RAZAO_SOCIAL}': \"Robert'); DROP TABLE cliente;--\", "
      "'{#CPF_CNPJ}': '1', '{#CONTATO_CLIENTE}': None, '{#STATUS_CLIENTE}': 1, '{#DATA_CADASTRO}': "
      "datetime.datetime(2018, 11, 4, 0, 0), '{#VALOR_ATRASO}': 0.125, '{#TITULOS_ATRASO}': 1, "
      "'{#DATA_VENCIMENTO}': datetime.datetime(" + db.server_date(4) + ", 0, 0), '{#FILIAL}': 'Matriz São Paulo', "
      "'{#CIDADE}': 'São Paulo', '{#BAIRRO}': 'x', '{#TIPO_CLIENTE}': 'Pessoa Física', " + tail +
      "{'{#ID_CLIENTE}': 19, '{#ID_CONTRATO}': 903, '{#RAZAO_SOCIAL}': \"D'Ávila\", '{#CPF_CNPJ}': '2', "
      "'{#CONTATO_CLIENTE}': '3', '{#STATUS_CLIENTE}': 1, '{#DATA_CADASTRO}': datetime.datetime(2020, 2, 29, 0, 0), "
      "'{#VALOR_ATRASO}': 0.005, '{#TITULOS_ATRASO}': 1, '{#DATA_VENCIMENTO}': datetime.datetime(" +
      db.server_date(5) + ", 0, 0), '{#FILIAL}': 'Matriz São Paulo', '{#CIDADE}': 'São Paulo', '{#BAIRRO}': 'y', "
      "'{#TIPO_CLIENTE}': 'Pessoa Física', " + tail;
  RunOptions utc;
  utc.env["TZ"] = "UTC";
  const Captured result = run(db.args(), utc);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  // Active: 100.0 + 10.005 + 0.125 + 0.005 in row order gives the double
  // 110.13499999999999, which rounds to 110.13 (Python: the same); inactive:
  // 2.676 -> 2.68.
  EXPECT_EQ(result.out, report(records, ativos("4", "4", "110.13"), inativos("1", "1", "2.68")));
}

TEST(DebugRun, SaoPauloSignUpDateWithoutALocalMidnight) {
  IxcDatabase db(mariadb());
  db.exec("INSERT INTO cliente VALUES (1, 'Horário de Verão', '1', '2', 'S', '2018-11-04', 'b', 1, 1),"
          " (2, 'Dia Comum', '1', '2', 'S', '2021-03-04', 'b', 1, 1);"
          "INSERT INTO fn_areceber (id_cliente, id_contrato, filial_id, status, data_vencimento, valor, valor_aberto)"
          " VALUES (1, 1, 1, 'A', '2019-01-01', 1, 1), (2, 2, 1, 'A', '2019-01-02', 1, 1)");
  RunOptions options;
  options.env["TZ"] = "America/Sao_Paulo";
  const Captured result = run(db.args(), options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("'{#DATA_CADASTRO}': datetime.datetime(2018, 11, 4, 1, 0)"), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("'{#DATA_CADASTRO}': datetime.datetime(2021, 3, 4, 0, 0)"), std::string::npos);
  EXPECT_NE(result.out.find("'{#DATA_VENCIMENTO}': datetime.datetime(2019, 1, 1, 0, 0)"), std::string::npos);
}

TEST(DebugRun, OnlyTheExactWordDebugSwitchesToTheReport) {
  IxcDatabase db(mariadb());
  db.exec("INSERT INTO cliente VALUES (1, 'Um', '1', '2', 'S', '2021-03-04', 'b', 1, 1);"
          "INSERT INTO fn_areceber (id_cliente, id_contrato, filial_id, status, data_vencimento, valor, valor_aberto)"
          " VALUES (1, 1, 1, 'A', '2019-01-01', 1, 1)");
  for (const std::string host : {"Debug", "DEBUG", "debug ", " debug", "debugx", ""}) {
    // A normal run: the store is called (its PostgreSQL is a closed port
    // here, and until the store lands its stub fails): never the report,
    // never "OK".
    const Captured result = run(db.args(host));
    EXPECT_EQ(result.status, 1) << "'" << host << "'";
    EXPECT_EQ(result.out.find("Modo debug ativado."), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("OK"), std::string::npos) << result.out;
  }
  const Captured debug = run(db.args("debug"));
  EXPECT_EQ(debug.status, 0);
  EXPECT_TRUE(debug.out.starts_with("Modo debug ativado.\n")) << debug.out;
  EXPECT_NE(debug.out.find("'{#IXC_IDENTIFICATION}': 'debug'}"), std::string::npos);
}

TEST(SampleDatabase, LoadsAndShowsItsEdgeCases) {
  const ServerAddress server = mariadb();
  IxcDatabase db(server, "");
  const std::string load =
      "--default-character-set=utf8mb4 " + db.args()[6] + " < " + COBRIX_SOURCE_DIR + "/sample/ixc_sample.sql";
  ASSERT_EQ(mariadb_client(server, load), 0) << load;
  RunOptions options;
  options.env["TZ"] = "America/Sao_Paulo";
  const Captured result = run(db.args(), options);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(result.out.starts_with("Modo debug ativado.\n"));
  std::vector<std::string> records;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("{'{#ID_CLIENTE}': ")) records.push_back(line);
  EXPECT_GE(records.size(), 40u);
  auto record = [&records](int id) {
    const std::string head = "{'{#ID_CLIENTE}': " + std::to_string(id) + ", ";
    for (const std::string& r : records)
      if (r.starts_with(head)) return r;
    return std::string();
  };
  auto has = [&](int id, const std::string& part) {
    const std::string r = record(id);
    return r.find(part) != std::string::npos;
  };
  EXPECT_EQ(record(222), "") << "not overdue: due today, later, nothing open, no contract, settled, cancelled";
  EXPECT_TRUE(has(201, "'{#CONTATO_CLIENTE}': None")) << record(201);
  EXPECT_TRUE(has(202, "'{#CONTATO_CLIENTE}': None")) << record(202);
  EXPECT_TRUE(has(203, "'{#CONTATO_CLIENTE}': ' '")) << record(203);
  for (const int id : {204, 205, 206}) EXPECT_TRUE(has(id, "'{#STATUS_CLIENTE}': 1")) << record(id);
  EXPECT_TRUE(has(207, "'{#STATUS_CLIENTE}': 0")) << record(207);
  for (const int id : {208, 209, 210}) EXPECT_TRUE(has(id, "'{#DATA_CADASTRO}': None")) << record(id);
  EXPECT_TRUE(has(211, "'{#DATA_CADASTRO}': datetime.datetime(2018, 11, 4, 1, 0)")) << record(211);
  EXPECT_TRUE(has(212, "'{#CIDADE}': None")) << record(212);
  EXPECT_TRUE(has(213, "'{#TIPO_CLIENTE}': None")) << record(213);
  EXPECT_TRUE(has(214, "'{#FILIAL}': None")) << record(214);
  EXPECT_TRUE(has(215, "'{#RAZAO_SOCIAL}': 'Bar do Zé\\'s \"Boteco\"'")) << record(215);
  EXPECT_TRUE(has(216, "'{#RAZAO_SOCIAL}': \"D'Ávila & Filhos\"")) << record(216);
  EXPECT_TRUE(has(216, "'{#BAIRRO}': 'Barra \\\\ Tijuca'")) << record(216);
  EXPECT_TRUE(has(217, "'{#RAZAO_SOCIAL}': 'Linha1\\nLinha2\\tTab\\rCR\\x01\\x7f'")) << record(217);
  EXPECT_TRUE(has(218, "'{#RAZAO_SOCIAL}': \"Robert'); DROP TABLE cliente;--\"")) << record(218);
  EXPECT_TRUE(has(219, "'{#RAZAO_SOCIAL}': 'Açaí da Praia 🌴🍹 Ltda'")) << record(219);
  EXPECT_TRUE(has(220, "'{#RAZAO_SOCIAL}': 'Espaço\\xa0Rígido\\u200bZero'")) << record(220);
  EXPECT_TRUE(has(221, "'{#VALOR_ATRASO}': 185.5, '{#TITULOS_ATRASO}': 2, ")) << record(221);
}

// A failure path: status 1, nothing on standard output, and one report on
// standard error that names what failed in the operator's words (never a
// C++ type name).
void expect_failure(const Captured& result, const std::string& what, const std::string& kind = "MySQL do IXC") {
  EXPECT_EQ(result.status, 1) << what << "\n" << result.err;
  EXPECT_EQ(result.out, "") << what;
  EXPECT_EQ(result.err.rfind("cobrix: erro (" + kind + "): ", 0), 0u) << what << ": " << result.err;
  EXPECT_EQ(result.err.find("::"), std::string::npos) << what << ": " << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << what << ": " << result.err;
}

TEST(FailurePaths, ConnectionFailures) {
  IxcDatabase db(mariadb());
  std::vector<std::string> args = db.args();
  args[5] += "-errada";
  expect_failure(run(args), "wrong password");

  args = db.args();
  args[3] = std::to_string(testing::closed_port());
  expect_failure(run(args), "closed port");

  for (const std::string port : {"porta", "", "0", "65536", "33o6", " 3306", "-1"}) {
    args = db.args();
    args[3] = port;
    const Captured result = run(args);
    expect_failure(result, "port '" + port + "'");
    EXPECT_NE(result.err.find("porta"), std::string::npos) << result.err;
  }

  args = db.args();
  args[6] += "_inexistente";
  expect_failure(run(args), "unknown database");
}

TEST(FailurePaths, StatementFailures) {
  {
    IxcDatabase db(mariadb(), "CREATE TABLE cliente (id INT PRIMARY KEY)");
    const Captured result = run(db.args());
    expect_failure(result, "missing tables");
    EXPECT_NE(result.err.find("doesn't exist"), std::string::npos) << result.err;
  }
  {
    IxcDatabase db(mariadb());
    db.exec("ALTER TABLE cliente MODIFY bairro VARBINARY(100);"
            "INSERT INTO cliente VALUES (77, 'Um', '1', '2', 'S', '2021-03-04', X'C328', 1, 1);"
            "INSERT INTO fn_areceber (id_cliente, id_contrato, filial_id, status, data_vencimento, valor, "
            "valor_aberto) VALUES (77, 1, 1, 'A', '2019-01-01', 1, 1)");
    const Captured result = run(db.args());
    expect_failure(result, "invalid UTF-8", "valor do IXC que não pode ser convertido");
    EXPECT_NE(result.err.find("cliente 77"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("'bairro'"), std::string::npos) << result.err;
  }
}

TEST(FailurePaths, ValueThatFailsAfterRecordsWereBuiltEndsTheNormalRunBeforeTheStore) {
  // The records are built while the rows arrive: a bad value in the last row
  // comes after three records, and still nothing reaches the store (which
  // would say so on standard output: its PostgreSQL is a closed port here).
  IxcDatabase db(mariadb());
  db.exec("ALTER TABLE cliente MODIFY bairro VARBINARY(100);"
          "INSERT INTO cliente VALUES (1, 'Um', '1', '2', 'S', '2021-03-04', 'b', 1, 1),"
          " (2, 'Dois', '1', '2', 'S', '2021-03-04', 'b', 1, 1), (3, 'Três', '1', '2', 'N', NULL, 'b', 1, 1),"
          " (4, 'Quatro', '1', '2', 'S', '2021-03-04', X'C328', 1, 1);"
          "INSERT INTO fn_areceber (id_cliente, id_contrato, filial_id, status, data_vencimento, valor, "
          "valor_aberto) VALUES (1, 1, 1, 'A', CURRENT_DATE() - INTERVAL 1 DAY, 1, 1),"
          " (2, 1, 1, 'A', CURRENT_DATE() - INTERVAL 2 DAY, 1, 1), (3, 1, 1, 'A', CURRENT_DATE() - INTERVAL 3 DAY, 1, 1),"
          " (4, 1, 1, 'A', CURRENT_DATE() - INTERVAL 30 DAY, 1, 1)");
  for (const std::string host : {"zbx-normal", "debug"}) {
    const Captured result = run(db.args(host));
    expect_failure(result, "invalid UTF-8 in the last row, " + host, "valor do IXC que não pode ser convertido");
    EXPECT_NE(result.err.find("(linha 4, cliente 4)"), std::string::npos) << result.err;
  }
}

TEST(FailurePaths, ServerWithOnlyFullGroupBy) {
  // A server of its own: SET GLOBAL on the shared one would change the other tests.
  char templ[] = "/tmp/cobrix-ofgb-XXXXXX";
  ASSERT_NE(::mkdtemp(templ), nullptr);
  const std::string dir = templ;
  const std::string scripts = std::string(COBRIX_SOURCE_DIR) + "/tests/servers/";
  // Stopped (by the PID that start.sh recorded) however the test ends.
  struct Stop {
    std::string command;
    ~Stop() { [[maybe_unused]] const int status = std::system(command.c_str()); }
  } stop{scripts + "stop.sh " + dir + " >/dev/null 2>&1"};
  ASSERT_EQ(std::system((scripts + "start.sh " + dir + " --mariadb-only >/dev/null 2>&1").c_str()), 0);
  ServerAddress server;
  {
    std::ifstream env(dir + "/env");
    for (std::string line; std::getline(env, line);) {
      const auto eq = line.find('=');
      const std::string name = line.substr(0, eq), value = line.substr(eq + 1);
      if (name == "MARIADB_HOST") server.host = value;
      if (name == "MARIADB_PORT") server.port = value;
      if (name == "MARIADB_USER") server.user = value;
      if (name == "MARIADB_PASSWORD") server.password = value;
    }
  }
  {
    MariaAdmin(server).exec("SET GLOBAL sql_mode = CONCAT(@@GLOBAL.sql_mode, ',ONLY_FULL_GROUP_BY')");
    IxcDatabase db(server);
    db.exec("INSERT INTO cliente VALUES (1, 'Um', '1', '2', 'S', '2021-03-04', 'b', 1, 1);"
            "INSERT INTO fn_areceber (id_cliente, id_contrato, filial_id, status, data_vencimento, valor, "
            "valor_aberto) VALUES (1, 1, 1, 'A', '2019-01-01', 1, 1)");
    const Captured result = run(db.args());
    expect_failure(result, "ONLY_FULL_GROUP_BY");
    EXPECT_NE(result.err.find("1055"), std::string::npos) << result.err;
  }
}

// The short-limit program against a listener that accepts and never answers.
std::vector<std::string> black_hole_args(const testing::BlackHoleListener& listener) {
  return {"cobrix", "descobertaClientes", "127.0.0.1", std::to_string(listener.port()), "ixc_user",
          "segredo-ixc", "ixc", "127.0.0.1", "5432", "pg", "pg_user", "segredo-pg", "debug"};
}

TEST(RuntimeLimit, BlackHoleServerEndsAtTheLimitWithThePasswordsMasked) {
  testing::BlackHoleListener listener;
  const std::vector<std::string> args = black_hole_args(listener);
  std::vector<std::string> seen;
  RunOptions options;
  options.while_running = [&seen](int pid) {
    // Masking happens right after the argument check; wait for it.
    for (int i = 0; i < 100; ++i) {
      seen = testing::process_cmdline(pid);
      if (seen.size() == 13 && seen[5].find_first_not_of('*') == std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  };
  const auto start = std::chrono::steady_clock::now();
  const Captured result = run_program(COBRIX_SHORT_LIMIT_BIN, args, options);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_GE(elapsed, COBRIX_TEST_RUNTIME_LIMIT - 0.5);
  EXPECT_LT(elapsed, COBRIX_TEST_RUNTIME_LIMIT + 5.0);
  const std::string last_line = "Tempo limite de execução atingido (" + std::to_string(COBRIX_TEST_RUNTIME_LIMIT) +
                                " segundos): execução interrompida.\n";
  EXPECT_TRUE(result.out.ends_with(last_line)) << result.out;
  EXPECT_EQ(result.out, last_line) << "nothing else before the fetch ends";

  ASSERT_EQ(seen.size(), 13u);
  for (std::size_t i = 0; i < 13; ++i) {
    if (i == 5 || i == 11)
      EXPECT_EQ(seen[i], std::string(args[i].size(), '*')) << i;
    else
      EXPECT_EQ(seen[i], args[i]) << i;
  }
}

TEST(RuntimeLimit, TimeoutMessageThatCannotBeWrittenEndsWithStatusTwo) {
  testing::BlackHoleListener listener;
  RunOptions options;
  options.stdout_path = "/dev/full";
  const Captured result = run_program(COBRIX_SHORT_LIMIT_BIN, black_hole_args(listener), options);
  EXPECT_EQ(result.status, 2) << result.err;
}

}  // namespace
}  // namespace cobrix
