#pragma once
// The PostgreSQL customer table store (table ixc_clientes).

#include <ostream>
#include <vector>

#include "model/record.h"
#include "model/record_list.h"
#include "model/run_config.h"

namespace cobrix {

// Mirrors `descobertaClientes` into ixc_clientes on the PostgreSQL server of
// `settings`, writing its progress and error lines to `out`. Returns false
// when the store failed (connection, upsert or retention), true otherwise.
bool sendPostgresClientes(const RecordList& descobertaClientes, const RunSettings& settings, std::ostream& out);

// The same for records held one by one.
bool sendPostgresClientes(const std::vector<Record>& descobertaClientes, const RunSettings& settings,
                          std::ostream& out);

}  // namespace cobrix
