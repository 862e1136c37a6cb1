#include "store/store.h"

#include "model/phase_log.h"
#include "store/messages.h"
#include "store/pg_connection.h"
#include "store/schema.h"
#include "store/upsert.h"

namespace cobrix {

namespace {

// The way pages travel. A statement prepared once and executed for every
// page is the fastest (the server parses the 16,000-parameter text once),
// but it lives in the server session across round trips: only on a session
// that belongs to this connection alone can no other client's statement take
// its place. Behind a pooler each page travels with its own text in the one
// round trip that executes it. Chosen by measurement (see bench/).
// A build for the benchmarks may fix one way for every connection
// (-DCOBRIX_PAGE_METHOD=prepared|bound|literal).
store::PageMethod page_method([[maybe_unused]] PGconn* conn) {
#ifdef COBRIX_FORCED_PAGE_METHOD
  return store::PageMethod::COBRIX_FORCED_PAGE_METHOD;
#else
  return store::owns_server_session(conn) ? store::PageMethod::prepared : store::PageMethod::bound;
#endif
}

using store::say;
using store::say_error;

}  // namespace

bool sendPostgresClientes(const RecordList& descobertaClientes, const RunSettings& settings, std::ostream& out) {
  store::PgConn conn;
  try {
    conn = store::connect(settings);
    say(out, "Conectado ao PostgreSQL com sucesso.");
  } catch (const std::exception& e) {
    say_error(out, "Erro ao conectar ao PostgreSQL: ", e);
    return false;
  }

  store::ensure_table(conn.get(), out);

  const DateTime timestamp_now = store::get_timestamp();
  say(out, "Enviando " + std::to_string(descobertaClientes.size()) + " registros (Clientes) com UPSERT...");

  bool upserted = true;
  try {
    const PhaseTimer timer("upsert");
    if (descobertaClientes.size() > 0)
      store::upsert_pages(conn.get(), descobertaClientes, timestamp_now, page_method(conn.get()));
    say(out, "UPSERT em ixc_clientes concluído com sucesso!");
  } catch (const std::exception& e) {
    say_error(out, "Erro durante UPSERT em ixc_clientes: ", e);
    store::request_rollback(conn.get());
    upserted = false;
  }

  // A failed upsert left overdue customers unrefreshed; deleting by age now
  // would drop exactly those, so the old rows stay until a run succeeds.
  if (!upserted) {
    say(out, "Registros antigos mantidos: o UPSERT não foi concluído.");
    return false;
  }
  try {
    const PhaseTimer timer("delete");
    store::exec(conn.get(), "DELETE FROM ixc_clientes WHERE timestamp < NOW() - INTERVAL '1 day';");
    say(out, "Registros antigos (mais de 1 dia) apagados.");
  } catch (const std::exception& e) {
    say_error(out, "Erro ao apagar registros antigos: ", e);
    return false;
  }
  return true;
}

bool sendPostgresClientes(const std::vector<Record>& descobertaClientes, const RunSettings& settings,
                          std::ostream& out) {
  return sendPostgresClientes(RecordSpan(descobertaClientes), settings, out);
}

}  // namespace cobrix
