#include "discovery/ixc_connection.h"

#include <errmsg.h>
#include <mysql.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace cobrix {

namespace {

struct MysqlCloser {
  void operator()(::MYSQL* mysql) const { mysql_close(mysql); }
};
using MysqlHandle = std::unique_ptr<::MYSQL, MysqlCloser>;

// The group of the client option files that holds cobrix's own settings,
// read besides [client], [client-server] and [client-mariadb].
constexpr const char* kOptionGroup = "cobrix";

// The options that Connector/C keeps as text and that ask for TLS: the
// client's key and certificate, the CAs, the revocation lists, the ciphers,
// the protocol versions and the pinned server certificates.
constexpr mysql_option kTlsTextOptions[] = {
    MYSQL_OPT_SSL_KEY,    MYSQL_OPT_SSL_CERT,      MYSQL_OPT_SSL_CA,        MYSQL_OPT_SSL_CAPATH,
    MYSQL_OPT_SSL_CRL,    MYSQL_OPT_SSL_CRLPATH,   MYSQL_OPT_SSL_CIPHER,    MARIADB_OPT_TLS_VERSION,
    MARIADB_OPT_TLS_PEER_FP, MARIADB_OPT_TLS_PEER_FP_LIST};

[[noreturn]] void fail_setup(::MYSQL* mysql) {
  throw MysqlError(0, "Falha ao configurar a conexão ao MySQL do IXC: " + IxcConnection::error_text(mysql));
}

bool has_text(::MYSQL* mysql, mysql_option option) {
  const char* value = nullptr;
  return mysql_get_optionv(mysql, option, &value) == 0 && value != nullptr;
}

bool is_on(::MYSQL* mysql, mysql_option option) {
  my_bool value = 0;
  return mysql_get_optionv(mysql, option, &value) == 0 && value;
}

// Lets Connector/C read the client option files into `mysql`, and nothing
// more. It reads them at the start of a connection, over the options set
// before; a connection over a protocol that this platform lacks fails right
// after the reading, before any socket is opened, and leaves the files'
// options on the handle, which the real connection then uses without
// reading the files again. The files are those of the `mariadb` client, or
// only the file that COBRIX_IXC_OPTION_FILE names. Throws MysqlError when
// that file cannot be read: Connector/C would skip it in silence.
void read_option_files(::MYSQL* mysql) {
  const char* const file = std::getenv(kIxcOptionFileVariable);
  const bool one_file = file && *file;
  if (one_file && ::access(file, R_OK) != 0)
    throw MysqlError(0, "Falha ao ler o arquivo de opções do MySQL do IXC '" + std::string(file) +
                            "': " + std::strerror(errno));
  unsigned protocol = MYSQL_PROTOCOL_MEMORY;
  if (mysql_optionsv(mysql, MYSQL_READ_DEFAULT_GROUP, kOptionGroup) != 0 ||
      (one_file && mysql_optionsv(mysql, MYSQL_READ_DEFAULT_FILE, file) != 0) ||
      mysql_optionsv(mysql, MYSQL_OPT_PROTOCOL, &protocol) != 0)
    fail_setup(mysql);
  // Should a file set a protocol of its own, the socket named here cannot
  // exist either; a connection that succeeds all the same is refused.
  if (mysql_real_connect(mysql, "localhost", "", "", nullptr, 0, "/dev/null/cobrix", CLIENT_REMEMBER_OPTIONS))
    throw MysqlError(0, "Falha ao ler os arquivos de opções do MySQL do IXC: a leitura chegou a um servidor");
  if (mysql_get_optionv(mysql, MYSQL_OPT_PROTOCOL, &protocol) != 0) fail_setup(mysql);
  if (protocol == MYSQL_PROTOCOL_MEMORY) {
    protocol = MYSQL_PROTOCOL_DEFAULT;
    if (mysql_optionsv(mysql, MYSQL_OPT_PROTOCOL, &protocol) != 0) fail_setup(mysql);
  }
}

// True when the options read ask for TLS in any way that Connector/C keeps:
// one of kTlsTextOptions, or ssl-enforce or ssl-verify-server-cert true.
bool asks_for_tls(::MYSQL* mysql) {
  for (const mysql_option option : kTlsTextOptions)
    if (has_text(mysql, option)) return true;
  return is_on(mysql, MYSQL_OPT_SSL_ENFORCE) || is_on(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT);
}

// OpenSSL's default for its trusted CAs: the file or folder that the
// environment variable names (SSL_CERT_FILE, SSL_CERT_DIR), else its own.
std::string openssl_default(const char* variable, const char* built_in) {
  const char* const value = std::getenv(variable);
  return value && *value ? value : built_in;
}

// Names the CAs that OpenSSL trusts by default (the system's: Debian's
// ca-certificates) as the connection's CAs. Connector/C 3.3, given no CA,
// checks the server's certificate and host name against these same CAs
// before the login. 3.4, given no CA, checks no host name, and takes a
// certificate that no CA vouches for: from 127.0.0.1, ::1 or the local
// socket without any check, from any other host after the login, once the
// server has shown that it knows the password's hash. With the CAs named,
// both check the certificate and the name before the login.
void trust_default_cas(::MYSQL* mysql) {
  const std::string file = openssl_default(X509_get_default_cert_file_env(), X509_get_default_cert_file());
  const std::string folder = openssl_default(X509_get_default_cert_dir_env(), X509_get_default_cert_dir());
  if ((::access(file.c_str(), R_OK) == 0 && mysql_optionsv(mysql, MYSQL_OPT_SSL_CA, file.c_str()) != 0) ||
      mysql_optionsv(mysql, MYSQL_OPT_SSL_CAPATH, folder.c_str()) != 0)
    fail_setup(mysql);
}

// Makes a connection that asks for TLS a verified one: TLS or no connection
// (Connector/C refuses a server without TLS before the login is sent), and
// the server's certificate checked against the CAs with its host name: the
// CAs that the files name, else the system's. Connector/C 3.4 leaves out
// the host name of 127.0.0.1, ::1 and the local socket (no setting brings
// it back). A pinned certificate (ssl-fp, ssl-fplist) is checked by its
// fingerprint instead, whatever its CA and names. Overrides the files' own
// ssl-verify-server-cert: Connector/C reads "=0", "=true", "=on" and a last
// line without a value all as 0, and ignores the line without a value
// elsewhere, so a 0 there says nothing sure about what the operator meant.
void require_verified_tls(::MYSQL* mysql) {
  const my_bool on = 1;
  const bool pinned = has_text(mysql, MARIADB_OPT_TLS_PEER_FP) || has_text(mysql, MARIADB_OPT_TLS_PEER_FP_LIST);
  if (mysql_optionsv(mysql, MYSQL_OPT_SSL_ENFORCE, &on) != 0) fail_setup(mysql);
  if (pinned) return;
  if (mysql_optionsv(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on) != 0) fail_setup(mysql);
  if (!has_text(mysql, MYSQL_OPT_SSL_CA) && !has_text(mysql, MYSQL_OPT_SSL_CAPATH)) trust_default_cas(mysql);
}

}  // namespace

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
  MysqlHandle mysql(mysql_init(nullptr));
  if (!mysql) throw MysqlError(CR_OUT_OF_MEMORY, "Falha ao conectar ao MySQL do IXC: mysql_init sem memória");
  read_option_files(mysql.get());
  const bool tls = asks_for_tls(mysql.get());
  if (tls) require_verified_tls(mysql.get());
  // Character set: named in the handshake. Collation: the handshake carries
  // only a collation number that servers may map to their own default
  // collation for the set, so the session is set explicitly, once, right
  // after the connection is established (before any statement of ours).
  // Both are set after the option files were read, so that they win over
  // the files' default-character-set and run after their init-command.
  static const std::string init_command =
      std::string("SET NAMES ") + kIxcCharset + " COLLATE " + kIxcCollation;
  if (mysql_optionsv(mysql.get(), MYSQL_SET_CHARSET_NAME, kIxcCharset) != 0 ||
      mysql_optionsv(mysql.get(), MYSQL_INIT_COMMAND, init_command.c_str()) != 0)
    fail_setup(mysql.get());
  if (!mysql_real_connect(mysql.get(), settings.db_host.c_str(), settings.db_user.c_str(),
                          settings.db_password.c_str(), settings.database.c_str(), port, nullptr, 0))
    throw MysqlError(mysql_errno(mysql.get()), "Falha ao conectar ao MySQL do IXC: " + error_text(mysql.get()));
  // Connector/C refuses a plain-text server itself when verification is
  // asked; this holds even where a version of it would not.
  if (tls && !mysql_get_ssl_cipher(mysql.get()))
    throw MysqlError(CR_SSL_CONNECTION_ERROR,
                     "Falha ao conectar ao MySQL do IXC: as opções pedem TLS e a conexão não o usa");
  mysql_ = mysql.release();
}

IxcConnection::~IxcConnection() { close(); }

void IxcConnection::close() {
  if (mysql_) mysql_close(mysql_);
  mysql_ = nullptr;
}

}  // namespace cobrix
