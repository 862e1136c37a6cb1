#include "console/version_banner.h"

#include "console/styles.h"
#include "model/run_config.h"

namespace cobrix {

namespace {
constexpr std::string_view kRightsNotice =
    " cobrix - clientes em atraso do IXC para o Zabbix. Todos os direitos reservados.";
}

std::string version_name_line(std::string_view program_name) {
  std::string line;
  for (std::size_t i = 0; i < program_name.size();) {
    if (program_name.substr(i, 2) == "./") {
      line += ' ';
      i += 2;
    } else {
      line += program_name[i++];
    }
  }
  line += "  ";
  line += VERSION;
  return line;
}

void get_version(std::string_view program_name, std::ostream& out) {
  out << kRightsNotice << '\n' << version_name_line(program_name) << '\n';
  throw ExitRequest{0};
}

}  // namespace cobrix
