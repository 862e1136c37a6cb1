#include "central/retention.h"

#include <string>
#include <vector>

#include "central/failures.h"
#include "central/layout.h"
#include "central/session.h"

namespace cobrix::central {

const char* const kInstallationScan =
    "WITH RECURSIVE ids(id) AS ("
    "(SELECT ixcidentification FROM ixc_clientes WHERE ixcidentification IS NOT NULL "
    "ORDER BY ixcidentification LIMIT 1) "
    "UNION ALL SELECT (SELECT c.ixcidentification FROM ixc_clientes c WHERE c.ixcidentification > ids.id "
    "ORDER BY c.ixcidentification LIMIT 1) FROM ids WHERE ids.id IS NOT NULL) "
    "SELECT id FROM ids WHERE id IS NOT NULL";

const char* const kInstallationDelete =
    "DELETE FROM ixc_clientes WHERE ixcidentification = $1 AND timestamp < LOCALTIMESTAMP - INTERVAL '1 day'";

const char* const kSummaryDelete =
    "DELETE FROM ixc_clientes_resumo WHERE timestamp < LOCALTIMESTAMP - INTERVAL '1 day'";

namespace {

// Rows without an identification, which no run writes, in a range of the
// same index.
const char* const kUnidentifiedDelete =
    "DELETE FROM ixc_clientes WHERE ixcidentification IS NULL AND timestamp < LOCALTIMESTAMP - INTERVAL '1 day'";

long deleted(const PgResult& res) { return std::stol(PQcmdTuples(res.get())); }

// One statement in a transaction of its own, without JIT compilation
// (the planner's estimate for the oldest rows can be coarse enough to
// compile a delete that then costs more than its rows). Returns the count.
long delete_alone(PGconn* conn, const char* sql, const std::vector<std::string>& params) {
  Transaction transaction(conn);
  store::exec(conn, "SET LOCAL jit = off");
  const PgResult res = params.empty() ? store::exec(conn, sql) : exec_params(conn, sql, {params.at(0)});
  transaction.commit();
  return deleted(res);
}

}  // namespace

void retention(PGconn* conn, std::ostream& out) {
  std::vector<std::string> ids;
  bool with_summary = false;
  {
    Transaction transaction(conn);
    const DatabaseState state = check_owner(conn);
    if (!state.clientes.exists) throw Refusal("a tabela ixc_clientes não existe: execute antes cobrix-central init.");
    with_summary = state.resumo.exists;
    const PgResult res = store::exec(conn, kInstallationScan);
    for (int row = 0; row < PQntuples(res.get()); ++row) ids.push_back(value(res.get(), row, 0));
    transaction.commit();
  }
  long total = 0;
  for (const std::string& id : ids) {
    const long n = delete_alone(conn, kInstallationDelete, {id});
    if (n > 0) out << "Instalação '" << id << "', linhas antigas apagadas de ixc_clientes: " << n << '\n' << std::flush;
    total += n;
  }
  total += delete_alone(conn, kUnidentifiedDelete, {});
  out << "ixc_clientes, linhas antigas apagadas: " << total << " (instalações verificadas: " << ids.size() << ")\n";
  if (with_summary)
    out << "ixc_clientes_resumo, linhas antigas apagadas: " << delete_alone(conn, kSummaryDelete, {}) << '\n';
  out << "OK\n" << std::flush;
}

}  // namespace cobrix::central
