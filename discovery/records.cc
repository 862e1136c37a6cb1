#include "discovery/records.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <type_traits>

#include "model/failure.h"

namespace cobrix {

namespace {

[[noreturn]] void conversion_failure(std::size_t row, const char* column, const std::string& what) {
  throw ConversionError("Não foi possível converter '" + std::string(column) + "' da linha " +
                           std::to_string(row + 1) + " do resultado do IXC: " + what);
}

// A row value as a record value: a decimal becomes the nearest double, a
// text stays a view of the row (the list copies it).
ValueView plain_value(const SqlValue& cell) {
  return std::visit(
      [](const auto& v) -> ValueView {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, SqlDecimal>)
          return decimal_to_double(v.text);
        else
          return v;
      },
      cell);
}

ValueView date_value(const SqlValue& cell, std::size_t row, const char* column, LocalDates& dates) {
  if (std::holds_alternative<Null>(cell)) return Null{};
  const auto* fields = std::get_if<DateTime>(&cell);
  if (!fields) conversion_failure(row, column, "o valor não é uma data");
  return dates.convert(*fields);
}

double amount_value(const SqlValue& cell, std::size_t row) {
  if (const auto* d = std::get_if<SqlDecimal>(&cell)) return decimal_to_double(d->text);
  if (const auto* i = std::get_if<std::int64_t>(&cell)) return static_cast<double>(*i);
  if (const auto* f = std::get_if<double>(&cell)) return *f;
  conversion_failure(row, "valorAtraso", "o valor não é um número");
}

}  // namespace

DateTime to_local_datetime(const DateTime& f) {
  std::tm tm{};
  tm.tm_year = f.year - 1900;
  tm.tm_mon = f.month - 1;
  tm.tm_mday = f.day;
  tm.tm_hour = f.hour;
  tm.tm_min = f.minute;
  tm.tm_sec = f.second;
  tm.tm_isdst = -1;
  tm.tm_wday = -1;  // left alone by a failed mktime (-1 is also a valid result)
  const std::time_t seconds = std::mktime(&tm);
  std::tm local{};
  if (tm.tm_wday == -1 || !localtime_r(&seconds, &local))
    throw ConversionError("A data " + std::to_string(f.year) + "-" + std::to_string(f.month) + "-" +
                             std::to_string(f.day) + " não pode ser convertida para a hora local");
  return DateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                  local.tm_sec, 0};
}

DateTime LocalDates::convert(const DateTime& f) {
  if (f.month < 0 || f.month > 31 || f.day < 0 || f.day > 31 || f.hour < 0 || f.hour > 63 || f.minute < 0 ||
      f.minute > 255 || f.second < 0 || f.second > 255)
    return to_local_datetime(f);
  const std::uint64_t key = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(f.year)) << 32) |
                            (static_cast<std::uint64_t>(f.month) << 27) | (static_cast<std::uint64_t>(f.day) << 22) |
                            (static_cast<std::uint64_t>(f.hour) << 16) | (static_cast<std::uint64_t>(f.minute) << 8) |
                            static_cast<std::uint64_t>(f.second);
  const auto [it, inserted] = cache_.try_emplace(key);
  if (inserted) it->second = to_local_datetime(f);
  return it->second;
}

double decimal_to_double(std::string_view text) {
  // from_chars is locale-independent and correctly rounded (like strtod).
  double value = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || ptr != end)
    throw ConversionError("O valor '" + std::string(text) + "' do IXC não é um número decimal");
  return value;
}

double round_half_even_2(double value) {
  if (!std::isfinite(value)) return value;
  // glibc's printf converts the double's exact binary value and rounds it in
  // the current rounding mode (to nearest, ties to even), so "%.2f" is the
  // exact half-even rounding at two decimals; reading it back gives the
  // nearest double. The buffer holds the largest doubles (309 digits).
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.2f", value);
  double rounded = 0;
  std::from_chars(buf, buf + std::char_traits<char>::length(buf), rounded);
  return rounded;
}

Value round_total(const Value& total) {
  if (const auto* d = std::get_if<double>(&total)) return round_half_even_2(*d);
  return total;
}

RecordBuilder::RecordBuilder(std::string_view zabbix_host) : records_(zabbix_host) {}

void RecordBuilder::add(std::span<const SqlValue> row) {
  const std::size_t i = records_.size();
  if (row.size() != kOwnCustomerValues)
    throw ConversionError("O resultado do IXC tem " + std::to_string(row.size()) +
                          " colunas por linha; esperadas 14");
  // Contact: null for a null or empty text.
  const auto* contato_text = std::get_if<std::string_view>(&row[4]);
  const bool contato_null = std::holds_alternative<Null>(row[4]) || (contato_text && contato_text->empty());
  const auto* status_text = std::get_if<std::string_view>(&row[5]);
  const bool inactive = status_text && *status_text == "N";
  const ValueView data_cadastro = date_value(row[6], i, "data_cadastro", dates_);
  const double valor = amount_value(row[7], i);
  const auto* titulos = std::get_if<std::int64_t>(&row[8]);
  if (!titulos) conversion_failure(i, "titulosAtraso", "o valor não é um inteiro");
  const std::int64_t titulos_atraso = *titulos;
  const ValueView data_vencimento = date_value(row[9], i, "dataVencimento", dates_);
  // The fourteen values in key order (the identification is the list's).
  const std::array<ValueView, kOwnCustomerValues> values = {
      plain_value(row[0]),
      plain_value(row[1]),
      plain_value(row[2]),
      plain_value(row[3]),
      contato_null ? ValueView(Null{}) : plain_value(row[4]),
      std::int64_t{inactive ? 0 : 1},
      data_cadastro,
      valor,
      titulos_atraso,
      data_vencimento,
      plain_value(row[10]),
      plain_value(row[11]),
      plain_value(row[12]),
      plain_value(row[13]),
  };
  records_.add(values);

  // Totals only for a row that became a record.
  Totals& t = totals_;
  if (inactive) {
    ++t.somaClientesAtrasoInativo;
    t.somaTitulosAtrasoInativo += titulos_atraso;
    inativo_ = any_inativo_ ? inativo_ + valor : 0 + valor;
    any_inativo_ = true;
  } else {
    ++t.somaClientesAtrasoAtivo;
    t.somaTitulosAtrasoAtivo += titulos_atraso;
    ativo_ = any_ativo_ ? ativo_ + valor : 0 + valor;
    any_ativo_ = true;
  }
}

DiscoveryResult RecordBuilder::finish() && {
  if (any_ativo_) totals_.somaValorAtrasoAtivo = round_half_even_2(ativo_);
  if (any_inativo_) totals_.somaValorAtrasoInativo = round_half_even_2(inativo_);
  dates_ = {};  // the run needs no more conversions: the cache goes before the store takes memory
  return {std::move(records_).finish(), totals_};
}

}  // namespace cobrix
