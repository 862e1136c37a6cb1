#pragma once
// The overdue-customer discovery behind the mode "descobertaClientes".

#include <ostream>

#include "model/run_config.h"

namespace cobrix {

// Reads the overdue customers from the IXC database named by `settings`,
// builds their records and totals, then either prints the debug report to
// `out` (zabbix_host exactly "debug") or hands the records to the store and
// prints "OK". Ends the run with an exit request (throws ExitRequest) and
// never returns normally; database failures travel up as exceptions.
[[noreturn]] void descobertaClientes(const RunSettings& settings, std::ostream& out);

}  // namespace cobrix
