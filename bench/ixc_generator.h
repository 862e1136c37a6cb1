#pragma once
// Generates an IXC-like billing database as tab-separated files, one per
// table (cliente, fn_areceber, filial, cidade, tipo_cliente), ready for
// LOAD DATA. The output depends only on the options: the same options give
// the same bytes.

#include <cstdint>
#include <filesystem>

namespace cobrix::bench {

struct GeneratorOptions {
  std::int64_t customers = 10000;
  std::uint64_t seed = 1;
  // The day the data is generated around (days since 1970-01-01): due dates
  // fall from about half a year before it to half a year after it.
  std::int64_t today = 0;
};

struct GeneratorSummary {
  std::int64_t customers = 0;
  std::int64_t receivables = 0;
  // Customers that the overdue-customers query returns for `today`: at
  // least one receivable with status 'A', due before today, an open amount
  // above zero and a contract.
  std::int64_t overdue_customers = 0;
  std::int64_t branches = 0;
  std::int64_t cities = 0;
  std::int64_t customer_types = 0;
};

// Writes cliente.tsv, fn_areceber.tsv, filial.tsv, cidade.tsv and
// tipo_cliente.tsv into `dir` (which must exist). Throws std::runtime_error
// when a file cannot be written.
GeneratorSummary generate_ixc(const GeneratorOptions& options, const std::filesystem::path& dir);

}  // namespace cobrix::bench
