#include "store/store.h"

#include <optional>
#include <string>
#include <vector>

#include "model/phase_log.h"
#include "store/clock_check.h"
#include "store/isolation.h"
#include "store/messages.h"
#include "store/pg_connection.h"
#include "store/pipeline.h"
#include "store/retention.h"
#include "store/schema.h"
#include "store/summary.h"
#include "store/summary_table.h"
#include "store/table_state.h"
#include "store/upsert.h"

namespace cobrix {

namespace {

using store::say;
using store::say_error;

// The way pages travel. A statement parsed once and executed for every page
// is the fastest (the server parses the 16,000-parameter text once). Behind
// a pooler its deallocation needs PL/pgSQL (see PageMethod::pooled); without
// it every page is parsed with its values. Chosen by measurement (see bench/).
store::PageMethod page_method(const store::TableState& table) {
  if (table.owns_session) return store::PageMethod::prepared;
  return table.plpgsql ? store::PageMethod::pooled : store::PageMethod::bound;
}

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

  // One catalog query says whether the tables are complete; the creation
  // statements and the column query run only when something is missing.
  store::TableState table = store::table_state(conn.get());
  if (!table.complete()) {
    store::ensure_table(conn.get(), out);
    table = store::table_state(conn.get());
  }
  // Rows stamped by a clock far from the server's would be deleted at once
  // by retention, or outlive it; a role that does not write this
  // installation would have every row refused. Either way nothing is sent.
  if (table.server_clock) store::check_clock(store::get_timestamp(), *table.server_clock);
  if (table.isolated) store::check_writer(conn.get(), settings.zabbix_host);
  store::create_small_retention_index(conn.get(), table, out);

  const DateTime timestamp_now = store::get_timestamp();
  say(out, "Enviando " + std::to_string(descobertaClientes.size()) + " registros (Clientes) com UPSERT...");

  // The summary is computed while the server writes the pages (it needs
  // only the records), or here when there are none to send.
  std::optional<store::RunSummary> summary;
  const auto summarize = [&] {
    const PhaseTimer timer("summary");
    summary = store::summarize(descobertaClientes, timestamp_now);
  };
  bool upserted = true;
  try {
    const PhaseTimer timer("upsert");
    if (descobertaClientes.size() > 0)
      store::upsert_pages(conn.get(), descobertaClientes, timestamp_now, page_method(table), summarize);
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
  // The run's summary and the retention delete travel in one round trip,
  // each a segment of its own, so that neither's failure skips the other.
  // A failed summary leaves the installation's previous one: the rows are
  // stored all the same.
  if (!summary) summarize();
  std::vector<std::optional<store::PgError>> failures;
  try {
    const PhaseTimer timer("delete");
    store::Pipeline pipeline(conn.get());
    store::queue_summary(pipeline, *summary, settings.zabbix_host, table.isolated);
    pipeline.sync();
    store::queue_stale_delete(pipeline, conn.get(), table.isolated);
    failures = pipeline.finish_segments();
  } catch (const std::exception& e) {
    say_error(out, "Erro ao apagar registros antigos: ", e);
    return false;
  }
  if (failures.front())
    say_error(out, "Erro ao gravar o resumo em " + std::string(store::kSummaryTable) + ": ", *failures.front());
  if (failures.back()) {
    try {
      store::request_rollback(conn.get());  // the refused delete's transaction
    } catch (const std::exception&) {
    }
    say_error(out, "Erro ao apagar registros antigos: ", *failures.back());
    return false;
  }
  say(out, "Registros antigos (mais de 1 dia) apagados.");
  // Last, so that a build never delays this run's own rows.
  store::start_retention_index_build(conn.get(), table, out);
  return true;
}

bool sendPostgresClientes(const std::vector<Record>& descobertaClientes, const RunSettings& settings,
                          std::ostream& out) {
  return sendPostgresClientes(RecordSpan(descobertaClientes), settings, out);
}

}  // namespace cobrix
