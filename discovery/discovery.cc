#include "discovery/discovery.h"

#include <span>
#include <utility>

#include "discovery/debug_report.h"
#include "discovery/ixc_connection.h"
#include "discovery/overdue_query.h"
#include "discovery/records.h"
#include "model/phase_log.h"
#include "store/store.h"

namespace cobrix {

namespace {

// The records and totals of the overdue customers. The records are built
// while the rows arrive (the phase "query_fetch" includes them; "records"
// is only the hand-over), and the IXC connection is closed before they are
// returned.
DiscoveryResult read_overdue_customers(const RunSettings& settings) {
  RecordBuilder builder(settings.zabbix_host);
  {
    PhaseTimer phase("query_fetch");
    IxcConnection conn(settings);
    obterDadosCliente(conn, [&builder](std::span<const SqlValue> row) { builder.add(row); });
    conn.close();
  }
  PhaseTimer phase("records");
  return std::move(builder).finish();
}

}  // namespace

void descobertaClientes(const RunSettings& settings, std::ostream& out) {
  const DiscoveryResult result = read_overdue_customers(settings);

  if (settings.zabbix_host == "debug") {
    {
      PhaseTimer phase("report");
      write_debug_report(result, out);
      out.flush();
    }
    throw ExitRequest{0};
  }

  // A store that failed after printing its own message is not a success:
  // no "OK", so that a trigger on "OK" sees it, and exit status 1.
  if (!sendPostgresClientes(result.descobertaClientesDB, settings, out)) {
    out.flush();
    throw ExitRequest{1};
  }
  out << "OK\n";
  out.flush();
  throw ExitRequest{0};
}

}  // namespace cobrix
