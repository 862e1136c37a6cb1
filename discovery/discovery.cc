#include "discovery/discovery.h"

#include <stdexcept>

namespace cobrix {

void descobertaClientes(const RunSettings&, std::ostream&) {
  throw std::runtime_error("descobertaClientes: ainda não implementado");
}

}  // namespace cobrix
