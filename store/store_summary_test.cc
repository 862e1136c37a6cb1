// The run's summary in ixc_clientes_resumo against what SQL over the rows
// that the run wrote to ixc_clientes gives, and when a run leaves, replaces
// or removes a summary. The readers' queries are those of
// contrib/zabbix/queries.sql.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <thread>

#include "store/store_test_util.h"

namespace cobrix::store_test {
namespace {

// The summary's rows of installation `ixc` as text, one line each, every
// column but the run timestamp; `source` gives them (a table of the
// summary's columns, in any order).
std::string rows_text(const TestDatabase& db, const std::string& source) {
  return db.scalar("SELECT coalesce(string_agg(concat_ws('|', tipo, posicao, ROW(nome, clientes_ativos, "
                   "titulos_ativos, valor_ativos, clientes_inativos, titulos_inativos, valor_inativos, "
                   "datavencimento, dias_atraso, idcliente, razaosocial, filial, cidade, statuscliente, valoratraso, "
                   "titulosatraso, chave)::text), E'\\n' ORDER BY tipo <> 'total', tipo, posicao), '') FROM (" +
                   source + ") s");
}

std::string stored(const TestDatabase& db, const std::string& ixc) {
  return rows_text(db, "SELECT * FROM ixc_clientes_resumo WHERE ixcidentification = '" + ixc + "'");
}

// The same rows computed by SQL from the installation's latest run in
// ixc_clientes, as the former totals query found it (the rows that carry the
// latest timestamp), with the readers' keys as PostgreSQL's md5() makes them.
std::string computed(const TestDatabase& db, const std::string& ixc) {
  const std::string split = R"(
      count(*) FILTER (WHERE statuscliente <> 0) AS clientes_ativos,
      coalesce(sum(titulosatraso) FILTER (WHERE statuscliente <> 0), 0) AS titulos_ativos,
      coalesce(round(sum(valoratraso::numeric) FILTER (WHERE statuscliente <> 0), 2), 0.00) AS valor_ativos,
      count(*) FILTER (WHERE statuscliente = 0) AS clientes_inativos,
      coalesce(sum(titulosatraso) FILTER (WHERE statuscliente = 0), 0) AS titulos_inativos,
      coalesce(round(sum(valoratraso::numeric) FILTER (WHERE statuscliente = 0), 2), 0.00) AS valor_inativos,
      min(datavencimento) AS datavencimento,
      max(timestamp)::date - min(datavencimento)::date AS dias_atraso)";
  const std::string run = "SELECT * FROM ixc_clientes WHERE ixcidentification = '" + ixc +
                          "' AND timestamp = (SELECT max(timestamp) FROM ixc_clientes WHERE ixcidentification = '" +
                          ixc + "')";
  const std::string none = "NULL::int AS idcliente, NULL AS razaosocial, NULL AS filial, NULL AS cidade, NULL::int AS "
                           "statuscliente, NULL::float8 AS valoratraso, NULL::int AS titulosatraso";
  return rows_text(
      db, "SELECT *, coalesce(md5(tipo || ':' || nome), tipo) AS chave FROM (SELECT 'total' AS tipo, 0 AS "
          "posicao, NULL AS nome, " + split + ", " + none + " FROM (" + run +
              ") r UNION ALL SELECT 'filial', row_number() OVER (ORDER BY filial COLLATE \"C\" NULLS LAST), filial, " +
              split + ", " + none + " FROM (" + run +
              ") r GROUP BY filial UNION ALL SELECT 'cidade', row_number() OVER (ORDER BY cidade COLLATE \"C\" NULLS "
              "LAST), cidade, " + split + ", " + none + " FROM (" + run +
              ") r GROUP BY cidade UNION ALL (SELECT 'devedor', row_number() OVER (ORDER BY valoratraso DESC, "
              "idcliente), NULL, NULL, NULL, NULL, NULL, NULL, NULL, datavencimento, timestamp::date - "
              "datavencimento::date, idcliente, razaosocial, filial, cidade, statuscliente, valoratraso, "
              "titulosatraso FROM (" + run + ") r WHERE valoratraso IS NOT NULL ORDER BY valoratraso DESC, "
              "idcliente LIMIT 100)) u");
}

// Customers of every kind the summary must tell apart: inactive ones and
// ones without a status, branches and cities with quotes, an empty name and
// none, missing titles, amounts and due dates, equal amounts (the top 100
// cut falls among them), and amounts whose cents a sum of doubles would get
// wrong: 1.005 and 2.675 lie just below their half cent as doubles, but
// PostgreSQL sums their 15 significant digits.
std::vector<Record> varied(const std::string& ixc) {
  const std::vector<Value> filiais = {"Matriz", "Filial D'Ávila \"Norte\"", "Filial \\ Sul", "", Null{}};
  const std::vector<Value> cidades = {"São Paulo", "O'Higgins", "Santo André", Null{}};
  const std::vector<double> odd = {1.005, 2.675, 0.125, 1e-7, 1.5e15 + 0.25, 123456789.123, -0.015, 0.1, 0.2};
  std::vector<Record> records = customers(260, ixc);
  for (std::size_t i = 0; i < records.size(); ++i) {
    Record& r = records[i];
    set_value(r, "{#RAZAO_SOCIAL}", "Cliente D'Ávila \"" + std::to_string(i) + "\" \\ nº " + std::to_string(i));
    set_value(r, "{#STATUS_CLIENTE}", i % 37 == 5 ? Value(Null{}) : Value(std::int64_t{i % 4 == 0 ? 0 : 1}));
    set_value(r, "{#FILIAL}", filiais[i % filiais.size()]);
    set_value(r, "{#CIDADE}", cidades[(i / 3) % cidades.size()]);
    set_value(r, "{#TITULOS_ATRASO}", i % 9 == 0 ? Value(Null{}) : Value(std::int64_t(i % 7 + 1)));
    set_value(r, "{#DATA_VENCIMENTO}",
              i % 13 == 0 ? Value(Null{}) : Value(DateTime{2025, int(i % 12) + 1, int(i % 28) + 1, 23, 59, 30}));
    set_value(r, "{#VALOR_ATRASO}", i % 31 == 0   ? Value(Null{})
                                    : i % 5 == 0  ? Value(odd[(i / 5) % odd.size()])
                                                  : Value(double(1000 - int(i % 150)) + 0.5));
  }
  return records;
}

// A few customers whose sums PostgreSQL takes as NaN or infinite.
std::vector<Record> special_amounts(const std::string& ixc) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<std::string, double>> rows = {
      {"nan", std::nan("")}, {"nan", 2.5}, {"inf", inf}, {"inf", 1.25}, {"both", inf}, {"both", -inf}, {"minus", -inf}};
  std::vector<Record> records = customers(rows.size(), ixc);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    set_value(records[i], "{#FILIAL}", rows[i].first);
    set_value(records[i], "{#VALOR_ATRASO}", rows[i].second);
  }
  return records;
}

