#include "store/summary_table.h"

#include <array>
#include <cmath>
#include <optional>
#include <vector>

#include "model/value_text.h"

namespace cobrix::store {

namespace {

const std::string kTable = kSummaryTable;

// The columns after the two that every row of a summary shares
// (ixcidentification $1, timestamp $2), in table order.
constexpr std::array<const char*, 18> kRowColumns = {
    "tipo",           "posicao",           "nome",           "clientes_ativos", "titulos_ativos", "valor_ativos",
    "clientes_inativos", "titulos_inativos", "valor_inativos", "datavencimento",  "dias_atraso",    "idcliente",
    "razaosocial",    "filial",            "cidade",         "statuscliente",   "valoratraso",    "titulosatraso"};
constexpr std::size_t kPageRows = 1000;

using Text = std::optional<std::string>;
using RowTexts = std::array<Text, kRowColumns.size()>;

Text text(const std::optional<std::int64_t>& v) { return v ? Text(std::to_string(*v)) : std::nullopt; }
Text text(const std::optional<DateTime>& v) { return v ? Text(format_datetime(*v)) : std::nullopt; }

// float8 input's spellings of the values format_double writes otherwise.
std::string float8_text(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
  return format_double(v);
}

RowTexts group_row(const char* tipo, std::size_t posicao, const GroupSummary& g) {
  return {tipo,
          std::to_string(posicao),
          g.nome,
          std::to_string(g.clientes_ativos),
          std::to_string(g.titulos_ativos),
          g.valor_ativos,
          std::to_string(g.clientes_inativos),
          std::to_string(g.titulos_inativos),
          g.valor_inativos,
          text(g.vencimento),
          text(g.dias_atraso),
          std::nullopt,
          std::nullopt,
          std::nullopt,
          std::nullopt,
          std::nullopt,
          std::nullopt,
          std::nullopt};
}

RowTexts debtor_row(std::size_t posicao, const Debtor& d) {
  return {"devedor",     std::to_string(posicao),
          std::nullopt,  std::nullopt,
          std::nullopt,  std::nullopt,
          std::nullopt,  std::nullopt,
          std::nullopt,  text(d.vencimento),
          text(d.dias_atraso), text(d.idcliente),
          d.razaosocial, d.filial,
          d.cidade,      text(d.statuscliente),
          float8_text(d.valoratraso), text(d.titulosatraso)};
}

std::vector<RowTexts> rows_of(const RunSummary& summary) {
  std::vector<RowTexts> rows;
  rows.push_back(group_row("total", 0, summary.total));
  for (std::size_t i = 0; i < summary.filiais.size(); ++i) rows.push_back(group_row("filial", i + 1, summary.filiais[i]));
  for (std::size_t i = 0; i < summary.cidades.size(); ++i) rows.push_back(group_row("cidade", i + 1, summary.cidades[i]));
  for (std::size_t i = 0; i < summary.devedores.size(); ++i) rows.push_back(debtor_row(i + 1, summary.devedores[i]));
  return rows;
}

// "INSERT INTO ixc_clientes_resumo (...) VALUES ($1, $2, $3, ...), ($1, $2, $21, ...)"
// for `rows` rows: each row's own values numbered after the two shared ones.
std::string insert_statement(std::size_t rows) {
  std::string sql = "INSERT INTO " + kTable + " (ixcidentification, timestamp";
  for (const char* column : kRowColumns) sql.append(", ").append(column);
  sql += ") VALUES ";
  std::size_t n = 3;
  for (std::size_t r = 0; r < rows; ++r) {
    sql += r ? ", ($1, $2" : "($1, $2";
    for (std::size_t c = 0; c < kRowColumns.size(); ++c, ++n) sql += ", $" + std::to_string(n);
    sql += ')';
  }
  return sql;
}

}  // namespace

std::string create_summary_table_statement() {
  return "CREATE TABLE IF NOT EXISTS " + kTable +
         " (ixcidentification TEXT NOT NULL, timestamp TIMESTAMP NOT NULL, tipo TEXT NOT NULL, posicao INT NOT "
         "NULL, nome TEXT, clientes_ativos BIGINT, titulos_ativos BIGINT, valor_ativos NUMERIC, clientes_inativos "
         "BIGINT, titulos_inativos BIGINT, valor_inativos NUMERIC, datavencimento TIMESTAMP, dias_atraso INT, "
         "idcliente INT, razaosocial TEXT, filial TEXT, cidade TEXT, statuscliente INT, valoratraso DOUBLE "
         "PRECISION, titulosatraso INT, PRIMARY KEY (ixcidentification, tipo, posicao), CONSTRAINT " +
         kTable + "_timestamp_key UNIQUE (timestamp, ixcidentification, tipo, posicao))";
}

void queue_summary(Pipeline& pipeline, const RunSummary& summary, std::string_view identification) {
  const std::string id(identification);
  const std::string stamp = format_datetime(summary.timestamp);
  const char* const shared[] = {id.c_str(), stamp.c_str()};
  pipeline.exec("SELECT pg_advisory_xact_lock(" + std::to_string(kSummaryLockClass) + ", hashtext($1))", 1, shared);
  pipeline.exec("DELETE FROM " + kTable + " WHERE ixcidentification = $1", 1, shared);
  // Rows that another run is replacing are locked by it: skipped, so that
  // two runs never wait for each other here.
  pipeline.exec("DELETE FROM " + kTable + " WHERE ctid = ANY (ARRAY(SELECT ctid FROM " + kTable +
                " WHERE timestamp < NOW() - INTERVAL '1 day' FOR UPDATE SKIP LOCKED))");
  const std::vector<RowTexts> rows = rows_of(summary);
  std::vector<const char*> values;
  for (std::size_t first = 0; first < rows.size(); first += kPageRows) {
    const std::size_t count = std::min(kPageRows, rows.size() - first);
    values.assign(shared, shared + 2);
    for (std::size_t r = first; r < first + count; ++r)
      for (const Text& value : rows[r]) values.push_back(value ? value->c_str() : nullptr);
    pipeline.exec(insert_statement(count), static_cast<int>(values.size()), values.data());
  }
}

}  // namespace cobrix::store
