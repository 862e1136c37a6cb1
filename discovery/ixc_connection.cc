#include "discovery/ixc_connection.h"

#include <errmsg.h>
#include <mysql.h>

#include <charconv>

namespace cobrix {

unsigned parse_port(std::string_view text) {
  unsigned value = 0;
  const bool digits_only =
      !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string_view::npos;
  if (digits_only) std::from_chars(text.data(), text.data() + text.size(), value);
  if (!digits_only || value < 1 || value > 65535)
    throw MysqlError(0, "Falha ao conectar ao MySQL do IXC: a porta '" + std::string(text) +
                            "' não é um número inteiro de 1 a 65535");
  return value;
}

std::string IxcConnection::error_text(::st_mysql* mysql) {
  return std::to_string(mysql_errno(mysql)) + " (" + mysql_sqlstate(mysql) + "): " + mysql_error(mysql);
}

IxcConnection::IxcConnection(const RunSettings& settings) {
  const unsigned port = parse_port(settings.db_port);
  mysql_ = mysql_init(nullptr);
  if (!mysql_) throw MysqlError(CR_OUT_OF_MEMORY, "Falha ao conectar ao MySQL do IXC: mysql_init sem memória");
  // Character set: named in the handshake. Collation: the handshake carries
  // only a collation number that servers may map to their own default
  // collation for the set, so the session is set explicitly, once, right
  // after the connection is established (before any statement of ours).
  static const std::string init_command =
      std::string("SET NAMES ") + kIxcCharset + " COLLATE " + kIxcCollation;
  if (mysql_optionsv(mysql_, MYSQL_SET_CHARSET_NAME, kIxcCharset) != 0 ||
      mysql_optionsv(mysql_, MYSQL_INIT_COMMAND, init_command.c_str()) != 0) {
    const std::string message = error_text(mysql_);
    close();
    throw MysqlError(0, "Falha ao configurar a conexão ao MySQL do IXC: " + message);
  }
  if (!mysql_real_connect(mysql_, settings.db_host.c_str(), settings.db_user.c_str(), settings.db_password.c_str(),
                          settings.database.c_str(), port, nullptr, 0)) {
    const unsigned number = mysql_errno(mysql_);
    const std::string message = error_text(mysql_);
    close();
    throw MysqlError(number, "Falha ao conectar ao MySQL do IXC: " + message);
  }
}

IxcConnection::~IxcConnection() { close(); }

void IxcConnection::close() {
  if (mysql_) mysql_close(mysql_);
  mysql_ = nullptr;
}

}  // namespace cobrix
