// The discovery in process: report forms, rounding, the statement text, and
// the connection, query and records against the fixture's MariaDB.

#include <gtest/gtest.h>
#include <mysql.h>

#include <algorithm>
#include <span>
#include <type_traits>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "console/print_dict_list.h"
#include "discovery/debug_report.h"
#include "discovery/ixc_connection.h"
#include "discovery/overdue_query.h"
#include "discovery/records.h"
#include "model/value_text.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_servers.h"

namespace cobrix {
namespace {

using testing::MariaAdmin;
using testing::test_servers;

// ---------------------------------------------------------------------------
// Without a server.

std::string collapse_whitespace(std::string_view text) {
  std::string out;
  bool blank = false;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

TEST(QueryText, IsTheOverdueStatementSpreadOverIndentedLines) {
  EXPECT_EQ(collapse_whitespace(kOverdueCustomersQuery),
            "SELECT cliente.id as idCliente, fn_areceber.id_contrato AS idContrato, cliente.razao as razaoSocial, "
            "cliente.cnpj_cpf as cpfCnpj, cliente.telefone_celular as contatoCliente, cliente.ativo as "
            "statusCliente, cliente.data_cadastro, SUM(fn_areceber.valor_aberto) as valorAtraso, "
            "COUNT(fn_areceber.valor) as titulosAtraso, MIN(fn_areceber.data_vencimento) as dataVencimento, "
            "filial.razao as filial, cidade.nome as cidade, cliente.bairro as bairro, tipo_cliente.tipo_cliente as "
            "tipoCliente FROM cliente LEFT JOIN fn_areceber ON fn_areceber.id_cliente = cliente.id LEFT JOIN filial "
            "on fn_areceber.filial_id = filial.id LEFT JOIN cidade ON cliente.cidade = cidade.id LEFT JOIN "
            "tipo_cliente on tipo_cliente.id = cliente.id_tipo_cliente WHERE fn_areceber.status = 'A' AND "
            "fn_areceber.data_vencimento < CURRENT_DATE() AND fn_areceber.valor_aberto > 0 AND "
            "fn_areceber.id_contrato IS NOT NULL GROUP BY cliente.id, cliente.razao, cliente.cnpj_cpf, "
            "cliente.telefone_celular, tipo_cliente.tipo_cliente ORDER BY fn_areceber.data_vencimento desc;");
  // One select item, joined table, condition or grouping expression a line.
  std::vector<std::string> lines;
  std::istringstream in{std::string(kOverdueCustomersQuery)};
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(lines.size(), 34u);
  EXPECT_EQ(lines.front(), "SELECT");
  EXPECT_EQ(lines[1], "    cliente.id as idCliente,");
  EXPECT_EQ(lines.back(), "    fn_areceber.data_vencimento desc;");
  for (const std::string& line : lines) {
    if (line != "SELECT" && line != "FROM" && line != "WHERE" && line != "GROUP BY" && line != "ORDER BY") {
      EXPECT_TRUE(line.starts_with("    ")) << line;
    }
  }
}

TEST(PortText, OnlyAWholeNumberFromOneTo65535) {
  EXPECT_EQ(parse_port("1"), 1u);
  EXPECT_EQ(parse_port("3306"), 3306u);
  EXPECT_EQ(parse_port("65535"), 65535u);
  EXPECT_EQ(parse_port("03306"), 3306u);
  for (const char* bad : {"", "0", "65536", "99999", "100000", "-1", "+3306", " 3306", "3306 ", "33o6", "3306.0",
                          "0x10", "abc"})
    EXPECT_THROW(parse_port(bad), MysqlError) << "'" << bad << "'";
}

TEST(ReportForms, TextsQuoteAndEscapeLikePython) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"abc", "'abc'"},
      {"", "''"},
      {"it's", "\"it's\""},
      {"say \"hi\"", "'say \"hi\"'"},
      {"both ' and \"", "'both \\' and \"'"},
      {"back\\slash", "'back\\\\slash'"},
      {"tab\there", "'tab\\there'"},
      {"nl\nx", "'nl\\nx'"},
      {"cr\rx", "'cr\\rx'"},
      {std::string("\x00\x01\x1f\x7f", 4), "'\\x00\\x01\\x1f\\x7f'"},
      {"ção", "'ção'"},
      {"é🌴", "'é🌴'"},
      {"\u00a0", "'\\xa0'"},
      {"\u200b", "'\\u200b'"},
      {"\u2028", "'\\u2028'"},
      {"\u2029", "'\\u2029'"},
      {"\ue000", "'\\ue000'"},
      {"\U000e0001", "'\\U000e0001'"},
      {"\U0010ffff", "'\\U0010ffff'"},
      {"\u0378", "'\\u0378'"},
      {"\u3000", "'\\u3000'"},
      {"\u0085", "'\\x85'"},
      {"\u00ad", "'\\xad'"},
      {"\U0001f600", "'😀'"},
      {"a\u0301", "'a\u0301'"},
      {"Robert'); DROP TABLE cliente;--", "\"Robert'); DROP TABLE cliente;--\""},
  };
  for (const auto& [text, repr] : cases) EXPECT_EQ(value_repr(text), repr) << repr;
}

