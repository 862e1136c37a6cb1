#include "tests/support/normal_run.h"

#include <stdexcept>
#include <utility>

namespace cobrix::testing {

void create_sample_ixc(const ServerAddress& mariadb, const std::string& database) {
  MariaAdmin(mariadb).exec("CREATE DATABASE " + database + " CHARACTER SET utf8mb4");
  const std::string load = "--default-character-set=utf8mb4 " + database + " < " + COBRIX_SOURCE_DIR +
                           "/sample/ixc_sample.sql";
  if (mariadb_client(mariadb, load) != 0) throw std::runtime_error("cannot load the sample: " + load);
}

std::string normal_run_output(std::size_t count) {
  return "Conectado ao PostgreSQL com sucesso.\nEnviando " + std::to_string(count) +
         " registros (Clientes) com UPSERT...\nUPSERT em ixc_clientes concluído com sucesso!\n"
         "Registros antigos (mais de 1 dia) apagados.\nOK\n";
}

Installation::Installation(std::string program) : program_(std::move(program)) {
  const auto servers = test_servers();
  if (!servers) throw std::runtime_error("no test servers");
  maria_ = servers->mariadb;
  pg_ = servers->postgres;
  pooler_port_ = servers->pooler.port;
  ixc_ = unique_database_name("e2e_ixc");
  pg_db_ = unique_database_name("e2e_pg");
  create_sample_ixc(maria_, ixc_);
  PgAdmin(pg_).exec("CREATE DATABASE " + pg_db_);
}

Installation::~Installation() {
  try {
    MariaAdmin(maria_).exec("DROP DATABASE IF EXISTS " + ixc_);
    PgAdmin(pg_).exec("DROP DATABASE IF EXISTS " + pg_db_ + " WITH (FORCE)");
  } catch (...) {
  }
}

Captured Installation::run(const std::string& zabbix_host, const PgLogin& login, const RunOptions& options) const {
  const auto pick = [](const std::string& given, const std::string& otherwise) {
    return given.empty() ? otherwise : given;
  };
  return run_program(program_,
                     {"cobrix", "descobertaClientes", maria_.host, maria_.port, maria_.user, maria_.password, ixc_,
                      pg_.host, pick(login.port, pg_.port), pg_db_, pick(login.user, pg_.user),
                      pick(login.password, pg_.password), zabbix_host},
                     options);
}

Captured Installation::run_through_pooler(const std::string& zabbix_host, PgLogin login) const {
  login.port = pooler_port_;
  return run(zabbix_host, login);
}

Rows Installation::pg(const std::string& sql) const { return PgAdmin(pg_, pg_db_).query(sql); }

std::string Installation::pg_value(const std::string& sql) const { return pg(sql).at(0).at(0).value_or("NULL"); }

Rows Installation::ixc(const std::string& sql) const { return MariaAdmin(maria_, ixc_).query(sql); }

}  // namespace cobrix::testing
