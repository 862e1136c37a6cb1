#pragma once
// The argument check and the run configuration taken from it.

#include <optional>

#include "model/run_config.h"

namespace cobrix {

// The support contact at the end of the critical-error message.
inline constexpr std::string_view kCriticalError =
    "Erro crítico -- Contactar Tarvex em: suporte@tarvex.com.br ou +55 (11) 4000-1234";

// The run configuration of a 2-entry (short) or 13-entry (full) argument
// vector, every value exactly as received; nullopt for any other count.
std::optional<RunConfig> parse_command_line(int argc, const char* const* argv);

// Overwrites, in place, the bytes of the two password entries (5 and 11) of
// a 13-entry argument vector, so that the process list no longer shows them.
// Other argument vectors are left alone.
void mask_passwords(int argc, char** argv);

}  // namespace cobrix