TEST(ReportForms, IntegersDoublesNullsAndDateTimes) {
  EXPECT_EQ(value_repr(std::int64_t{0}), "0");
  EXPECT_EQ(value_repr(std::int64_t{877}), "877");
  EXPECT_EQ(value_repr(std::int64_t{-12}), "-12");
  EXPECT_EQ(value_repr(Null{}), "None");
  EXPECT_EQ(value_repr(0.0), "0.0");
  EXPECT_EQ(value_repr(150.0), "150.0");
  EXPECT_EQ(value_repr(34.57), "34.57");
  EXPECT_EQ(value_repr(10.005), "10.005");
  EXPECT_EQ(value_repr(1e16), "1e+16");
  EXPECT_EQ(value_repr(1e-05), "1e-05");
  EXPECT_EQ(value_repr(DateTime{2021, 3, 4, 0, 0, 0, 0}), "datetime.datetime(2021, 3, 4, 0, 0)");
  EXPECT_EQ(value_repr(DateTime{2018, 11, 4, 1, 0, 0, 0}), "datetime.datetime(2018, 11, 4, 1, 0)");
  EXPECT_EQ(value_repr(DateTime{2021, 12, 31, 23, 59, 7, 0}), "datetime.datetime(2021, 12, 31, 23, 59, 7)");
  EXPECT_EQ(value_repr(DateTime{2021, 1, 2, 3, 4, 0, 500}), "datetime.datetime(2021, 1, 2, 3, 4, 0, 500)");
  const std::vector<FieldView> record = {{"{#ID_CLIENTE}", std::int64_t{15}},
                                         {"{#RAZAO_SOCIAL}", std::string_view("Cliente Exemplo")},
                                         {"{#IXC_IDENTIFICATION}", std::string_view("debug")}};
  EXPECT_EQ(record_repr(record),
            "{'{#ID_CLIENTE}': 15, '{#RAZAO_SOCIAL}': 'Cliente Exemplo', '{#IXC_IDENTIFICATION}': 'debug'}");
}

TEST(Rounding, HalfEvenAtTwoDecimalsOfTheExactBinaryValue) {
  // Expected values are Python's round(x, 2).
  const std::vector<std::pair<double, double>> cases = {
      {2.675, 2.67},  {0.125, 0.12},     {0.375, 0.38},     {1.005, 1.0},         {2.5, 2.5},
      {100.0, 100.0}, {0.135, 0.14},     {-2.675, -2.67},   {1e22, 1e22},         {123456789.125, 123456789.12},
      {0.005, 0.01},  {0.015, 0.01},     {0.025, 0.03},     {10.005, 10.01},      {1e-05, 0.0},
      {5e-324, 0.0},  {9764.555, 9764.56}, {0.0, 0.0}};
  for (const auto& [x, expected] : cases) EXPECT_EQ(round_half_even_2(x), expected) << format_double(x);
  EXPECT_EQ(format_double(round_half_even_2(-0.001)), "-0.0");
  EXPECT_EQ(round_total(std::int64_t{0}), Value(std::int64_t{0}));
  EXPECT_EQ(round_total(2.675), Value(2.67));
}

TEST(DecimalText, BecomesTheNearestDouble) {
  EXPECT_EQ(decimal_to_double("10.005"), 10.005);
  EXPECT_EQ(decimal_to_double("0.10"), 0.1);
  EXPECT_EQ(decimal_to_double("-3.50"), -3.5);
  EXPECT_EQ(decimal_to_double("99999999.99"), 99999999.99);
  EXPECT_THROW(decimal_to_double("abc"), std::runtime_error);
  EXPECT_THROW(decimal_to_double(""), std::runtime_error);
}

TEST(DebugReport, HeadingsAndLabels) {
  for (const std::string_view heading : {kHeadingAtraso, kHeadingAtivos, kHeadingInativos}) {
    EXPECT_EQ(heading.size(), 113u);
    EXPECT_TRUE(heading.starts_with("...=")) << heading;
    EXPECT_TRUE(heading.ends_with("=...\n")) << heading;
  }
  EXPECT_EQ(kHeadingAtraso.find(" Clientes em Atraso "), 43u);
  EXPECT_EQ(kHeadingAtivos.find(" Clientes Ativos "), 45u);
  EXPECT_EQ(kHeadingInativos.find(" Clientes Inativos "), 44u);

  std::ostringstream out;
  write_debug_report(DiscoveryResult{}, out);
  std::istringstream lines(out.str());
  int total_lines = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("Total") || line.starts_with("Valor")) {
      ++total_lines;
      // The number starts in column 54 (code points, accents counted once).
      const std::size_t blank = line.rfind(' ');
      EXPECT_EQ(code_point_count(line.substr(0, blank + 1)), 53u) << line;
    }
  }
  EXPECT_EQ(total_lines, 6);
}

