// cobrix_gen_ixc: writes an IXC-like billing database at a chosen scale as
// tab-separated files for LOAD DATA, and prints what it wrote as KEY=VALUE
// lines.
//   usage: cobrix_gen_ixc --customers N --out DIR [--seed S] [--today YYYY-MM-DD]

#include <charconv>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string_view>

#include "bench/civil_date.h"
#include "bench/ixc_generator.h"

namespace {

using cobrix::bench::CivilDate;

template <class T>
bool parse_number(std::string_view text, T& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parse_date(std::string_view text, std::int64_t& days) {
  CivilDate d{};
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !parse_number(text.substr(0, 4), d.year) ||
      !parse_number(text.substr(5, 2), d.month) || !parse_number(text.substr(8, 2), d.day) || d.month < 1 ||
      d.month > 12 || d.day < 1 || d.day > 31)
    return false;
  days = cobrix::bench::days_from_civil(d);
  return true;
}

std::int64_t local_today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return cobrix::bench::days_from_civil({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday});
}

int usage() {
  std::cerr << "uso: cobrix_gen_ixc --customers N --out DIR [--seed S] [--today AAAA-MM-DD]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  cobrix::bench::GeneratorOptions options;
  options.today = local_today();
  std::filesystem::path out;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) return usage();
    const std::string_view value = argv[++i];
    bool ok = true;
    if (arg == "--customers") {
      ok = parse_number(value, options.customers) && options.customers >= 0;
    } else if (arg == "--seed") {
      ok = parse_number(value, options.seed);
    } else if (arg == "--today") {
      ok = parse_date(value, options.today);
    } else if (arg == "--out") {
      out = value;
    } else {
      ok = false;
    }
    if (!ok) return usage();
  }
  if (out.empty()) return usage();
  try {
    std::filesystem::create_directories(out);
    const auto s = cobrix::bench::generate_ixc(options, out);
    const auto today = cobrix::bench::iso_date(options.today);
    std::cout << "TODAY=" << std::string_view(today.data(), today.size()) << "\nCUSTOMERS=" << s.customers
              << "\nRECEIVABLES=" << s.receivables << "\nOVERDUE_CUSTOMERS=" << s.overdue_customers
              << "\nBRANCHES=" << s.branches << "\nCITIES=" << s.cities << "\nCUSTOMER_TYPES=" << s.customer_types
              << '\n';
  } catch (const std::exception& e) {
    std::cerr << "cobrix_gen_ixc: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
