#pragma once
// The customer records and the six totals of a discovery run.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "discovery/overdue_query.h"
#include "model/customer_list.h"
#include "model/record.h"

namespace cobrix {

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
  CustomerList descobertaClientesDB;
  Totals totals;
};

// The local date-time of calendar fields taken as local time: mktime with the
// daylight-saving flag -1, then localtime (fractions of a second dropped).
DateTime to_local_datetime(const DateTime& fields);

// to_local_datetime of each distinct calendar value once: the time zone does
// not change during a run, and mktime re-checks the zone file on every call.
class LocalDates {
 public:
  DateTime convert(const DateTime& fields);

 private:
  std::unordered_map<std::uint64_t, DateTime> cache_;
};

// Builds one record per result row, in row order, and the totals, while the
// rows arrive: each row is converted and packed at once, so no row is kept.
class RecordBuilder {
 public:
  // `zabbix_host` becomes every record's identification.
  explicit RecordBuilder(std::string_view zabbix_host);

  // Adds the record of one result row (fourteen values by position; the
  // row's texts are copied). Throws ConversionError when the row does not
  // have fourteen values or a value cannot be converted (an amount that is
  // not a number, a date value that is not a date, a title count that is
  // not an integer).
  void add(std::span<const SqlValue> row);

  // The records and the totals, the amount totals rounded to two decimals.
  // The builder is spent.
  DiscoveryResult finish() &&;

 private:
  CustomerListBuilder records_;
  Totals totals_;
  double ativo_ = 0;
  double inativo_ = 0;
  bool any_ativo_ = false;
  bool any_inativo_ = false;
  LocalDates dates_;
};

// The double nearest to the exact decimal text (e.g. "10.005").
double decimal_to_double(std::string_view text);

// The double nearest to `value`'s exact binary value rounded to two decimal
// places, halfway cases to the even digit (Python's round(value, 2)).
double round_half_even_2(double value);

// round_half_even_2 applied to a total that is a double; the integer 0 stays.
Value round_total(const Value& total);

}  // namespace cobrix
