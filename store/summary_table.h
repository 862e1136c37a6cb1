#pragma once
// The table ixc_clientes_resumo: each installation's latest run summarised
// (store/summary.h), for Zabbix to read at little cost. One row per part
// of the summary, told apart by tipo and posicao:
//   'total'    posicao 0: the six totals
//   'filial'   posicao 1, 2, ...: one branch each, nome its name (NULL: the
//              customers without a branch)
//   'cidade'   likewise per city
//   'devedor'  posicao 1 to 100: the customers with the largest amount
// chave is each row's key for the readers: md5 of tipo, ':' and nome for
// a named branch or city, else tipo.
// A run replaces all its installation's rows at once, and they go with the
// same one-day retention as the rows of ixc_clientes.

#include <string>
#include <string_view>

#include "store/pipeline.h"
#include "store/summary.h"

namespace cobrix::store {

inline constexpr const char* kSummaryTable = "ixc_clientes_resumo";

// The advisory lock class (two-key form) under which a run replaces its
// installation's summary ("cobr" in ASCII); the second key is the
// identification's hashtext.
inline constexpr int kSummaryLockClass = 0x636f6272;

// CREATE TABLE IF NOT EXISTS ixc_clientes_resumo with its primary key
// (ixcidentification, tipo, posicao), which the readers' queries and the
// replacement use, and a unique key led by timestamp, which gives the
// retention delete its index within the same statement (a separate CREATE
// INDEX IF NOT EXISTS would lock the table against writers on every run).
std::string create_summary_table_statement();

// Queues, as one segment of `pipeline` (no BEGIN: its implicit transaction
// commits at the segment's Sync, which the caller queues, or rolls back
// entirely when a command fails), the replacement of installation
// `identification`'s summary by `summary`, with the run's wait limits and
// an asynchronous commit (a summary that a crash loses, the next run writes
// again): under the installation's lock, the delete of its rows, then the
// summary's rows in one statement. The lock is, in the isolated layout
// (`isolated`), the installation's own row of ixc_clientes_acesso
// (kOwnRowLock), else a transaction-level advisory lock; in the latter,
// every installation's summary rows older than a day go too (the rows
// other runs are replacing at that moment are skipped, never waited for),
// which in the isolated layout the tables' owner deletes instead. The
// texts of `summary` must hold no NUL byte (the upsert of the same records
// has already refused one).
void queue_summary(Pipeline& pipeline, const RunSummary& summary, std::string_view identification, bool isolated);

}  // namespace cobrix::store
