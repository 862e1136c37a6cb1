// Times the store's two ways of sending the upsert pages on synthetic
// customer records, with and without the retention index on the table: into
// an empty ixc_clientes and again over the full rows.
//   usage: cobrix_store_bench HOST PORT USER PASSWORD DBNAME ROWS [REPEATS [TSV]]
// The table ixc_clientes of DBNAME is dropped and recreated for each case.
// Prints, per case, the minimum, median and maximum of REPEATS (default 3)
// in seconds; with TSV, also writes there every repetition's time as
// "case<TAB>empty|full<TAB>repetition<TAB>seconds" lines.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "model/customer_list.h"
#include "store/pg_connection.h"
#include "store/retention.h"
#include "store/schema.h"
#include "store/upsert.h"

namespace {

using namespace cobrix;

// Records shaped like the discovery's, held as the discovery holds them:
// texts of realistic length, some nulls.
CustomerList synthetic_records(std::size_t count) {
  CustomerListBuilder builder("bench-ixc");
  for (std::size_t i = 0; i < count; ++i) {
    const auto n = static_cast<std::int64_t>(i);
    const std::string id = std::to_string(100000 + n);
    const std::string name = "Cliente de Teste Número " + id + " da Silva";
    const std::string cpf = "123.456." + id.substr(0, 3) + "-" + id.substr(3, 2);
    const std::string contact = "(11) 9" + id + "-0000";
    const std::string branch = "Filial " + std::to_string(i % 4);
    const std::string district = "Bairro " + std::to_string(i % 150);
    const std::array<ValueView, kOwnCustomerValues> values = {
        n + 1,
        n + 50001,
        std::string_view(name),
        std::string_view(cpf),
        i % 5 == 0 ? ValueView(Null{}) : ValueView(std::string_view(contact)),
        std::int64_t(i % 7 == 0 ? 0 : 1),
        DateTime{2015 + int(i % 9), 1 + int(i % 12), 1 + int(i % 28)},
        49.9 * double(1 + i % 13) + 0.01 * double(i % 100),
        std::int64_t(1 + i % 6),
        DateTime{2026, 1 + int(i % 11), 1 + int(i % 28)},
        std::string_view(branch),
        std::string_view(i % 3 ? "São Paulo" : "Campinas"),
        std::string_view(district),
        std::string_view(i % 2 ? "Pessoa Física" : "Pessoa Jurídica"),
    };
    builder.add(values);
  }
  return std::move(builder).finish();
}

double seconds_of(PGconn* conn, const CustomerList& records, store::PageMethod method) {
  const auto start = std::chrono::steady_clock::now();
  store::upsert_pages(conn, records, store::get_timestamp(), method);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string min_median_max(std::vector<double> seconds) {
  std::sort(seconds.begin(), seconds.end());
  char text[64];
  std::snprintf(text, sizeof text, "%.3f %.3f %.3f", seconds.front(), seconds[seconds.size() / 2], seconds.back());
  return text;
}

struct Case {
  const char* name;
  store::PageMethod method;
  bool index;
  std::vector<double> empty;
  std::vector<double> full;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) {
    std::cerr << "usage: cobrix_store_bench HOST PORT USER PASSWORD DBNAME ROWS [REPEATS [TSV]]\n";
    return 2;
  }
  RunSettings settings;
  settings.postgres_ip = argv[1];
  settings.postgres_port = argv[2];
  settings.pg_user = argv[3];
  settings.pg_password = argv[4];
  settings.pg_db = argv[5];
  const std::size_t rows = std::stoul(argv[6]);
  const int repeats = argc > 7 ? std::stoi(argv[7]) : 3;
  const CustomerList records = synthetic_records(rows);

  std::vector<Case> cases = {{"prepared", store::PageMethod::prepared, false, {}, {}},
                             {"prepared+index", store::PageMethod::prepared, true, {}, {}},
                             {"bound", store::PageMethod::bound, false, {}, {}},
                             {"bound+index", store::PageMethod::bound, true, {}, {}}};
  try {
    const store::PgConn conn = store::connect(settings);
    std::ostream discard(nullptr);
    for (int round = 0; round < repeats; ++round) {
      for (Case& c : cases) {
        store::exec(conn.get(), "DROP TABLE IF EXISTS ixc_clientes");
        store::ensure_table(conn.get(), discard);
        if (c.index) store::create_small_retention_index(conn.get(), store::table_state(conn.get()), discard);
        try {  // a cleaner start for the timing; needs a privileged user
          store::exec(conn.get(), "CHECKPOINT");
        } catch (const store::PgError&) {
        }
        c.empty.push_back(seconds_of(conn.get(), records, c.method));
        c.full.push_back(seconds_of(conn.get(), records, c.method));
      }
    }
    store::exec(conn.get(), "DROP TABLE IF EXISTS ixc_clientes");
  } catch (const std::exception& e) {
    std::cerr << "cobrix_store_bench: " << e.what() << '\n';
    return 1;
  }
  std::printf("%zu rows, %d repetitions, seconds min median max\n%-16s %-20s %-20s\n", rows, repeats, "case",
              "empty table", "full rows");
  for (const Case& c : cases)
    std::printf("%-16s %-20s %-20s\n", c.name, min_median_max(c.empty).c_str(), min_median_max(c.full).c_str());
  if (argc > 8) {
    std::ofstream tsv(argv[8]);
    for (const Case& c : cases)
      for (int round = 0; round < repeats; ++round)
        tsv << c.name << "\tempty\t" << round + 1 << '\t' << c.empty[round] << '\n'
            << c.name << "\tfull\t" << round + 1 << '\t' << c.full[round] << '\n';
    if (!tsv) {
      std::cerr << "cobrix_store_bench: could not write " << argv[8] << '\n';
      return 1;
    }
  }
  return 0;
}
