#include "tests/support/normal_run.h"

#include <stdexcept>

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

}  // namespace cobrix::testing
