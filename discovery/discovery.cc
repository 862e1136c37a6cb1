#include "discovery/discovery.h"

#include <utility>

#include "discovery/debug_report.h"
#include "discovery/ixc_connection.h"
#include "discovery/overdue_query.h"
#include "discovery/records.h"
#include "model/phase_log.h"
#include "store/store.h"

namespace cobrix {

void descobertaClientes(const RunSettings& settings, std::ostream& out) {
  ResultRows rows;
  {
    PhaseTimer phase("query_fetch");
    IxcConnection conn(settings);
    rows = obterDadosCliente(conn);
    conn.close();
  }

  DiscoveryResult result;
  {
    PhaseTimer phase("records");
    result = build_records(std::move(rows), settings.zabbix_host);
  }

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
