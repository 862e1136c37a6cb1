#include "bench/ixc_generator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench/civil_date.h"
#include "bench/tsv_writer.h"
#include "tests/support/process_runner.h"

namespace cobrix::bench {
namespace {

namespace fs = std::filesystem;
using cobrix::testing::read_file;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "cobrix-gen-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::vector<std::vector<std::string>> read_tsv(const fs::path& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    for (std::string f; std::getline(ss, f, '\t');) fields.push_back(f);
    if (!line.empty() && line.back() == '\t') fields.emplace_back();
    rows.push_back(std::move(fields));
  }
  return rows;
}

const std::int64_t kToday = days_from_civil({2026, 3, 15});

TEST(CivilDate, RoundTripsAndKnownDays) {
  EXPECT_EQ(days_from_civil({1970, 1, 1}), 0);
  EXPECT_EQ(days_from_civil({2000, 3, 1}) - days_from_civil({2000, 2, 28}), 2);  // 2000 is a leap year
  EXPECT_EQ(days_from_civil({1900, 3, 1}) - days_from_civil({1900, 2, 28}), 1);  // 1900 is not
  for (std::int64_t d = -800000; d <= 800000; d += 997) {
    const CivilDate c = civil_from_days(d);
    ASSERT_EQ(days_from_civil(c), d);
  }
  const auto text = iso_date(days_from_civil({2024, 2, 29}));
  EXPECT_EQ(std::string(text.data(), text.size()), "2024-02-29");
}

TEST(TsvWriter, WritesLoadDataFormat) {
  TempDir dir;
  TsvWriter w(dir.path() / "t.tsv");
  w.text("a\tb\\c\nd");
  w.null();
  w.cents(123450);
  w.cents(5);
  w.integer(-42);
  w.date(0);
  w.zero_date();
  w.text("");
  w.end_row();
  w.close();
  EXPECT_EQ(read_file((dir.path() / "t.tsv").string()),
            "a\\tb\\\\c\\nd\t\\N\t1234.50\t0.05\t-42\t1970-01-01\t0000-00-00\t\n");
}

TEST(Generator, SameOptionsGiveSameBytesAndSeedChangesThem) {
  TempDir a, b, c;
  const GeneratorOptions options{500, 7, kToday};
  generate_ixc(options, a.path());
  generate_ixc(options, b.path());
  generate_ixc({500, 8, kToday}, c.path());
  for (const char* table : {"cliente.tsv", "fn_areceber.tsv", "filial.tsv", "cidade.tsv", "tipo_cliente.tsv"})
    EXPECT_EQ(read_file((a.path() / table).string()), read_file((b.path() / table).string())) << table;
  EXPECT_NE(read_file((a.path() / "cliente.tsv").string()), read_file((c.path() / "cliente.tsv").string()));
  // A customer's data does not depend on how many customers come after it.
  TempDir small;
  generate_ixc({100, 7, kToday}, small.path());
  const std::string all = read_file((a.path() / "cliente.tsv").string());
  const std::string first = read_file((small.path() / "cliente.tsv").string());
  EXPECT_EQ(all.substr(0, first.size()), first);
}

// Recounts the overdue customers from the files with the query's own rules,
// and checks the shape of every row against the schema.
TEST(Generator, RowsFitTheSchemaAndTheSummaryMatchesTheQueryRules) {
  TempDir dir;
  const GeneratorSummary s = generate_ixc({4000, 1, kToday}, dir.path());
  const auto clientes = read_tsv(dir.path() / "cliente.tsv");
  const auto receber = read_tsv(dir.path() / "fn_areceber.tsv");
  ASSERT_EQ(static_cast<std::int64_t>(clientes.size()), s.customers);
  ASSERT_EQ(static_cast<std::int64_t>(receber.size()), s.receivables);
  EXPECT_NEAR(static_cast<double>(s.receivables) / static_cast<double>(s.customers), 12.0, 0.3);
  EXPECT_EQ(static_cast<std::int64_t>(read_tsv(dir.path() / "cidade.tsv").size()), s.cities);
  EXPECT_GE(s.cities, 1000);
  EXPECT_GE(s.branches, 24);

  for (std::size_t i = 0; i < clientes.size(); ++i) {
    ASSERT_EQ(clientes[i].size(), 9u) << "cliente " << i + 1;
    ASSERT_EQ(clientes[i][0], std::to_string(i + 1));
    ASSERT_TRUE(clientes[i][4] == "S" || clientes[i][4] == "N");
    ASSERT_LE(clientes[i][3].size(), 30u);
    ASSERT_LE(clientes[i][2].size(), 20u);
  }
  const std::string today = [] {
    const auto t = iso_date(kToday);
    return std::string(t.data(), t.size());
  }();
  const std::string earliest = [] {
    const auto t = iso_date(kToday - 240);
    return std::string(t.data(), t.size());
  }();
  std::set<std::string> overdue, statuses;
  bool due_today = false;
  for (std::size_t i = 0; i < receber.size(); ++i) {
    const auto& r = receber[i];
    ASSERT_EQ(r.size(), 8u) << "título " << i + 1;
    ASSERT_EQ(r[0], std::to_string(i + 1));
    statuses.insert(r[4]);
    ASSERT_GE(r[5], earliest);
    due_today = due_today || r[5] == today;
    if (r[4] == "A" && r[5] < today && std::stod(r[7]) > 0 && r[2] != "\\N") overdue.insert(r[1]);
  }
  EXPECT_EQ(static_cast<std::int64_t>(overdue.size()), s.overdue_customers);
  EXPECT_NEAR(static_cast<double>(s.overdue_customers) / static_cast<double>(s.customers), 0.193, 0.03);
  EXPECT_EQ(statuses, (std::set<std::string>{"A", "C", "R"}));
  EXPECT_TRUE(due_today);  // the boundary day of the query occurs in the data
}

}  // namespace
}  // namespace cobrix::bench