TEST(Utf8, Validation) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("plain ascii text longer than eight bytes"));
  EXPECT_TRUE(is_valid_utf8("ção 🌴 \U0010ffff"));
  EXPECT_FALSE(is_valid_utf8("\xc3"));
  EXPECT_FALSE(is_valid_utf8("\xc3\x28"));
  EXPECT_FALSE(is_valid_utf8("\xc0\xaf"));          // overlong
  EXPECT_FALSE(is_valid_utf8("\xe0\x80\xaf"));      // overlong
  EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(is_valid_utf8("\xf4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8("abcdefgh\xff"));
}

class ScopedTz {
 public:
  explicit ScopedTz(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~ScopedTz() {
    if (old_.empty())
      ::unsetenv("TZ");
    else
      ::setenv("TZ", old_.c_str(), 1);
    ::tzset();
  }

 private:
  std::string old_;
};

TEST(DateConversion, LocalMidnightOrWhatTheSystemMakesOfAMissingOne) {
  {
    ScopedTz tz("America/Sao_Paulo");
    EXPECT_EQ(to_local_datetime({2021, 3, 4, 0, 0, 0, 0}), (DateTime{2021, 3, 4, 0, 0, 0, 0}));
    EXPECT_EQ(to_local_datetime({2018, 11, 4, 0, 0, 0, 0}), (DateTime{2018, 11, 4, 1, 0, 0, 0}));
    EXPECT_EQ(to_local_datetime({2019, 2, 16, 23, 30, 5, 0}).day, 16);  // the repeated hour stays on its day
  }
  {
    ScopedTz tz("UTC");
    EXPECT_EQ(to_local_datetime({2018, 11, 4, 0, 0, 0, 0}), (DateTime{2018, 11, 4, 0, 0, 0, 0}));
    EXPECT_EQ(to_local_datetime({1969, 12, 31, 23, 59, 59, 0}), (DateTime{1969, 12, 31, 23, 59, 59, 0}));
    EXPECT_EQ(to_local_datetime({2020, 2, 29, 12, 34, 56, 789}), (DateTime{2020, 2, 29, 12, 34, 56, 0}));
  }
}

// ---------------------------------------------------------------------------
// Against the fixture's MariaDB: each test makes its own database.

constexpr const char* kSchema = R"sql(
CREATE TABLE cliente (id INT PRIMARY KEY, razao VARCHAR(200), cnpj_cpf VARCHAR(20), telefone_celular VARCHAR(40),
  ativo CHAR(1), data_cadastro DATE, bairro VARCHAR(100), cidade INT, id_tipo_cliente INT) CHARSET utf8mb4;
CREATE TABLE fn_areceber (id INT AUTO_INCREMENT PRIMARY KEY, id_cliente INT, id_contrato INT, filial_id INT,
  status CHAR(1), data_vencimento DATE, valor DECIMAL(10,2), valor_aberto DECIMAL(10,2)) CHARSET utf8mb4;
CREATE TABLE filial (id INT PRIMARY KEY, razao VARCHAR(150)) CHARSET utf8mb4;
CREATE TABLE cidade (id INT PRIMARY KEY, nome VARCHAR(100)) CHARSET utf8mb4;
CREATE TABLE tipo_cliente (id INT PRIMARY KEY, tipo_cliente VARCHAR(60)) CHARSET utf8mb4;
INSERT INTO filial VALUES (1, 'Matriz São Paulo'), (2, 'Filial Recife');
INSERT INTO cidade VALUES (1, 'São Paulo'), (2, 'Recife');
INSERT INTO tipo_cliente VALUES (1, 'Pessoa Física'), (2, 'Pessoa Jurídica');
)sql";

// A database with the five tables, dropped at the end of the test.
class IxcDatabase {
 public:
  IxcDatabase() {
    auto servers = test_servers();
    if (!servers) throw std::runtime_error("no test servers");
    server_ = servers->mariadb;
    name_ = testing::unique_database_name("ixc");
    MariaAdmin(server_).exec("CREATE DATABASE " + name_ + " CHARACTER SET utf8mb4");
    admin_ = std::make_unique<MariaAdmin>(server_, name_);
    admin_->exec("SET SESSION sql_mode = 'NO_ENGINE_SUBSTITUTION'");  // zero dates allowed
    admin_->exec(kSchema);
  }
  ~IxcDatabase() {
    admin_.reset();
    try {
      MariaAdmin(server_).exec("DROP DATABASE IF EXISTS " + name_);
    } catch (...) {
    }
  }
  void exec(const std::string& sql) { admin_->exec(sql); }
  RunSettings settings(const std::string& zabbix_host = "zabbix-teste") const {
    RunSettings s;
    s.db_host = server_.host;
    s.db_port = server_.port;
    s.db_user = server_.user;
    s.db_password = server_.password;
    s.database = name_;
    s.zabbix_host = zabbix_host;
    return s;
  }
  // Every row of the overdue-customers query, each value as describe() writes it.
  std::vector<std::vector<std::string>> fetch() const {
    std::vector<std::vector<std::string>> rows;
    IxcConnection conn(settings());
    obterDadosCliente(conn, [&rows](std::span<const SqlValue> row) {
      std::vector<std::string>& texts = rows.emplace_back();
      for (const SqlValue& value : row) texts.push_back(describe(value));
    });
    conn.close();
    return rows;
  }
  DiscoveryResult build(const std::string& zabbix_host = "zabbix-teste") const {
    RecordBuilder builder(zabbix_host);
    IxcConnection conn(settings());
    obterDadosCliente(conn, [&builder](std::span<const SqlValue> row) { builder.add(row); });
    conn.close();
    return std::move(builder).finish();
  }

  // A row value as a text that names its kind, e.g. "int 10" or "decimal 12.30".
  static std::string describe(const SqlValue& value) {
    if (std::holds_alternative<Null>(value)) return "null";
    if (const auto* i = std::get_if<std::int64_t>(&value)) return "int " + std::to_string(*i);
    if (const auto* d = std::get_if<double>(&value)) return "double " + format_double(*d);
    if (const auto* d = std::get_if<SqlDecimal>(&value)) return "decimal " + std::string(d->text);
    if (const auto* t = std::get_if<std::string_view>(&value)) return "text " + std::string(*t);
    return "date " + format_datetime(std::get<DateTime>(value));
  }

 private:
  testing::ServerAddress server_;
  std::string name_;
  std::unique_ptr<MariaAdmin> admin_;
};

// The customer row for `id`, with the default values tests do not care about.
std::string customer(int id, const std::string& extra_columns = "", const std::string& extra_values = "") {
  return "INSERT INTO cliente (id, razao, cnpj_cpf, telefone_celular, ativo, data_cadastro, bairro, cidade, "
         "id_tipo_cliente" +
         extra_columns + ") VALUES (" + std::to_string(id) + ", 'Cliente " + std::to_string(id) +
         "', '000.000.000-00', '(11) 90000-0000', 'S', '2021-03-04', 'Centro', 1, 1" + extra_values + ")";
}

// An overdue receivable of `id`: due `days` days before today.
std::string receivable(int id, int days = 10, const std::string& valor = "100.00",
                       const std::string& aberto = "100.00", const std::string& status = "A",
                       const std::string& contrato = "500", const std::string& filial = "1") {
  return "INSERT INTO fn_areceber (id_cliente, id_contrato, filial_id, status, data_vencimento, valor, "
         "valor_aberto) VALUES (" +
         std::to_string(id) + ", " + contrato + ", " + filial + ", '" + status + "', CURRENT_DATE() - INTERVAL " +
         std::to_string(days) + " DAY, " + valor + ", " + aberto + ")";
}

// The value held for a record value, so that tests can keep and compare it.
Value held(const ValueView& value) {
  return std::visit(
      [](const auto& v) -> Value {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::string_view>)
          return std::string(v);
        else
          return v;
      },
      value);
}

