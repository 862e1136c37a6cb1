#include "store/store.h"

#include "model/phase_log.h"
#include "store/messages.h"
#include "store/pg_connection.h"
#include "store/schema.h"
#include "store/upsert.h"

namespace cobrix {

namespace {

// The way pages travel, chosen by measurement (see store_bench.cc).
constexpr store::PageMethod kPageMethod = store::PageMethod::prepared;

using store::say;
using store::say_error;

}  // namespace

bool sendPostgresClientes(const std::vector<Record>& descobertaClientes, const RunSettings& settings,
                          std::ostream& out) {
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
    store::upsert_pages(conn.get(), descobertaClientes, timestamp_now, kPageMethod);
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

}  // namespace cobrix
