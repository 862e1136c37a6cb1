#pragma once
// The customer records and the six totals of a discovery run.

#include <cstdint>
#include <string>
#include <vector>

#include "discovery/overdue_query.h"
#include "model/record.h"

namespace cobrix {

// The fifteen record keys, in record order.
inline constexpr const char* kRecordKeys[15] = {
    "{#ID_CLIENTE}",     "{#ID_CONTRATO}",      "{#RAZAO_SOCIAL}", "{#CPF_CNPJ}", "{#CONTATO_CLIENTE}",
    "{#STATUS_CLIENTE}", "{#DATA_CADASTRO}",    "{#VALOR_ATRASO}", "{#TITULOS_ATRASO}",
    "{#DATA_VENCIMENTO}", "{#FILIAL}",          "{#CIDADE}",       "{#BAIRRO}",   "{#TIPO_CLIENTE}",
    "{#IXC_IDENTIFICATION}"};

// The six totals. An amount total is the integer 0 until a row of its kind
// adds to it, a double afterwards.
struct Totals {
  std::int64_t somaClientesAtrasoAtivo = 0;
  std::int64_t somaTitulosAtrasoAtivo = 0;
  Value somaValorAtrasoAtivo = std::int64_t{0};
  std::int64_t somaClientesAtrasoInativo = 0;
  std::int64_t somaTitulosAtrasoInativo = 0;
  Value somaValorAtrasoInativo = std::int64_t{0};
};

struct DiscoveryResult {
  std::vector<Record> descobertaClientesDB;
  Totals totals;
};

// Builds one record per result row (fourteen values by position), in
// row order, and the totals, with the amount totals already rounded to two
// decimals. Consumes the rows' texts. Throws ConversionError when a value
// cannot be converted (an amount that is not a number, a date value that is
// not a date, a title count that is not an integer).
DiscoveryResult build_records(ResultRows&& rows, const std::string& zabbix_host);

// The local date-time of calendar fields taken as local time: mktime with the
// daylight-saving flag -1, then localtime (fractions of a second dropped).
DateTime to_local_datetime(const DateTime& fields);

// The double nearest to the exact decimal text (e.g. "10.005").
double decimal_to_double(const std::string& text);

// The double nearest to `value`'s exact binary value rounded to two decimal
// places, halfway cases to the even digit (Python's round(value, 2)).
double round_half_even_2(double value);

// round_half_even_2 applied to a total that is a double; the integer 0 stays.
Value round_total(const Value& total);

}  // namespace cobrix