// The index of the record of customer `id`, or the list's size when there is none.
std::size_t record_of(const DiscoveryResult& result, std::int64_t id) {
  const CustomerList& records = result.descobertaClientesDB;
  for (std::size_t i = 0; i < records.size(); ++i)
    if (records.value(i, 0) == ValueView(id)) return i;
  return records.size();
}

Value field_at(const DiscoveryResult& result, std::size_t record, std::string_view key) {
  if (record >= result.descobertaClientesDB.size()) return std::string("<no record>");
  for (std::size_t f = 0; f < kCustomerKeys.size(); ++f)
    if (kCustomerKeys[f] == key) return held(result.descobertaClientesDB.value(record, f));
  return std::string("<no field>");
}

Value field(const DiscoveryResult& result, std::int64_t id, std::string_view key) {
  return field_at(result, record_of(result, id), key);
}

TEST(IxcConnectionTest, AsksForUtf8mb4WithTheGeneralCollation) {
  IxcDatabase db;
  IxcConnection conn(db.settings());
  const char* sql =
      "SELECT @@character_set_client, @@character_set_connection, @@character_set_results, @@collation_connection";
  ASSERT_EQ(mysql_query(conn.handle(), sql), 0) << mysql_error(conn.handle());
  MYSQL_RES* res = mysql_store_result(conn.handle());
  ASSERT_NE(res, nullptr);
  MYSQL_ROW row = mysql_fetch_row(res);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row[0], "utf8mb4");
  EXPECT_STREQ(row[1], "utf8mb4");
  EXPECT_STREQ(row[2], "utf8mb4");
  EXPECT_STREQ(row[3], "utf8mb4_general_ci");
  mysql_free_result(res);
}

