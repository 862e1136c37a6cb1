#include "store/store.h"

#include <stdexcept>

namespace cobrix {

bool sendPostgresClientes(const std::vector<Record>&, const RunSettings&, std::ostream&) {
  throw std::runtime_error("sendPostgresClientes: ainda não implementado");
}

}  // namespace cobrix
