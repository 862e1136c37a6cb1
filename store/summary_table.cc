#include "store/summary_table.h"

#include <array>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "model/value_text.h"
#include "store/isolation.h"
#include "store/md5.h"
#include "store/waits.h"

namespace cobrix::store {

namespace {

const std::string kTable = kSummaryTable;

// The columns after the two that every row of a summary shares
// (ixcidentification, timestamp), in table order, with their types.
struct RowColumn {
  const char* name;
  const char* type;
};
constexpr std::array<RowColumn, 19> kRowColumns = {{
    {"tipo", "text"},
    {"posicao", "int"},
    {"nome", "text"},
    {"clientes_ativos", "bigint"},
    {"titulos_ativos", "bigint"},
    {"valor_ativos", "numeric"},
    {"clientes_inativos", "bigint"},
    {"titulos_inativos", "bigint"},
    {"valor_inativos", "numeric"},
    {"datavencimento", "timestamp"},
    {"dias_atraso", "int"},
    {"idcliente", "int"},
    {"razaosocial", "text"},
    {"filial", "text"},
    {"cidade", "text"},
    {"statuscliente", "int"},
    {"valoratraso", "float8"},
    {"titulosatraso", "int"},
    {"chave", "text"},
}};

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

// A row's key for the readers: md5 of tipo, ':' and nome for a named
// branch or city, else the bare tipo, which no md5 can be.
Text row_key(Md5Hex& md5, const std::string& tipo, const Text& nome) { return nome ? md5(tipo + ':' + *nome) : tipo; }

RowTexts group_row(Md5Hex& md5, const char* tipo, std::size_t posicao, const GroupSummary& g) {
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
          std::nullopt,
          row_key(md5, tipo, g.nome)};
}

RowTexts debtor_row(std::size_t posicao, const Debtor& d) {
  return {"devedor",
          std::to_string(posicao),
          std::nullopt,
          std::nullopt,
          std::nullopt,
          std::nullopt,
          std::nullopt,
          std::nullopt,
          std::nullopt,
          text(d.vencimento),
          text(d.dias_atraso),
          text(d.idcliente),
          d.razaosocial,
          d.filial,
          d.cidade,
          text(d.statuscliente),
          float8_text(d.valoratraso),
          text(d.titulosatraso),
          "devedor"};
}

// The array input texts of the columns, a row at a time: each element
// quoted, its quotes and backslashes escaped, NULL for none.
class ColumnArrays {
 public:
  void add(const RowTexts& row) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      std::string& text = texts_[c];
      text += text.empty() ? '{' : ',';
      if (!row[c]) {
        text += "NULL";
        continue;
      }
      text += '"';
      for (const char ch : *row[c]) {
        if (ch == '"' || ch == '\\') text += '\\';
        text += ch;
      }
      text += '"';
    }
  }
  // The texts, closed; the object is spent.
  std::array<std::string, kRowColumns.size()> finish() && {
    for (std::string& text : texts_) text += text.empty() ? "{}" : "}";
    return std::move(texts_);
  }

 private:
  std::array<std::string, kRowColumns.size()> texts_;
};

std::array<std::string, kRowColumns.size()> column_arrays(const RunSummary& summary) {
  Md5Hex md5;
  ColumnArrays arrays;
  arrays.add(group_row(md5, "total", 0, summary.total));
  for (std::size_t i = 0; i < summary.filiais.size(); ++i)
    arrays.add(group_row(md5, "filial", i + 1, summary.filiais[i]));
  for (std::size_t i = 0; i < summary.cidades.size(); ++i)
    arrays.add(group_row(md5, "cidade", i + 1, summary.cidades[i]));
  for (std::size_t i = 0; i < summary.devedores.size(); ++i) arrays.add(debtor_row(i + 1, summary.devedores[i]));
  return std::move(arrays).finish();
}

// The insert of every row of a summary in one statement, whatever their
// number: $1 and $2 the shared values, then one array per column, read
// back as rows by unnest. The server parses a few arrays, where a VALUES
// list costs it a parameter and more per value.
std::string insert_statement() {
  std::string sql = "INSERT INTO " + kTable + " (ixcidentification, timestamp";
  for (const RowColumn& column : kRowColumns) sql.append(", ").append(column.name);
  sql += ") SELECT $1::text, $2::timestamp, * FROM unnest(";
  for (std::size_t c = 0; c < kRowColumns.size(); ++c)
    sql.append(c ? ", $" : "$").append(std::to_string(c + 3)).append("::").append(kRowColumns[c].type).append("[]");
  return sql + ")";
}

}  // namespace

std::string create_summary_table_statement() {
  return "CREATE TABLE IF NOT EXISTS " + kTable +
         " (ixcidentification TEXT NOT NULL, timestamp TIMESTAMP NOT NULL, tipo TEXT NOT NULL, posicao INT NOT "
         "NULL, nome TEXT, clientes_ativos BIGINT, titulos_ativos BIGINT, valor_ativos NUMERIC, clientes_inativos "
         "BIGINT, titulos_inativos BIGINT, valor_inativos NUMERIC, datavencimento TIMESTAMP, dias_atraso INT, "
         "idcliente INT, razaosocial TEXT, filial TEXT, cidade TEXT, statuscliente INT, valoratraso DOUBLE "
         "PRECISION, titulosatraso INT, chave TEXT, PRIMARY KEY (ixcidentification, tipo, posicao), CONSTRAINT " +
         kTable + "_timestamp_key UNIQUE (timestamp, ixcidentification, tipo, posicao))";
}

void queue_summary(Pipeline& pipeline, const RunSummary& summary, std::string_view identification, bool isolated) {
  const std::string id(identification);
  const std::string stamp = format_datetime(summary.timestamp);
  const char* const shared[] = {id.c_str(), stamp.c_str()};
  // A summary is written anew by every run: a commit that a crash loses
  // costs nothing that the next run does not bring back, so the commit does
  // not wait for its flush to disk.
  pipeline.exec(kBoundedWaits + ", set_config('synchronous_commit', 'off', true)");
  if (isolated)
    pipeline.exec(kOwnRowLock, 1, shared);
  else
    pipeline.exec("SELECT pg_advisory_xact_lock(" + std::to_string(kSummaryLockClass) + ", hashtext($1))", 1, shared);
  pipeline.exec("DELETE FROM " + kTable + " WHERE ixcidentification = $1", 1, shared);
  // Rows that another run is replacing are locked by it: skipped, so that
  // two runs never wait for each other here.
  if (!isolated)
    pipeline.exec("DELETE FROM " + kTable + " WHERE ctid = ANY (ARRAY(SELECT ctid FROM " + kTable +
                  " WHERE timestamp < NOW() - INTERVAL '1 day' FOR UPDATE SKIP LOCKED))");
  const auto arrays = column_arrays(summary);
  std::vector<const char*> values(shared, shared + 2);
  for (const std::string& array : arrays) values.push_back(array.c_str());
  pipeline.exec(insert_statement(), static_cast<int>(values.size()), values.data());
}

}  // namespace cobrix::store