TEST(IxcConnectionTest, FailuresThrow) {
  IxcDatabase db;
  RunSettings wrong_password = db.settings();
  wrong_password.db_password += "x";
  EXPECT_THROW(IxcConnection{wrong_password}, MysqlError);
  RunSettings closed = db.settings();
  closed.db_port = std::to_string(testing::closed_port());
  EXPECT_THROW(IxcConnection{closed}, MysqlError);
  RunSettings words = db.settings();
  words.db_port = "porta";
  EXPECT_THROW(IxcConnection{words}, MysqlError);
  RunSettings no_db = db.settings();
  no_db.database += "_nao_existe";
  EXPECT_THROW(IxcConnection{no_db}, MysqlError);
}

TEST(OverdueQuery, EmptyResult) {
  IxcDatabase db;
  EXPECT_TRUE(db.fetch().empty());
  const DiscoveryResult result = db.build("debug");
  EXPECT_TRUE(result.descobertaClientesDB.empty());
  EXPECT_EQ(result.totals.somaValorAtrasoAtivo, Value(std::int64_t{0}));
  EXPECT_EQ(result.totals.somaValorAtrasoInativo, Value(std::int64_t{0}));
  EXPECT_EQ(result.totals.somaClientesAtrasoAtivo, 0);
  EXPECT_EQ(result.totals.somaTitulosAtrasoInativo, 0);
}

TEST(OverdueQuery, ExcludesWhatIsNotOverdueAndGroupsTheRest) {
  IxcDatabase db;
  for (int id = 1; id <= 7; ++id) db.exec(customer(id));
  db.exec(receivable(1, 10, "100.00", "100.00", "R"));       // settled
  db.exec(receivable(1, 10, "100.00", "100.00", "C"));       // cancelled
  db.exec(receivable(2, 0));                                 // due today: not overdue
  db.exec(receivable(2, -5));                                // due later
  db.exec(receivable(3, 10, "100.00", "0.00"));              // nothing open
  db.exec(receivable(4, 10, "100.00", "100.00", "A", "NULL"));  // no contract
  db.exec(receivable(5, 1));                                 // due yesterday: overdue
  db.exec(receivable(6, 30, "100.00", "40.50"));             // several receivables
  db.exec(receivable(6, 60, "NULL", "10.25"));
  db.exec(receivable(6, 5, "80.00", "80.00"));
  db.exec(receivable(6, 5, "80.00", "80.00", "R"));
  db.exec(receivable(7, 10, "100.00", "100.00", "a"));  // status compared by the server's collation

  std::vector<std::string> ids;
  for (const auto& row : db.fetch()) ids.push_back(row[0]);
  std::sort(ids.begin(), ids.end());
  // 'a' equals 'A' under utf8mb4_general_ci (the server compares, not us).
  EXPECT_EQ(ids, (std::vector<std::string>{"int 5", "int 6", "int 7"}));

  const DiscoveryResult result = db.build();
  EXPECT_EQ(field(result, 6, "{#TITULOS_ATRASO}"), Value(std::int64_t{2}));  // the null valor is not counted
  EXPECT_EQ(field(result, 6, "{#VALOR_ATRASO}"), Value(130.75));
  const Value due_value = field(result, 6, "{#DATA_VENCIMENTO}");
  const auto* due = std::get_if<DateTime>(&due_value);
  ASSERT_NE(due, nullptr);
  // The earliest due date: 60 days ago (as the server counts days).
  MariaAdmin admin(test_servers()->mariadb);
  const auto expected = admin.query("SELECT DATE_FORMAT(CURRENT_DATE() - INTERVAL 60 DAY, '%Y %c %e')");
  char text[32];
  std::snprintf(text, sizeof text, "%d %d %d", due->year, due->month, due->day);
  EXPECT_EQ(std::string(text), *expected[0][0]);
  EXPECT_EQ(due->hour, 0);
}

