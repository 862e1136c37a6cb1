#include "central/password.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <memory>

#include "central/failures.h"
#include "store/pg_connection.h"

namespace cobrix::central {

namespace {

// Turns the terminal's echo off for as long as it lives.
class EchoOff {
 public:
  EchoOff() : saved_ok_(::tcgetattr(STDIN_FILENO, &saved_) == 0) {
    if (!saved_ok_) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  ~EchoOff() {
    if (saved_ok_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  termios saved_{};
  bool saved_ok_;
};

std::string first_line(std::istream& in) {
  std::string line;
  if (!std::getline(in, line) && line.empty()) throw UsageError("nenhuma senha na entrada padrão.");
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string typed(std::istream& in, const std::string& prompt) {
  std::cerr << prompt << std::flush;
  const EchoOff quiet;
  std::string line;
  std::getline(in, line);
  std::cerr << '\n' << std::flush;  // the Enter key's line feed was not echoed
  return line;
}

}  // namespace

std::string read_password(std::istream& in, const std::string& role) {
  std::string password;
  if (&in == &std::cin && ::isatty(STDIN_FILENO)) {
    password = typed(in, "Senha do papel " + role + ": ");
    if (!password.empty() && typed(in, "Repita a senha: ") != password)
      throw UsageError("as duas senhas digitadas diferem.");
  } else {
    password = first_line(in);
  }
  if (password.empty()) throw UsageError("a senha não pode ser vazia.");
  if (password.find('\0') != std::string::npos) throw UsageError("a senha não pode conter o byte NUL.");
  return password;
}

std::string scram_verifier(PGconn* conn, const std::string& password, const std::string& role) {
  char* raw = PQencryptPasswordConn(conn, password.c_str(), role.c_str(), "scram-sha-256");
  if (!raw) throw store::PgError(store::connection_message(conn), "");
  const std::unique_ptr<char, decltype(&PQfreemem)> owner(raw, &PQfreemem);
  return raw;
}

}  // namespace cobrix::central
