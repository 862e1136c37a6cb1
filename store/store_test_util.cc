#include "store/store_test_util.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "store/store.h"

namespace cobrix::store_test {

TestDatabase::TestDatabase(const std::string& tag) : name_(testing::unique_database_name(tag)) {
  const auto servers = testing::test_servers();
  if (!servers) throw std::runtime_error("no test servers");
  server_ = servers->postgres;
  testing::PgAdmin(server_).exec("CREATE DATABASE " + name_);
}

TestDatabase::~TestDatabase() {
  try {
    testing::PgAdmin(server_).exec("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (...) {
  }
}

RunSettings TestDatabase::settings() const {
  RunSettings s;
  s.postgres_ip = server_.host;
  s.postgres_port = server_.port;
  s.pg_user = server_.user;
  s.pg_password = server_.password;
  s.pg_db = name_;
  s.zabbix_host = "zabbix";
  return s;
}

void TestDatabase::exec(const std::string& sql) const { testing::PgAdmin(server_, name_).exec(sql); }

testing::Rows TestDatabase::query(const std::string& sql) const { return testing::PgAdmin(server_, name_).query(sql); }

std::string TestDatabase::scalar(const std::string& sql) const {
  const testing::Rows rows = query(sql);
  if (rows.size() != 1 || rows[0].size() != 1) throw std::runtime_error("not one value: " + sql);
  return rows[0][0].value_or("NULL");
}

RunSettings through_pooler(const TestDatabase& db, const std::string& database) {
  const auto servers = testing::test_servers();
  if (!servers) throw std::runtime_error("no test servers");
  RunSettings s = db.settings();
  s.postgres_port = servers->pooler.port;
  if (!database.empty()) s.pg_db = database;
  return s;
}

std::vector<testing::Rows> on_each_server_connection(const RunSettings& pooled, const std::string& sql) {
  const testing::ServerAddress pooler{pooled.postgres_ip, pooled.postgres_port, pooled.pg_user, pooled.pg_password};
  testing::PgAdmin a(pooler, pooled.pg_db), b(pooler, pooled.pg_db);
  a.exec("BEGIN");
  b.exec("BEGIN");
  std::vector<testing::Rows> rows = {a.query(sql), b.query(sql)};
  a.exec("COMMIT");
  b.exec("COMMIT");
  return rows;
}

bool pooler_keeps_statements() {
  const auto servers = testing::test_servers();
  if (!servers) throw std::runtime_error("no test servers");
  for (const auto& row : testing::PgAdmin(servers->pooler, "pgbouncer").query("SHOW CONFIG"))
    if (row.at(0) == "max_prepared_statements") return row.at(1).value_or("0") != "0";
  return false;  // a release without it hands every statement through
}

long check_pool_statements(const RunSettings& pooled) {
  long executions = 0;
  const std::vector<testing::Rows> held = on_each_server_connection(
      pooled,
      "SELECT name, statement LIKE '%INSERT INTO ixc_clientes%', generic_plans + custom_plans "
      "FROM pg_prepared_statements ORDER BY name");
  for (std::size_t c = 0; c < held.size(); ++c) {
    int pages = 0;
    for (const std::vector<testing::Cell>& row : held[c]) {
      const std::string name = row.at(0).value_or("");
      EXPECT_TRUE(name.starts_with("PGBOUNCER_")) << "server connection " << c << " holds " << name;
      if (row.at(1) == "t") {
        ++pages;
        executions += std::stol(row.at(2).value_or("0"));
      }
    }
    EXPECT_LE(pages, 1) << "server connection " << c << " parsed the page statement " << pages << " times";
  }
  return executions;
}

Record customer(std::int64_t id, const std::string& ixc, const std::string& name) {
  return {
      {"{#ID_CLIENTE}", id},
      {"{#ID_CONTRATO}", id + 100000},
      {"{#RAZAO_SOCIAL}", name},
      {"{#CPF_CNPJ}", "000.000.000-" + std::to_string(id % 100)},
      {"{#CONTATO_CLIENTE}", "(11) 4000-" + std::to_string(id)},
      {"{#STATUS_CLIENTE}", std::int64_t{1}},
      {"{#DATA_CADASTRO}", DateTime{2020, 3, 4}},
      {"{#VALOR_ATRASO}", 10.5 + double(id)},
      {"{#TITULOS_ATRASO}", std::int64_t{2}},
      {"{#DATA_VENCIMENTO}", DateTime{2026, 11, 30}},
      {"{#FILIAL}", "Matriz"},
      {"{#CIDADE}", "São Paulo"},
      {"{#BAIRRO}", "Centro"},
      {"{#TIPO_CLIENTE}", "Pessoa Física"},
      {"{#IXC_IDENTIFICATION}", ixc},
  };
}

std::vector<Record> customers(std::size_t count, const std::string& ixc, std::int64_t first_id) {
  std::vector<Record> records;
  records.reserve(count);
  for (std::size_t i = 0; i < count; ++i) records.push_back(customer(first_id + std::int64_t(i), ixc));
  return records;
}

void set_value(Record& record, const std::string& key, Value value) {
  for (Field& field : record)
    if (field.key == key) field.value = std::move(value);
}

StoreRun run_store(const std::vector<Record>& records, const RunSettings& settings) {
  std::ostringstream out;
  const bool ok = sendPostgresClientes(records, settings, out);
  return {ok, out.str()};
}

std::string normal_lines(std::size_t count) {
  return "Conectado ao PostgreSQL com sucesso.\nEnviando " + std::to_string(count) +
         " registros (Clientes) com UPSERT...\nUPSERT em ixc_clientes concluído com sucesso!\n"
         "Registros antigos (mais de 1 dia) apagados.\n";
}

}  // namespace cobrix::store_test
