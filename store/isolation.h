#pragma once
// The isolated layout of the shared tables: row-level security gives each
// installation's login role its own installation's rows only, as the table
// ixc_clientes_acesso maps roles to installations (one row per role and
// installation; escrita marks the role that writes it, the others read).
// The tables' owner sets it up (cobrix-central init); no run changes it.

#include <libpq-fe.h>

#include <string_view>

namespace cobrix::store {

inline constexpr const char* kAccessTable = "ixc_clientes_acesso";

// Checks, in one round trip, that this session's role writes installation
// `identification`. Throws a Failure of kind PostgreSQL that names the role
// and the installation when it does not (the run must then write nothing:
// every row it sent would be refused), PgError when the query fails.
void check_writer(PGconn* conn, std::string_view identification);

// The lock under which a run replaces its installation's summary in the
// isolated layout, $1 the identification: its own row of
// ixc_clientes_acesso, which it stamps with the time of the run. No other
// installation's role can see that row, so none can take the lock or make
// the run wait for it.
inline constexpr const char* kOwnRowLock =
    "UPDATE ixc_clientes_acesso SET ultima_execucao = now() WHERE papel = current_user AND ixcidentification = $1";

}  // namespace cobrix::store
