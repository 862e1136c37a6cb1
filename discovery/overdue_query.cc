#include "discovery/overdue_query.h"

#include <mysql.h>

#include <charconv>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "discovery/ixc_connection.h"
#include "model/failure.h"

namespace cobrix {

const std::string_view kOverdueCustomersQuery =
    "SELECT\n"
    "    cliente.id as idCliente,\n"
    "    fn_areceber.id_contrato AS idContrato,\n"
    "    cliente.razao as razaoSocial,\n"
    "    cliente.cnpj_cpf as cpfCnpj,\n"
    "    cliente.telefone_celular as contatoCliente,\n"
    "    cliente.ativo as statusCliente,\n"
    "    cliente.data_cadastro,\n"
    "    SUM(fn_areceber.valor_aberto) as valorAtraso,\n"
    "    COUNT(fn_areceber.valor) as titulosAtraso,\n"
    "    MIN(fn_areceber.data_vencimento) as dataVencimento,\n"
    "    filial.razao as filial,\n"
    "    cidade.nome as cidade,\n"
    "    cliente.bairro as bairro,\n"
    "    tipo_cliente.tipo_cliente as tipoCliente\n"
    "FROM\n"
    "    cliente\n"
    "    LEFT JOIN fn_areceber ON fn_areceber.id_cliente = cliente.id\n"
    "    LEFT JOIN filial on fn_areceber.filial_id = filial.id\n"
    "    LEFT JOIN cidade ON cliente.cidade = cidade.id\n"
    "    LEFT JOIN tipo_cliente on tipo_cliente.id = cliente.id_tipo_cliente\n"
    "WHERE\n"
    "    fn_areceber.status = 'A'\n"
    "    AND fn_areceber.data_vencimento < CURRENT_DATE()\n"
    "    AND fn_areceber.valor_aberto > 0\n"
    "    AND fn_areceber.id_contrato IS NOT NULL\n"
    "GROUP BY\n"
    "    cliente.id,\n"
    "    cliente.razao,\n"
    "    cliente.cnpj_cpf,\n"
    "    cliente.telefone_celular,\n"
    "    tipo_cliente.tipo_cliente\n"
    "ORDER BY\n"
    "    fn_areceber.data_vencimento desc;";

bool is_valid_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    // ASCII runs, eight bytes at a time where possible.
    while (end - p >= 8) {
      std::uint64_t block;
      std::memcpy(&block, p, 8);
      if (block & 0x8080808080808080ULL) break;
      p += 8;
    }
    if (p == end) break;
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int length;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (end - p < length) return false;
    for (int i = 1; i < length; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    p += length;
  }
  return true;
}

namespace {

enum class Kind { integer, unsigned_integer, bits, floating, decimal, date, text };

Kind kind_of(const MYSQL_FIELD& field) {
  switch (field.type) {
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_YEAR:
      return (field.flags & UNSIGNED_FLAG) ? Kind::unsigned_integer : Kind::integer;
    case MYSQL_TYPE_BIT:
      return Kind::bits;
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE:
      return Kind::floating;
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
      return Kind::decimal;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_NEWDATE:
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_DATETIME2:
    case MYSQL_TYPE_TIMESTAMP:
    case MYSQL_TYPE_TIMESTAMP2:
      return Kind::date;
    default:  // VARCHAR, CHAR, TEXT/BLOB, ENUM, SET, JSON, TIME, ...: text
      return Kind::text;
  }
}

// `cells[0]` is already mapped when `column` > 0: the customer identifier
// of the overdue-customers query, which the report names.
[[noreturn]] void bad_value(const MYSQL_FIELD& field, std::size_t row, std::span<const SqlValue> cells,
                            std::size_t column, const std::string& what) {
  std::string customer;
  if (column > 0)
    if (const auto* id = std::get_if<std::int64_t>(&cells[0])) customer = ", cliente " + std::to_string(*id);
  throw ConversionError("Valor inválido do MySQL do IXC na coluna '" + std::string(field.name) + "' (linha " +
                           std::to_string(row + 1) + customer + "): " + what);
}

// Parses "[-]digits" exactly.
template <typename T>
bool parse_integer(const char* text, unsigned long length, T& value) {
  const auto [end, ec] = std::from_chars(text, text + length, value);
  return ec == std::errc() && end == text + length;
}

int digits(const char* p, int n) {
  int v = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return -1;
    v = v * 10 + (p[i] - '0');
  }
  return v;
}

// "YYYY-MM-DD", optionally followed by " HH:MM:SS" and ".f..." (up to six
// fraction digits). False when the text has another shape.
bool parse_date(const char* p, unsigned long n, DateTime& out) {
  if (n < 10 || p[4] != '-' || p[7] != '-') return false;
  out = DateTime{digits(p, 4), digits(p + 5, 2), digits(p + 8, 2), 0, 0, 0, 0};
  if (n > 10) {
    if (n < 19 || (p[10] != ' ' && p[10] != 'T') || p[13] != ':' || p[16] != ':') return false;
    out.hour = digits(p + 11, 2);
    out.minute = digits(p + 14, 2);
    out.second = digits(p + 17, 2);
    if (n > 19) {
      if (p[19] != '.' || n > 26 || n == 20) return false;
      const int count = static_cast<int>(n - 20);
      int fraction = digits(p + 20, count);
      if (fraction < 0) return false;
      for (int i = count; i < 6; ++i) fraction *= 10;
      out.microsecond = fraction;
    }
  }
  return out.year >= 0 && out.month >= 0 && out.day >= 0 && out.hour >= 0 && out.minute >= 0 && out.second >= 0;
}

