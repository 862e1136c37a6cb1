#pragma once
// The argument check and the run configuration taken from it.

#include <optional>
#include <string_view>

#include "model/run_config.h"

namespace cobrix {

// The support contact at the end of the critical-error message.
inline constexpr std::string_view kCriticalError =
    "Erro crítico -- Contactar Tarvex em: suporte@tarvex.com.br ou +55 (11) 4000-1234";

// The leading option of the descriptor form: the two passwords come from an
// inherited file descriptor instead of the command line.
inline constexpr std::string_view kPasswordFdOption = "--senhas-fd=";

// A checked command line: the run configuration and, in the descriptor form,
// the descriptor that still has to deliver both passwords.
struct CommandLine {
  RunConfig config;
  std::optional<int> password_fd;
};

// The run configuration of a 2-entry (short) or 13-entry (full) argument
// vector, every value exactly as received, or of the 12-entry descriptor form
//   --senhas-fd=N MODE DB_HOST DB_PORT DB_USER DATABASE PG_HOST PG_PORT PG_DB PG_USER ZABBIX_HOST
// (entry 1 is the option; the passwords are left empty and password_fd is N).
// nullopt for any other vector, and for a descriptor form whose N is not a
// whole number from 0 to INT_MAX written in decimal digits only. A 2- or
// 13-entry vector is never read as the descriptor form, whatever entry 1 says.
std::optional<CommandLine> parse_command_line(int argc, const char* const* argv);

// Reads descriptor `fd` to its end and closes it. Its text must be the IXC
// password, one line feed, the PostgreSQL password and at most one final line
// feed (each password taken exactly, possibly empty; at most 64 KiB in all).
// Stores both passwords in `settings`. Throws a Failure of the kind
// "senhas" with a Portuguese message, including the system's reason when
// reading fails.
void read_passwords(int fd, RunSettings& settings);

// Overwrites, in place, the bytes of the two password entries (5 and 11) of
// a 13-entry argument vector, so that the process list no longer shows them.
// Other argument vectors are left alone.
void mask_passwords(int argc, char** argv);

}  // namespace cobrix