// Customers enough that their result (about 25 MB) cannot all be in the
// connection's buffers at once: the server is still sending when the first
// row arrives.
void add_many_overdue_customers(IxcDatabase& db, int count) {
  const std::string n = std::to_string(count);
  db.exec("INSERT INTO cliente SELECT seq, CONCAT(seq, REPEAT('n', 190)), '000.000.000-00', REPEAT('9', 40), 'S', "
          "'2021-03-04', REPEAT('b', 100), 1, 1 FROM seq_1_to_" + n);
  db.exec("INSERT INTO fn_areceber (id_cliente, id_contrato, filial_id, status, data_vencimento, valor, valor_aberto) "
          "SELECT seq, 1, 1, 'A', CURRENT_DATE() - INTERVAL 1 + seq % 300 DAY, 1, 1 FROM seq_1_to_" + n);
}

TEST(OverdueQuery, ConnectionLostWhileRowsArriveIsAFetchFailure) {
  IxcDatabase db;
  constexpr int kCustomers = 60000;
  add_many_overdue_customers(db, kCustomers);
  IxcConnection conn(db.settings());
  int rows = 0;
  try {
    obterDadosCliente(conn, [&](std::span<const SqlValue>) {
      if (rows++ == 0) db.exec("KILL CONNECTION " + std::to_string(mysql_thread_id(conn.handle())));
    });
    ADD_FAILURE() << "no error after " << rows << " rows";
  } catch (const MysqlError& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with("Falha ao ler o resultado do MySQL do IXC: ")) << e.what();
  }
  EXPECT_GT(rows, 0);
  EXPECT_LT(rows, kCustomers);
  conn.close();
}

TEST(OverdueQuery, FailureOfTheRowHandlerStopsTheFetch) {
  IxcDatabase db;
  add_many_overdue_customers(db, 60000);
  IxcConnection conn(db.settings());
  int rows = 0;
  EXPECT_THROW(obterDadosCliente(conn,
                                 [&rows](std::span<const SqlValue>) {
                                   ++rows;
                                   throw ConversionError("parar");
                                 }),
               ConversionError);
  EXPECT_EQ(rows, 1);
  conn.close();
  // The server is left in order: the same statement runs again on a new connection.
  IxcConnection again(db.settings());
  rows = 0;
  obterDadosCliente(again, [&rows](std::span<const SqlValue>) { ++rows; });
  EXPECT_EQ(rows, 60000);
}

TEST(OverdueQuery, ValuesMappedByFieldType) {
  IxcDatabase db;
  db.exec(customer(10));
  db.exec(receivable(10, 3, "12.30", "12.30", "A", "987"));
  const auto rows = db.fetch();
  ASSERT_EQ(rows.size(), 1u);
  const auto& row = rows[0];
  ASSERT_EQ(row.size(), 14u);
  EXPECT_EQ(row[0], "int 10");
  EXPECT_EQ(row[1], "int 987");
  EXPECT_EQ(row[2], "text Cliente 10");
  EXPECT_EQ(row[5], "text S");
  EXPECT_EQ(row[6], "date 2021-03-04 00:00:00");
  EXPECT_EQ(row[7], "decimal 12.30");
  EXPECT_EQ(row[8], "int 1");
  EXPECT_TRUE(row[9].starts_with("date ")) << row[9];
  EXPECT_EQ(row[10], "text Matriz São Paulo");
  EXPECT_EQ(row[11], "text São Paulo");
  EXPECT_EQ(row[13], "text Pessoa Física");
}

TEST(OverdueQuery, MissingCityTypeAndBranchAreNull) {
  IxcDatabase db;
  db.exec("INSERT INTO cliente (id, razao, ativo, data_cadastro) VALUES (20, 'Sem Nada', 'S', NULL)");
  db.exec(receivable(20, 3, "1.00", "1.00", "A", "1", "NULL"));
  db.exec("INSERT INTO cliente (id, razao, ativo, cidade, id_tipo_cliente) "
          "VALUES (21, 'Cidade Inexistente', 'S', 99, 99)");
  db.exec(receivable(21, 3, "1.00", "1.00", "A", "1", "99"));
  const DiscoveryResult result = db.build();
  ASSERT_EQ(result.descobertaClientesDB.size(), 2u);
  for (const std::int64_t id : {20, 21}) {
    EXPECT_EQ(field(result, id, "{#FILIAL}"), Value(Null{})) << id;
    EXPECT_EQ(field(result, id, "{#CIDADE}"), Value(Null{})) << id;
    EXPECT_EQ(field(result, id, "{#TIPO_CLIENTE}"), Value(Null{})) << id;
  }
  for (const char* key : {"{#BAIRRO}", "{#CPF_CNPJ}", "{#CONTATO_CLIENTE}", "{#DATA_CADASTRO}"})
    EXPECT_EQ(field(result, 20, key), Value(Null{})) << key;
}

