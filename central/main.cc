// cobrix-central: the administration of the central PostgreSQL database
// that many installations share (see doc/cobrix-central.1). It connects as
// the database's owner through libpq's environment.

#include <iostream>
#include <string>
#include <vector>

#include "central/failures.h"
#include "central/layout.h"
#include "central/names.h"
#include "central/password.h"
#include "central/retention.h"
#include "central/roles.h"
#include "central/session.h"

namespace {

using namespace cobrix::central;

const char* const kUsage =
    "uso: cobrix-central init\n"
    "     cobrix-central add-installation PAPEL ID\n"
    "     cobrix-central add-reader PAPEL ID...\n"
    "     cobrix-central remove-installation ID\n"
    "     cobrix-central retention\n"
    "A senha de PAPEL é a primeira linha da entrada padrão. A conexão, como dono do banco, vem do\n"
    "ambiente do libpq (PGHOST, PGPORT, PGUSER, PGPASSWORD ou PGPASSFILE, PGDATABASE, PGSSLMODE...).\n";

// A command line, checked: the subcommand, its role and installations.
struct Command {
  std::string name;
  std::string role;              // add-installation, add-reader
  std::vector<std::string> ids;  // add-installation, add-reader, remove-installation
  bool needs_password() const { return !role.empty(); }
};

// Throws UsageError unless `args` (without the program's name) is one of
// the usage text's forms with valid names.
Command parse(const std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("falta o subcomando.");
  Command command{args[0], "", {args.begin() + 1, args.end()}};
  const std::size_t rest = command.ids.size();
  const auto wrong_count = [&] { return UsageError("número de argumentos errado para " + command.name + "."); };
  if (command.name == "init" || command.name == "retention") {
    if (rest != 0) throw wrong_count();
  } else if (command.name == "add-installation" || command.name == "add-reader") {
    if (command.name == "add-installation" ? rest != 2 : rest < 2) throw wrong_count();
    command.role = command.ids.front();
    command.ids.erase(command.ids.begin());
    check_role(command.role);
  } else if (command.name == "remove-installation") {
    if (rest != 1) throw wrong_count();
  } else {
    throw UsageError("subcomando desconhecido: '" + command.name + "'.");
  }
  for (const std::string& id : command.ids) check_installation(id);
  return command;
}

void run(const Command& command, const std::string& password) {
  const PgConn conn = connect_from_environment();
  if (command.name == "init") init(conn.get(), std::cout);
  if (command.name == "add-installation")
    add_installation(conn.get(), command.role, command.ids.front(), password, std::cout);
  if (command.name == "add-reader") add_reader(conn.get(), command.role, command.ids, password, std::cout);
  if (command.name == "remove-installation") remove_installation(conn.get(), command.ids.front(), std::cout);
  if (command.name == "retention") retention(conn.get(), std::cout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  try {
    const Command command = parse(args);
    const std::string password = command.needs_password() ? read_password(std::cin, command.role) : "";
    run(command, password);
    return 0;
  } catch (const UsageError& e) {
    std::cerr << "cobrix-central: " << e.what() << '\n' << kUsage;
    return 2;
  } catch (const PgError& e) {
    std::cerr << "cobrix-central: erro (PostgreSQL): " << e.what() << '\n';
  } catch (const std::exception& e) {
    std::cerr << "cobrix-central: erro: " << e.what() << '\n';
  }
  return 1;
}