RunSettings as_installation(RunSettings settings, const std::string& ixc) {
  settings.zabbix_host = ixc;
  return settings;
}

std::string summary_stamp(const TestDatabase& db, const std::string& ixc) {
  return db.scalar("SELECT coalesce(string_agg(DISTINCT timestamp::text, ','), '') FROM ixc_clientes_resumo WHERE "
                   "ixcidentification = '" + ixc + "'");
}

// The query `name` of contrib/zabbix/queries.sql, macros replaced.
std::string reader_query(const std::string& name, const std::string& host, int top) {
  std::ifstream file(COBRIX_SOURCE_DIR "/contrib/zabbix/queries.sql");
  std::string sql;
  bool inside = false;
  for (std::string line; std::getline(file, line);) {
    if (line.starts_with("-- query: ")) inside = line == "-- query: " + name;
    else if (inside && !line.starts_with("--")) sql += line + "\n";
  }
  for (const auto& [macro, value] : {std::pair<std::string, std::string>{"{HOST.HOST}", host},
                                     {"{$COBRIX.TOP.N}", std::to_string(top)}})
    for (std::size_t at; (at = sql.find(macro)) != std::string::npos;) sql.replace(at, macro.size(), value);
  return sql;
}

TEST(StoreSummary, EqualsWhatSqlOverTheRunsRowsGivesDirectlyAndThroughAPooler) {
  struct Case {
    const char* name;
    std::function<std::vector<Record>(const std::string&)> records;
    bool pooled;
  };
  const Case cases[] = {
      {"varied customers", varied, false},
      {"varied customers through the pooler", varied, true},
      {"sums that are NaN or infinite", special_amounts, false},
      {"one customer", [](const std::string& ixc) { return customers(1, ixc); }, false},
  };
  const TestDatabase db("summary");
  ASSERT_TRUE(run_store(customers(3, "outra"), as_installation(db.settings(), "outra")).ok);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string ixc = "isp";
    const RunSettings settings = as_installation(c.pooled ? through_pooler(db) : db.settings(), ixc);
    // A first run with other customers, whose summary the second replaces.
    ASSERT_TRUE(run_store(customers(120, ixc, 1000), settings).ok);
    const std::vector<Record> records = c.records(ixc);
    const StoreRun run = run_store(records, settings);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(run.out, normal_lines(records.size()));
    EXPECT_EQ(stored(db, ixc), computed(db, ixc));
    EXPECT_EQ(summary_stamp(db, ixc), db.scalar("SELECT max(timestamp)::text FROM ixc_clientes WHERE "
                                                "ixcidentification = '" + ixc + "'"));
    db.exec("DELETE FROM ixc_clientes WHERE ixcidentification = '" + ixc + "'");
  }
  EXPECT_EQ(stored(db, "outra"), computed(db, "outra"));  // another installation's summary is left alone

  // The readers' queries: the totals first, then the cities, the hundred
  // largest debtors (the templates keep the first {$COBRIX.TOP.N}) and the branches.
  ASSERT_TRUE(run_store(varied("isp"), as_installation(db.settings(), "isp")).ok);
  for (const int top : {20, 100}) {
    const testing::Rows rows = db.query(reader_query("cobrix.resumo", "isp", top));
    std::string kinds;
    for (const auto& row : rows) kinds += *row[0] == "devedor" ? "d" : (*row[0]).substr(0, 1);
    EXPECT_EQ(kinds, "t" + std::string(4, 'c') + std::string(100, 'd') + std::string(5, 'f')) << top;
  }
  EXPECT_EQ(db.query(reader_query("cobrix.totais", "isp", 20)),
            db.query("SELECT clientes_ativos, titulos_ativos, valor_ativos, clientes_inativos, titulos_inativos, "
                     "valor_inativos FROM ixc_clientes_resumo WHERE ixcidentification = 'isp' AND tipo = 'total'"));
  EXPECT_EQ(db.query(reader_query("cobrix.resumo", "nenhuma", 20)).size(), 0u);
}