TEST(Records, FifteenKeysInOrderWithContactAndStatusRules) {
  IxcDatabase db;
  // contact: null, empty, one blank; status: N, n, S, empty, null
  db.exec("INSERT INTO cliente (id, razao, telefone_celular, ativo, data_cadastro) VALUES "
          "(31, 'A', NULL, 'N', '2021-03-04'), (32, 'B', '', 'n', NULL), (33, 'C', ' ', 'S', '0000-00-00'), "
          "(34, 'D', '9', '', '2015-06-00'), (35, 'E', '8', NULL, '2015-00-10')");
  for (int id = 31; id <= 35; ++id) db.exec(receivable(id, id - 30, "10.00", "10.00"));
  const DiscoveryResult result = db.build("meu-zabbix");
  const CustomerList& records = result.descobertaClientesDB;
  ASSERT_EQ(records.size(), 5u);
  std::vector<FieldView> fields;
  for (std::size_t r = 0; r < records.size(); ++r) {
    records.read(r, fields);
    ASSERT_EQ(fields.size(), 15u);
    for (std::size_t i = 0; i < 15; ++i) EXPECT_EQ(fields[i].key, kCustomerKeys[i]);
    EXPECT_EQ(fields[14].value, ValueView(std::string_view("meu-zabbix")));
  }
  EXPECT_EQ(field(result, 31, "{#CONTATO_CLIENTE}"), Value(Null{}));
  EXPECT_EQ(field(result, 32, "{#CONTATO_CLIENTE}"), Value(Null{}));
  EXPECT_EQ(field(result, 33, "{#CONTATO_CLIENTE}"), Value(std::string(" ")));
  EXPECT_EQ(field(result, 31, "{#STATUS_CLIENTE}"), Value(std::int64_t{0}));
  for (const int id : {32, 33, 34, 35}) EXPECT_EQ(field(result, id, "{#STATUS_CLIENTE}"), Value(std::int64_t{1})) << id;
  EXPECT_EQ(field(result, 31, "{#DATA_CADASTRO}"), Value(DateTime{2021, 3, 4, 0, 0, 0, 0}));
  for (const int id : {32, 33, 34, 35}) EXPECT_EQ(field(result, id, "{#DATA_CADASTRO}"), Value(Null{})) << id;
  // The result order is the server's (latest due date first).
  EXPECT_EQ(field_at(result, 0, "{#ID_CLIENTE}"), Value(std::int64_t{31}));
  EXPECT_EQ(field_at(result, 4, "{#ID_CLIENTE}"), Value(std::int64_t{35}));

  const Totals& t = result.totals;
  EXPECT_EQ(t.somaClientesAtrasoInativo, 1);
  EXPECT_EQ(t.somaTitulosAtrasoInativo, 1);
  EXPECT_EQ(t.somaValorAtrasoInativo, Value(10.0));
  EXPECT_EQ(t.somaClientesAtrasoAtivo, 4);
  EXPECT_EQ(t.somaTitulosAtrasoAtivo, 4);
  EXPECT_EQ(t.somaValorAtrasoAtivo, Value(40.0));
}

TEST(Records, AmountsAreTheNearestDoubleAndTotalsRoundHalfEven) {
  IxcDatabase db;
  db.exec("ALTER TABLE fn_areceber MODIFY valor_aberto DECIMAL(12,3)");
  db.exec(customer(41));
  db.exec(receivable(41, 2, "10.00", "10.005"));
  db.exec(customer(42, "", "") + "; UPDATE cliente SET ativo = 'N' WHERE id = 42");
  db.exec(receivable(42, 3, "2.675", "2.675"));
  const DiscoveryResult result = db.build();
  EXPECT_EQ(field(result, 41, "{#VALOR_ATRASO}"), Value(10.005));  // not rounded
  EXPECT_EQ(result.totals.somaValorAtrasoAtivo, Value(10.01));  // 10.005's double lies above 10.005
  EXPECT_EQ(result.totals.somaValorAtrasoInativo, Value(2.67));  // 2.675's lies below

  IxcDatabase db2;
  db2.exec("ALTER TABLE fn_areceber MODIFY valor_aberto DECIMAL(12,3)");
  db2.exec(customer(43));
  db2.exec(receivable(43, 2, "0.125", "0.125"));
  const DiscoveryResult r2 = db2.build();
  EXPECT_EQ(r2.totals.somaValorAtrasoAtivo, Value(0.12));
  EXPECT_EQ(r2.totals.somaValorAtrasoInativo, Value(std::int64_t{0}));  // no inactive row: the integer 0
  std::ostringstream out;
  write_debug_report(r2, out);
  EXPECT_NE(out.str().find("Valor total em dívida dos clientes ativos:           0.12\n"), std::string::npos);
  EXPECT_NE(out.str().find("Valor total em dívida dos clientes inativos:         0\n"), std::string::npos);
}

