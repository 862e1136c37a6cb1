#pragma once
// The connection to the IXC installation's MySQL/MariaDB database,
// owned for the length of one discovery run.

#include <stdexcept>
#include <string>
#include <string_view>

#include "model/failure.h"
#include "model/run_config.h"

struct st_mysql;

namespace cobrix {

// A failure of the IXC database: connection, statement or fetch. Carries the
// client library's error number and text. Not handled by the program: it
// travels to the run driver (report on standard error, status 1).
class MysqlError : public Failure {
 public:
  MysqlError(unsigned error_number, const std::string& message)
      : Failure(kIxcMysqlKind, message), error_number_(error_number) {}
  unsigned error_number() const { return error_number_; }

 private:
  unsigned error_number_;
};

// The character set and collation that the IXC connection asks for.
inline constexpr const char* kIxcCharset = "utf8mb4";
inline constexpr const char* kIxcCollation = "utf8mb4_general_ci";

// The port number of a port text: a whole number from 1 to 65535 written in
// ASCII digits only (no sign, no blanks). Throws MysqlError (as a failed
// connection would) for any other text.
unsigned parse_port(std::string_view port_text);

// The environment variable that names the one MySQL/MariaDB option file to
// read instead of the client's default ones (empty: the default ones).
inline constexpr const char* kIxcOptionFileVariable = "COBRIX_IXC_OPTION_FILE";

// One open IXC connection with exactly these settings: host, port,
// user, password, database (from `settings`), character set "utf8mb4" and
// collation "utf8mb4_general_ci". The other settings come from the client
// option files, read by Connector/C as the `mariadb` client reads them
// (/etc/my.cnf, /etc/mysql/my.cnf, $MARIADB_HOME or $MYSQL_HOME/my.cnf,
// ~/.my.cnf; groups [client], [client-server], [client-mariadb] and
// [cobrix]), or from the one file that $COBRIX_IXC_OPTION_FILE names. When
// they ask for TLS in any way, the connection uses TLS and the server's
// certificate is verified before the login, against the CAs they name or
// else the system's (OpenSSL's defaults), its host name included (but for
// 127.0.0.1, ::1 and the local socket with Connector/C 3.4), or by its
// pinned fingerprint; or there is no connection. The constructor connects or
// throws MysqlError; the destructor closes a connection that close() has not.
class IxcConnection {
 public:
  explicit IxcConnection(const RunSettings& settings);
  ~IxcConnection();
  IxcConnection(const IxcConnection&) = delete;
  IxcConnection& operator=(const IxcConnection&) = delete;

  ::st_mysql* handle() const { return mysql_; }
  bool is_open() const { return mysql_ != nullptr; }
  void close();

  // The text of the last client library error, as "<errno>: <text>".
  static std::string error_text(::st_mysql* mysql);

 private:
  ::st_mysql* mysql_ = nullptr;
};

}  // namespace cobrix
