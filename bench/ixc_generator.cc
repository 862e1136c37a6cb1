#include "bench/ixc_generator.h"

#include <string>

#include "bench/pt_names.h"
#include "bench/rng.h"
#include "bench/tsv_writer.h"

namespace cobrix::bench {

namespace {

// Share of customers with at least one overdue receivable, per mille (about
// 193,000 of 1,000,000 in the installations this data imitates).
constexpr std::uint32_t kOverduePerMille = 193;
constexpr std::int64_t kPlanCents[] = {4990, 6990, 7990, 9990, 12990, 14990, 19990, 29990};

struct Tables {
  TsvWriter cliente;
  TsvWriter fn_areceber;
};

void write_customer(std::int64_t id, const GeneratorOptions& options, Tables& out, std::int64_t& next_receivable,
                    GeneratorSummary& summary, std::string& scratch) {
  Rng rng(options.seed, static_cast<std::uint64_t>(id));
  TsvWriter& c = out.cliente;

  const bool company = rng.chance(150);
  c.integer(id);
  scratch.clear();
  company ? append_company_name(rng, scratch) : append_person_name(rng, scratch);
  c.text(scratch);
  scratch.clear();
  company ? append_cnpj(rng, scratch) : append_cpf(rng, scratch);
  c.text(scratch);

  // Contact: mostly a mobile number; missing, empty or a lone blank as in
  // hand-typed data.
  const std::uint32_t contact = rng.below(1000);
  if (contact < 90) {
    c.null();
  } else if (contact < 120) {
    c.text("");
  } else if (contact < 123) {
    c.text(" ");
  } else {
    scratch.clear();
    append_mobile(rng, scratch);
    c.text(scratch);
  }

  c.text(rng.chance(110) ? "N" : "S");

  const std::uint32_t signup = rng.below(1000);
  if (signup < 20) {
    c.null();
  } else if (signup < 21) {
    c.zero_date();
  } else {
    c.date(options.today - 30 - rng.below(3650));
  }

  const std::uint32_t bairro = rng.below(1000);
  if (bairro < 80) {
    c.null();
  } else if (bairro < 90) {
    c.text("");
  } else {
    c.text(district(rng));
  }

  // Cities: a few large ones and a long tail.
  if (rng.chance(30)) {
    c.null();
  } else {
    const double u = static_cast<double>(rng.below(1 << 20)) / (1 << 20);
    c.integer(1 + static_cast<std::int64_t>(u * u * static_cast<double>(city_count())));
  }

  if (rng.chance(50)) {
    c.null();
  } else {
    c.integer(company && rng.chance(800) ? 2 : 1 + rng.below(static_cast<std::uint32_t>(customer_type_count())));
  }
  c.end_row();

  // About twelve monthly receivables spread over a year around today.
  const int count = 10 + static_cast<int>(rng.below(5));
  const std::int64_t first_due = options.today - 30 * (count / 2) - 15 + rng.below(30);
  const std::int64_t contract = rng.chance(50) ? options.customers + id : id;
  const std::int64_t branch = 1 + rng.below(static_cast<std::uint32_t>(branch_count()));
  const std::int64_t price = rng.pick(kPlanCents);
  const bool overdue = rng.chance(kOverduePerMille);
  int past = 0;
  while (past < count && first_due + 30 * past < options.today) ++past;
  const int late = overdue ? 1 + static_cast<int>(rng.below(3)) : 0;

  TsvWriter& r = out.fn_areceber;
  for (int i = 0; i < count; ++i) {
    const std::int64_t due = first_due + 30 * i;
    const bool has_valor = !rng.chance(10);
    char status = 'A';
    std::int64_t open = price;
    bool has_contract = true;
    if (i < past) {
      if (i >= past - late) {
        if (rng.chance(50)) open = price / 2;  // partly paid
      } else {
        const std::uint32_t kind = rng.below(1000);
        if (kind < 30) {
          status = 'C';  // cancelled, amount left as it was
        } else if (kind < 40) {
          open = 0;  // settled but never closed
        } else if (kind < 50) {
          has_contract = false;  // a loose charge outside any contract
        } else {
          status = 'R';
          open = 0;
          has_contract = !rng.chance(10);
        }
      }
    } else if (rng.chance(20)) {
      status = 'C';
    }

    r.integer(next_receivable++);
    r.integer(id);
    has_contract ? r.integer(contract) : r.null();
    rng.chance(20) ? r.null() : r.integer(branch);
    r.text(std::string_view(&status, 1));
    r.date(due);
    has_valor ? r.cents(price) : r.null();
    r.cents(open);
    r.end_row();
  }
  summary.receivables += count;
  if (overdue) ++summary.overdue_customers;
}

void write_lookup_tables(const std::filesystem::path& dir, GeneratorSummary& summary) {
  TsvWriter filial(dir / "filial.tsv");
  for (std::size_t i = 0; i < branch_count(); ++i) {
    filial.integer(static_cast<std::int64_t>(i + 1));
    filial.text(branch_name(i));
    filial.end_row();
  }
  filial.close();
  TsvWriter cidade(dir / "cidade.tsv");
  for (std::size_t i = 0; i < city_count(); ++i) {
    cidade.integer(static_cast<std::int64_t>(i + 1));
    cidade.text(city_name(i));
    cidade.end_row();
  }
  cidade.close();
  TsvWriter tipo(dir / "tipo_cliente.tsv");
  for (std::size_t i = 0; i < customer_type_count(); ++i) {
    tipo.integer(static_cast<std::int64_t>(i + 1));
    tipo.text(customer_type(i));
    tipo.end_row();
  }
  tipo.close();
  summary.branches = static_cast<std::int64_t>(branch_count());
  summary.cities = static_cast<std::int64_t>(city_count());
  summary.customer_types = static_cast<std::int64_t>(customer_type_count());
}

}  // namespace

GeneratorSummary generate_ixc(const GeneratorOptions& options, const std::filesystem::path& dir) {
  GeneratorSummary summary;
  write_lookup_tables(dir, summary);
  Tables out{TsvWriter(dir / "cliente.tsv"), TsvWriter(dir / "fn_areceber.tsv")};
  std::int64_t next_receivable = 1;
  std::string scratch;
  for (std::int64_t id = 1; id <= options.customers; ++id)
    write_customer(id, options, out, next_receivable, summary, scratch);
  out.cliente.close();
  out.fn_areceber.close();
  summary.customers = options.customers;
  return summary;
}

}  // namespace cobrix::bench