TEST(Records, InvalidUtf8EndsTheRunNamingCustomerAndColumn) {
  IxcDatabase db;
  db.exec("ALTER TABLE cliente MODIFY bairro VARBINARY(100)");
  db.exec(customer(51));
  db.exec("UPDATE cliente SET bairro = X'43C328' WHERE id = 51");
  db.exec(receivable(51));
  try {
    db.fetch();
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("'bairro'"), std::string::npos) << message;
    EXPECT_NE(message.find("cliente 51"), std::string::npos) << message;
    EXPECT_NE(message.find("UTF-8"), std::string::npos) << message;
  }
}

// A row of fourteen values as the query gives them, with the values that
// every record needs.
std::vector<SqlValue> plain_row(std::int64_t id) {
  std::vector<SqlValue> cells(14, Null{});
  cells[0] = id;
  cells[7] = SqlDecimal{"1.00"};
  cells[8] = std::int64_t{1};
  return cells;
}

TEST(Records, ValuesThatCannotBeConvertedEndTheRun) {
  std::vector<SqlValue> cells = plain_row(1);
  cells[7] = std::string_view("muito");
  EXPECT_THROW(RecordBuilder("z").add(cells), ConversionError);  // amount is not a number
  cells[7] = SqlDecimal{"1,00"};
  EXPECT_THROW(RecordBuilder("z").add(cells), ConversionError);  // nor a decimal text
  cells = plain_row(1);
  cells[6] = std::string_view("2021-03-04");
  EXPECT_THROW(RecordBuilder("z").add(cells), ConversionError);  // date is not a date
  cells = plain_row(1);
  cells[8] = SqlDecimal{"1"};
  EXPECT_THROW(RecordBuilder("z").add(cells), ConversionError);  // title count is not an integer
  cells = plain_row(1);
  cells.pop_back();
  EXPECT_THROW(RecordBuilder("z").add(cells), ConversionError);  // thirteen columns
  RecordBuilder builder("z");
  builder.add(plain_row(1));
  EXPECT_EQ(std::move(builder).finish().descobertaClientesDB.size(), 1u);
}

TEST(Records, ManyRowsKeepTheirOrderValuesAndTotals) {
  RecordBuilder builder("z");
  const std::size_t n = 5000;
  for (std::size_t i = 0; i < n; ++i) {
    // The row's texts live only for the call, as the client library's do.
    const std::string name = "Cliente com um nome bem comprido número " + std::to_string(i);
    const std::string city = "Cidade " + std::to_string(i % 300);
    std::vector<SqlValue> cells = plain_row(static_cast<std::int64_t>(i));
    cells[2] = std::string_view(name);
    cells[5] = std::string_view(i % 3 == 0 ? "N" : "S");
    cells[6] = DateTime{2020, 1, 1 + static_cast<int>(i % 28), 0, 0, 0, 0};
    cells[7] = SqlDecimal{"1.50"};
    cells[8] = std::int64_t{2};
    cells[11] = std::string_view(city);
    builder.add(cells);
  }
  const DiscoveryResult result = std::move(builder).finish();
  const CustomerList& records = result.descobertaClientesDB;
  ASSERT_EQ(records.size(), n);
  for (std::size_t i = 0; i < n; ++i) {
    ASSERT_EQ(records.value(i, 0), ValueView(static_cast<std::int64_t>(i)));
    ASSERT_EQ(held(records.value(i, 2)), Value("Cliente com um nome bem comprido número " + std::to_string(i)));
    ASSERT_EQ(held(records.value(i, 11)), Value("Cidade " + std::to_string(i % 300)));
    ASSERT_EQ(records.value(i, 5), ValueView(std::int64_t{i % 3 == 0 ? 0 : 1}));
    ASSERT_EQ(records.value(i, 7), ValueView(1.5));
    ASSERT_EQ(records.value(i, 14), ValueView(std::string_view("z")));
  }
  const std::int64_t inactive = static_cast<std::int64_t>((n + 2) / 3);
  EXPECT_EQ(result.totals.somaClientesAtrasoInativo, inactive);
  EXPECT_EQ(result.totals.somaClientesAtrasoAtivo, static_cast<std::int64_t>(n) - inactive);
  EXPECT_EQ(result.totals.somaTitulosAtrasoAtivo, 2 * (static_cast<std::int64_t>(n) - inactive));
  EXPECT_EQ(result.totals.somaValorAtrasoInativo, Value(1.5 * static_cast<double>(inactive)));
}

}  // namespace
}  // namespace cobrix
