#pragma once
// The owner's retention: the rows that no run refreshed for more than a
// day, of every installation, those of installations that stopped running
// included (a run deletes only its own).

#include <libpq-fe.h>

#include <ostream>

namespace cobrix::central {

// The installations present in ixc_clientes, read as a loose index scan of
// ixc_clientes_instalacao_idx: one descent of the index per installation
// (the next identification above the last one), never the whole table.
extern const char* const kInstallationScan;

// The delete of one installation's ($1) stale rows, an exact range of
// ixc_clientes_instalacao_idx.
extern const char* const kInstallationDelete;

// The delete of the stale summary rows, a range of the summary table's key
// led by timestamp.
extern const char* const kSummaryDelete;

// Deletes the stale rows of both tables, each installation's rows of
// ixc_clientes in a transaction of its own (a lock timeout or a failure
// keeps what was deleted before it), and writes the counts and a last line
// "OK" on `out`. Needs ixc_clientes to exist and to be the connected role's
// (see check_owner). Throws Refusal or PgError.
void retention(PGconn* conn, std::ostream& out);

}  // namespace cobrix::central
