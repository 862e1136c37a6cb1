#include "central/names.h"

#include "central/failures.h"

namespace cobrix::central {

namespace {

bool lower_or_underscore(char c) { return (c >= 'a' && c <= 'z') || c == '_'; }
bool digit(char c) { return c >= '0' && c <= '9'; }
bool letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

void check_role(const std::string& role) {
  bool ok = !role.empty() && role.size() <= 63 && lower_or_underscore(role[0]);
  for (const char c : role) ok = ok && (lower_or_underscore(c) || digit(c));
  if (!ok)
    throw UsageError("nome de papel inválido: '" + role +
                     "' (use de 1 a 63 caracteres entre a-z, 0-9 e _, sem começar por algarismo).");
}

void check_installation(const std::string& id) {
  bool ok = !id.empty() && id.size() <= 128 && id[0] != '.' && id != "debug";
  for (const char c : id) ok = ok && (letter(c) || digit(c) || c == '.' || c == '_' || c == ' ' || c == '-');
  if (!ok)
    throw UsageError("identificação de instalação inválida: '" + id +
                     "' (use de 1 a 128 caracteres entre A-Z, a-z, 0-9, '.', '_', '-' e espaço, sem começar "
                     "por '.'; 'debug' não é uma instalação).");
}

}  // namespace cobrix::central