struct ResultDeleter {
  void operator()(MYSQL_RES* res) const { mysql_free_result(res); }
};

// The value of one cell of the current row; `cells` holds the row's earlier
// values (for the failure report).
SqlValue cell_value(Kind kind, const MYSQL_FIELD& field, const char* text, unsigned long length, std::size_t row,
                    std::span<const SqlValue> cells, std::size_t column) {
  if (!text) return Null{};
  switch (kind) {
    case Kind::integer: {
      std::int64_t v;
      if (!parse_integer(text, length, v)) bad_value(field, row, cells, column, "inteiro ilegível");
      return v;
    }
    case Kind::unsigned_integer: {
      std::uint64_t v;
      if (!parse_integer(text, length, v) || v > static_cast<std::uint64_t>(INT64_MAX))
        bad_value(field, row, cells, column, "inteiro fora do intervalo de 64 bits");
      return static_cast<std::int64_t>(v);
    }
    case Kind::bits: {  // BIT(n) arrives as big-endian bytes
      if (length > 8) bad_value(field, row, cells, column, "BIT com mais de 64 bits");
      std::uint64_t v = 0;
      for (unsigned long i = 0; i < length; ++i) v = (v << 8) | static_cast<unsigned char>(text[i]);
      if (v > static_cast<std::uint64_t>(INT64_MAX))
        bad_value(field, row, cells, column, "BIT fora do intervalo de 64 bits");
      return static_cast<std::int64_t>(v);
    }
    case Kind::floating: {
      double v;
      if (!parse_integer(text, length, v)) bad_value(field, row, cells, column, "número ilegível");
      return v;
    }
    case Kind::decimal:
      return SqlDecimal{std::string_view(text, length)};
    case Kind::date: {
      DateTime v;
      if (!parse_date(text, length, v)) bad_value(field, row, cells, column, "data ilegível");
      // MySQL's zero dates ('0000-00-00', zero month or day) are no
      // calendar date; they reach the record as null.
      if (v.year == 0 || v.month == 0 || v.day == 0) return Null{};
      return v;
    }
    case Kind::text:
    default: {
      const std::string_view view(text, length);
      if (!is_valid_utf8(view)) bad_value(field, row, cells, column, "texto que não é UTF-8 válido");
      return view;
    }
  }
}

[[noreturn]] void fetch_failure(MYSQL* mysql) {
  throw MysqlError(mysql_errno(mysql), "Falha ao ler o resultado do MySQL do IXC: " + IxcConnection::error_text(mysql));
}

}  // namespace

void obterDadosCliente(IxcConnection& conn, const RowHandler& each_row) {
  MYSQL* mysql = conn.handle();
  if (mysql_real_query(mysql, kOverdueCustomersQuery.data(), kOverdueCustomersQuery.size()) != 0)
    throw MysqlError(mysql_errno(mysql), "Falha na consulta ao MySQL do IXC: " + IxcConnection::error_text(mysql));
  // Unbuffered: each mysql_fetch_row reads the next row from the connection
  // into the one row buffer that the result owns.
  const std::unique_ptr<MYSQL_RES, ResultDeleter> result(mysql_use_result(mysql));
  if (!result) {
    if (mysql_errno(mysql) != 0) fetch_failure(mysql);
    throw MysqlError(0, "Falha ao ler o resultado do MySQL do IXC: a consulta não devolveu linhas");
  }

  const std::size_t columns = mysql_num_fields(result.get());
  const MYSQL_FIELD* fields = mysql_fetch_fields(result.get());
  std::vector<Kind> kinds(columns);
  for (std::size_t c = 0; c < columns; ++c) kinds[c] = kind_of(fields[c]);
  std::vector<SqlValue> cells(columns);

  try {
    for (std::size_t row_number = 0;; ++row_number) {
      const MYSQL_ROW row = mysql_fetch_row(result.get());
      if (!row) break;
      const unsigned long* lengths = mysql_fetch_lengths(result.get());
      for (std::size_t c = 0; c < columns; ++c)
        cells[c] = cell_value(kinds[c], fields[c], row[c], lengths[c], row_number, cells, c);
      each_row(cells);
    }
  } catch (...) {
    // Freeing an unbuffered result reads the rest of it from the server.
    // Cutting the connection first makes those reads fail at once instead;
    // the run ends with this failure anyway, and the connection is only
    // closed after it.
    mariadb_cancel(mysql);
    throw;
  }
  if (mysql_errno(mysql) != 0) fetch_failure(mysql);
}

}  // namespace cobrix
