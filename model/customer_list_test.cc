// The compact customer list and the generic record reading: every value
// kind reads back as it went in, texts stay valid and NUL-terminated, and the
// shared texts are held once.

#include "model/customer_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "model/record_list.h"

namespace cobrix {
namespace {

using Values = std::array<ValueView, kOwnCustomerValues>;

// A record with one value of every kind. Its texts are views of `name`,
// `city` and literals: the caller keeps them alive until the record is added.
Values sample(std::int64_t n, std::string_view name, std::string_view city) {
  return {n,
          n + 100000,
          name,
          Null{},
          std::string_view(""),
          std::int64_t{1},
          DateTime{2021, 3, 4, 0, 0, 0, 0},
          10.5 + double(n),
          std::int64_t{2},
          DateTime{-44, 12, 31, 23, 59, 58, 999999},
          std::string_view("Matriz"),
          city,
          Null{},
          std::string_view("Pessoa Física")};
}

void expect_text_terminated(const ValueView& value) {
  const auto* text = std::get_if<std::string_view>(&value);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->data()[text->size()], '\0');
}

TEST(CustomerList, EveryKindReadsBackWithTheFifteenKeysInOrder) {
  CustomerListBuilder builder("zbx-1");
  const std::vector<std::int64_t> integers = {0, -1, 1, 127, 128, -129, std::numeric_limits<std::int64_t>::min(),
                                              std::numeric_limits<std::int64_t>::max()};
  const std::vector<double> doubles = {0.0, -0.0, 0.1, 5e-324, -1.7976931348623157e308,
                                       std::numeric_limits<double>::infinity()};
  const std::string with_nul("a\0b", 3);
  for (std::size_t i = 0; i < integers.size(); ++i) {
    const std::string name = "Cliente " + std::to_string(i);
    Values v = sample(std::int64_t(i), name, "São Paulo");
    v[0] = integers[i];
    v[7] = doubles[i % doubles.size()];
    v[3] = std::string_view(with_nul);
    builder.add(v);
  }
  const CustomerList list = std::move(builder).finish();
  ASSERT_EQ(list.size(), integers.size());
  std::vector<FieldView> fields;
  for (std::size_t i = 0; i < list.size(); ++i) {
    list.read(i, fields);
    ASSERT_EQ(fields.size(), 15u);
    for (std::size_t f = 0; f < 15; ++f) EXPECT_EQ(fields[f].key, kCustomerKeys[f]);
    EXPECT_EQ(fields[0].value, ValueView(integers[i]));
    EXPECT_EQ(fields[1].value, ValueView(std::int64_t(i) + 100000));
    EXPECT_EQ(fields[2].value, ValueView("Cliente " + std::to_string(i)));
    EXPECT_EQ(fields[3].value, ValueView(std::string_view(with_nul)));
    EXPECT_EQ(fields[4].value, ValueView(std::string_view("")));
    EXPECT_EQ(fields[6].value, ValueView(DateTime{2021, 3, 4, 0, 0, 0, 0}));
    const double d = doubles[i % doubles.size()];
    EXPECT_EQ(std::memcmp(&std::get<double>(fields[7].value), &d, sizeof d), 0) << d;  // -0.0 stays -0.0
    EXPECT_EQ(fields[9].value, ValueView(DateTime{-44, 12, 31, 23, 59, 58, 999999}));
    EXPECT_EQ(fields[12].value, ValueView(Null{}));
    EXPECT_EQ(fields[13].value, ValueView(std::string_view("Pessoa Física")));
    EXPECT_EQ(fields[14].value, ValueView(std::string_view("zbx-1")));
    for (const std::size_t f : {2, 3, 4, 10, 11, 13, 14}) expect_text_terminated(fields[f].value);
    for (std::size_t f = 0; f < 15; ++f) EXPECT_EQ(list.value(i, f), fields[f].value) << f;
  }
}

TEST(CustomerList, ViewsOutliveTheRowsTheyCameFromAndTheListsMoves) {
  CustomerListBuilder builder("");
  {
    std::string name = "Nome que vai embora";
    builder.add(sample(1, name, "Recife"));
    name.assign(name.size(), 'x');  // the list holds its own copy
  }
  CustomerList first = std::move(builder).finish();
  const ValueView name = first.value(0, 2);
  const ValueView identification = first.value(0, 14);
  CustomerList moved = std::move(first);
  CustomerList assigned;
  assigned = std::move(moved);
  EXPECT_EQ(name, ValueView(std::string_view("Nome que vai embora")));
  EXPECT_EQ(identification, ValueView(std::string_view("")));
  expect_text_terminated(identification);
  EXPECT_EQ(assigned.value(0, 2), name);
  EXPECT_EQ(std::get<std::string_view>(assigned.value(0, 2)).data(), std::get<std::string_view>(name).data());
  EXPECT_TRUE(first.empty());  // a moved-from list is empty
  EXPECT_TRUE(moved.empty());
  EXPECT_TRUE(CustomerList().empty());
}

TEST(CustomerList, ManyRecordsAcrossBlocksAndARecordLargerThanABlock) {
  CustomerListBuilder builder("z");
  const std::string huge(200 * 1024, 'h');
  constexpr std::int64_t kCount = 20000;
  for (std::int64_t n = 0; n < kCount; ++n) {
    const std::string name = n == 777 ? huge : "Cliente com um nome bem comprido número " + std::to_string(n);
    const std::string city = "Cidade " + std::to_string(n % 3000);
    builder.add(sample(n, name, city));
  }
  const CustomerList list = std::move(builder).finish();
  ASSERT_EQ(list.size(), std::size_t(kCount));
  for (std::int64_t n = 0; n < kCount; ++n) {
    const std::size_t i = std::size_t(n);
    ASSERT_EQ(list.value(i, 0), ValueView(n));
    ASSERT_EQ(std::get<std::string_view>(list.value(i, 2)),
              n == 777 ? huge : "Cliente com um nome bem comprido número " + std::to_string(n));
    ASSERT_EQ(std::get<std::string_view>(list.value(i, 11)), "Cidade " + std::to_string(n % 3000));
  }
  // Compact: the huge name, then well under the bytes of a generic record a customer.
  EXPECT_LT(list.storage_bytes(), huge.size() + std::size_t(kCount) * 140);
}

TEST(CustomerList, EachSharedTextIsHeldOnceUpToTheBound) {
  CustomerListBuilder builder("z");
  for (std::int64_t n = 0; n < 100; ++n) {
    const std::string name = "Cliente " + std::to_string(n);
    builder.add(sample(n, name, "Natal"));
  }
  // More distinct cities than the table holds: the later ones are packed in
  // their records and read back all the same.
  constexpr std::int64_t kDistinct = 70000;
  for (std::int64_t n = 0; n < kDistinct; ++n) {
    const std::string city = "Cidade " + std::to_string(n);
    builder.add(sample(n, "x", city));
  }
  const CustomerList list = std::move(builder).finish();
  for (std::int64_t n = 0; n < kDistinct; ++n)
    ASSERT_EQ(std::get<std::string_view>(list.value(std::size_t(100 + n), 11)), "Cidade " + std::to_string(n));

  const char* city = std::get<std::string_view>(list.value(0, 11)).data();
  const char* branch = std::get<std::string_view>(list.value(0, 10)).data();
  for (std::size_t i = 1; i < 100; ++i) {
    EXPECT_EQ(std::get<std::string_view>(list.value(i, 11)).data(), city);
    EXPECT_EQ(std::get<std::string_view>(list.value(i, 10)).data(), branch);
    EXPECT_NE(std::get<std::string_view>(list.value(i, 2)).data(), std::get<std::string_view>(list.value(0, 2)).data());
  }
}

TEST(CustomerList, SharedFieldsKeepTheirOtherKinds) {
  // The shared fields hold what the IXC columns hold: a number or a null as well as a text.
  CustomerListBuilder builder("z");
  Values v = sample(1, "A", "Natal");
  v[10] = std::int64_t{42};
  v[11] = Null{};
  v[13] = 2.5;
  builder.add(v);
  builder.add(sample(2, "B", "Natal"));
  const CustomerList list = std::move(builder).finish();
  EXPECT_EQ(list.value(0, 10), ValueView(std::int64_t{42}));
  EXPECT_EQ(list.value(0, 11), ValueView(Null{}));
  EXPECT_EQ(list.value(0, 13), ValueView(2.5));
  EXPECT_EQ(list.value(1, 11), ValueView(std::string_view("Natal")));
}

TEST(RecordSpan, ReadsGenericRecordsInPlace) {
  const std::vector<Record> records = {
      {{"a", std::int64_t{1}}, {"b", std::string("texto")}},
      {},
      {{"c", DateTime{2024, 1, 2}}, {"d", Null{}}, {"e", 0.5}},
  };
  const RecordSpan list(records);
  ASSERT_EQ(list.size(), 3u);
  std::vector<FieldView> fields = {{"stale", Null{}}};
  list.read(0, fields);
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0].key, "a");
  EXPECT_EQ(fields[1].value, ValueView(std::string_view("texto")));
  EXPECT_EQ(std::get<std::string_view>(fields[1].value).data(), std::get<std::string>(records[0][1].value).data());
  expect_text_terminated(fields[1].value);
  list.read(1, fields);
  EXPECT_TRUE(fields.empty());
  list.read(2, fields);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0].value, ValueView(DateTime{2024, 1, 2}));
  EXPECT_EQ(fields[1].value, ValueView(Null{}));
  EXPECT_EQ(fields[2].value, ValueView(0.5));
}

}  // namespace
}  // namespace cobrix