TEST(StoreSummary, ARunKeepsReplacesOrRemovesSummariesAsItsRowsGo) {
  const TestDatabase db("summary_life");
  const RunSettings settings = as_installation(db.settings(), "isp");
  ASSERT_TRUE(run_store(varied("isp"), settings).ok);
  const std::string before = stored(db, "isp");
  const std::string stamp = summary_stamp(db, "isp");

  // A failed upsert (the same customer twice in one page) keeps the
  // previous summary, rows and time.
  std::vector<Record> twice = customers(10, "isp");
  set_value(twice[5], "{#ID_CLIENTE}", std::int64_t{3});
  EXPECT_FALSE(run_store(twice, settings).ok);
  EXPECT_EQ(stored(db, "isp"), before);
  EXPECT_EQ(summary_stamp(db, "isp"), stamp);

  // An installation that stopped running loses its summary with its rows;
  // one that runs with no overdue customer keeps a summary of zeros.
  db.exec("INSERT INTO ixc_clientes_resumo (ixcidentification, timestamp, tipo, posicao) VALUES ('parou', now() - "
          "interval '25 hours', 'total', 0), ('parou', now() - interval '25 hours', 'devedor', 1)");
  const StoreRun empty = run_store({}, settings);
  EXPECT_TRUE(empty.ok);
  EXPECT_EQ(empty.out, normal_lines(0));
  EXPECT_EQ(db.scalar("SELECT count(*) FROM ixc_clientes_resumo WHERE ixcidentification = 'parou'"), "0");
  EXPECT_EQ(stored(db, "isp"), "total|0|(,0,0,0.00,0,0,0.00,,,,,,,,,,total)");
  EXPECT_EQ(db.scalar("SELECT (max(timestamp) > '" + stamp + "')::text FROM ixc_clientes_resumo"), "true");
}

TEST(StoreSummary, RunsOfOneInstallationAtOnceThroughThePoolerLeaveOneWholeSummary) {
  // Each run replaces the summary under the installation's lock: no run
  // fails on another's rows, and what stays is one run's summary whole.
  const TestDatabase db("summary_race");
  const RunSettings settings = as_installation(through_pooler(db), "isp");
  ASSERT_TRUE(run_store({}, settings).ok);
  std::vector<std::vector<Record>> records;
  for (std::size_t i = 0; i < 4; ++i) records.push_back(customers(300 + 50 * i, "isp"));
  std::vector<StoreRun> runs(records.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < records.size(); ++i)
    threads.emplace_back([&, i] { runs[i] = run_store(records[i], settings); });
  for (std::thread& t : threads) t.join();
  for (std::size_t i = 0; i < records.size(); ++i) EXPECT_EQ(runs[i].out, normal_lines(records[i].size())) << i;
  const std::string customers_in_summary =
      db.scalar("SELECT clientes_ativos FROM ixc_clientes_resumo WHERE ixcidentification = 'isp' AND tipo = 'total'");
  EXPECT_TRUE(customers_in_summary == "300" || customers_in_summary == "350" || customers_in_summary == "400" ||
              customers_in_summary == "450")
      << customers_in_summary;
  EXPECT_EQ(db.scalar("SELECT count(*) FILTER (WHERE tipo = 'devedor') || ':' || count(DISTINCT timestamp) FROM "
                      "ixc_clientes_resumo WHERE ixcidentification = 'isp'"),
            "100:1");
}

}  // namespace
}  // namespace cobrix::store_test
