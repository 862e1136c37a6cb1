#include "discovery/records.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <unordered_map>

#include "model/failure.h"

namespace cobrix {

namespace {

[[noreturn]] void conversion_failure(std::size_t row, const char* column, const std::string& what) {
  throw ConversionError("Não foi possível converter '" + std::string(column) + "' da linha " +
                           std::to_string(row + 1) + " do resultado do IXC: " + what);
}

Value plain_value(SqlValue&& cell) {
  return std::visit(
      [](auto&& v) -> Value {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, SqlDecimal>)
          return decimal_to_double(v.text);
        else
          return Value(std::move(v));
      },
      std::move(cell));
}

// The local-time conversion of each distinct calendar value once per run:
// the time zone does not change during a run, and mktime re-checks the zone
// file on every call.
class DateCache {
 public:
  DateTime convert(const DateTime& f) {
    const std::uint64_t key = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(f.year)) << 32) |
                              (static_cast<std::uint64_t>(f.month) << 27) | (static_cast<std::uint64_t>(f.day) << 22) |
                              (static_cast<std::uint64_t>(f.hour) << 16) | (static_cast<std::uint64_t>(f.minute) << 8) |
                              static_cast<std::uint64_t>(f.second);
    if (f.month < 0 || f.month > 31 || f.day < 0 || f.day > 31 || f.hour < 0 || f.hour > 63 || f.minute < 0 ||
        f.minute > 255 || f.second < 0 || f.second > 255)
      return to_local_datetime(f);
    const auto [it, inserted] = cache_.try_emplace(key);
    if (inserted) it->second = to_local_datetime(f);
    return it->second;
  }

 private:
  std::unordered_map<std::uint64_t, DateTime> cache_;
};

Value date_value(const SqlValue& cell, std::size_t row, const char* column, DateCache& cache) {
  if (std::holds_alternative<Null>(cell)) return Null{};
  const auto* fields = std::get_if<DateTime>(&cell);
  if (!fields) conversion_failure(row, column, "o valor não é uma data");
  return cache.convert(*fields);
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

double decimal_to_double(const std::string& text) {
  // from_chars is locale-independent and correctly rounded (like strtod).
  double value = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || ptr != end)
    throw ConversionError("O valor '" + text + "' do IXC não é um número decimal");
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

DiscoveryResult build_records(ResultRows&& rows_in, const std::string& zabbix_host) {
  ResultRows rows = std::move(rows_in);  // released when the records are built
  if (rows.columns != 14 && rows.size() > 0)
    throw ConversionError("O resultado do IXC tem " + std::to_string(rows.columns) +
                             " colunas por linha; esperadas 14");
  DiscoveryResult result;
  Totals& t = result.totals;
  const std::size_t count = rows.size();
  result.descobertaClientesDB.reserve(count);
  double ativo = 0, inativo = 0;
  bool any_ativo = false, any_inativo = false;
  DateCache dates;

  for (std::size_t i = 0; i < count; ++i) {
    const std::span<SqlValue> row = rows.row(i);
    // Contact: null for a null or empty text.
    const auto* contato_text = std::get_if<std::string>(&row[4]);
    const bool contato_null = std::holds_alternative<Null>(row[4]) || (contato_text && contato_text->empty());
    const auto* status_text = std::get_if<std::string>(&row[5]);
    const bool inactive = status_text && *status_text == "N";
    Value data_cadastro = date_value(row[6], i, "data_cadastro", dates);
    const double valor = amount_value(row[7], i);
    const auto* titulos = std::get_if<std::int64_t>(&row[8]);
    if (!titulos) conversion_failure(i, "titulosAtraso", "o valor não é um inteiro");
    const std::int64_t titulos_atraso = *titulos;
    Value data_vencimento = date_value(row[9], i, "dataVencimento", dates);

    if (inactive) {
      ++t.somaClientesAtrasoInativo;
      t.somaTitulosAtrasoInativo += titulos_atraso;
      inativo = any_inativo ? inativo + valor : 0 + valor;
      any_inativo = true;
    } else {
      ++t.somaClientesAtrasoAtivo;
      t.somaTitulosAtrasoAtivo += titulos_atraso;
      ativo = any_ativo ? ativo + valor : 0 + valor;
      any_ativo = true;
    }

    Record& record = result.descobertaClientesDB.emplace_back();
    record.reserve(15);
    record.push_back({kRecordKeys[0], plain_value(std::move(row[0]))});
    record.push_back({kRecordKeys[1], plain_value(std::move(row[1]))});
    record.push_back({kRecordKeys[2], plain_value(std::move(row[2]))});
    record.push_back({kRecordKeys[3], plain_value(std::move(row[3]))});
    record.push_back({kRecordKeys[4], contato_null ? Value(Null{}) : plain_value(std::move(row[4]))});
    record.push_back({kRecordKeys[5], std::int64_t{inactive ? 0 : 1}});
    record.push_back({kRecordKeys[6], std::move(data_cadastro)});
    record.push_back({kRecordKeys[7], valor});
    record.push_back({kRecordKeys[8], titulos_atraso});
    record.push_back({kRecordKeys[9], std::move(data_vencimento)});
    record.push_back({kRecordKeys[10], plain_value(std::move(row[10]))});
    record.push_back({kRecordKeys[11], plain_value(std::move(row[11]))});
    record.push_back({kRecordKeys[12], plain_value(std::move(row[12]))});
    record.push_back({kRecordKeys[13], plain_value(std::move(row[13]))});
    record.push_back({kRecordKeys[14], zabbix_host});
    rows.release_after(i);
  }
  if (any_ativo) t.somaValorAtrasoAtivo = round_half_even_2(ativo);
  if (any_inativo) t.somaValorAtrasoInativo = round_half_even_2(inativo);
  return result;
}

}  // namespace cobrix
