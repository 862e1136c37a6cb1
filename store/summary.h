#pragma once
// What a run's customer records add up to, as the table
// ixc_clientes_resumo keeps it for Zabbix to read at little cost: the six
// totals of active and inactive customers, the same per branch and per
// city, and the customers with the largest overdue amount. Computed from
// the records the run holds, so that it says of the run exactly what a
// query over the rows that the run wrote to ixc_clientes would.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/record.h"
#include "model/record_list.h"

namespace cobrix::store {

// The debtors a summary keeps: as many as a reader may ask for.
inline constexpr std::size_t kTopDebtors = 100;

// Customers, titles and amount of one set of customers, split as the
// totals are: active (statuscliente <> 0) and inactive (= 0); a customer
// without a status is in neither, as in SQL.
struct GroupSummary {
  std::optional<std::string> nome;  // the branch or city; nullopt: the customers without one
  std::int64_t clientes_ativos = 0;
  std::int64_t titulos_ativos = 0;
  std::string valor_ativos = "0.00";  // numeric text, rounded to cents
  std::int64_t clientes_inativos = 0;
  std::int64_t titulos_inativos = 0;
  std::string valor_inativos = "0.00";
  std::optional<DateTime> vencimento;      // the oldest due date of the set
  std::optional<std::int64_t> dias_atraso;  // days from it to the run's date
};

// One of the customers with the largest overdue amount.
struct Debtor {
  std::optional<std::int64_t> idcliente;
  std::optional<std::string> razaosocial;
  std::optional<std::string> filial;
  std::optional<std::string> cidade;
  std::optional<std::int64_t> statuscliente;
  double valoratraso = 0;
  std::optional<std::int64_t> titulosatraso;
  std::optional<DateTime> vencimento;
  std::optional<std::int64_t> dias_atraso;
};

struct RunSummary {
  DateTime timestamp;  // the run's, as every row it wrote carries it
  GroupSummary total;
  std::vector<GroupSummary> filiais;  // by name (bytewise), the customers without a branch last
  std::vector<GroupSummary> cidades;  // likewise by city
  std::vector<Debtor> devedores;      // at most kTopDebtors, first place first
};

// The summary of `records`, a run stamped `timestamp`. Amounts are summed
// exactly as PostgreSQL sums valoratraso::numeric (each double read as its
// 15 significant digits) and rounded to cents half away from zero, as
// round(..., 2) does; a sum with a NaN, or with both infinities, is "NaN".
// The debtors are the customers with an amount, ranked by amount
// descending (NaN first, as PostgreSQL orders float8), then by idcliente
// ascending (none last), then by record order. The days overdue are the
// calendar days from a due date to the run's date. A value of another kind
// than the column takes (an integer status, a double or integer amount, a
// date) counts as none; a text column takes any value in the text that
// the upsert sends for it. The identification is not read: the records are
// taken as the run's, one per customer.
RunSummary summarize(const RecordList& records, const DateTime& timestamp);

}  // namespace cobrix::store
