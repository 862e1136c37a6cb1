#include "console/print_dict_list.h"

#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>

namespace cobrix {
namespace {

void print_to(const std::vector<Record>& list, std::ostream& out) { print_dict_list(RecordSpan(list), out); }

std::string print(const std::vector<Record>& list) {
  std::ostringstream out;
  print_to(list, out);
  return out.str();
}

TEST(PrintDictList, WorkedExampleWithPerRecordWidthsAndNullFallback) {
  const std::vector<Record> list = {
      {{"a", std::int64_t{1}}, {"bcd", std::string("xy")}},
      {{"id", std::int64_t{7}}, {"nome", std::string("Ana")}, {"obs", Null{}}},
  };
  EXPECT_EQ(print(list),
            "a   1 \n"
            "bcd xy\n"
            "\n"
            "id   7   \n"
            "nome Ana \n"
            "obs \n"
            "\n");
}

TEST(PrintDictList, EmptyListAndSingleFields) {
  EXPECT_EQ(print({}), "");
  EXPECT_EQ(print({{{"k", std::string("v")}}}), "k v\n\n");
  EXPECT_EQ(print({{{"chave", Null{}}}}), "chave\n\n");
  // All values with an empty text form: value width 0, padded key and one blank.
  EXPECT_EQ(print({{{"a", std::string()}, {"bb", std::string()}}}), "a  \nbb \n\n");
}

TEST(PrintDictList, ValueKindsAndTheirTextForms) {
  const std::vector<Record> list = {
      {{"k", DateTime{2024, 1, 31, 8, 5, 0}}, {"valor", 150.0}},
      {{"n", std::int64_t{-42}}, {"d", 1e-05}, {"t", DateTime{2024, 1, 31, 8, 5, 0, 250}}},
  };
  EXPECT_EQ(print(list),
            "k     2024-01-31 08:05:00\n"
            "valor 150.0              \n"
            "\n"
            "n -42                       \n"
            "d 1e-05                     \n"
            "t 2024-01-31 08:05:00.000250\n"
            "\n");
}

TEST(PrintDictList, WidthsCountCodePointsNotBytes) {
  // "ção" is three characters in six bytes; the emoji is one character in four.
  const std::vector<Record> list = {{{"ção", std::string("é")}, {"x", std::string("\U0001F600ab")}}};
  EXPECT_EQ(print(list), "ção é  \nx   \U0001F600ab\n\n");
  EXPECT_EQ(code_point_count("a\tb\nç"), 5u);
}

TEST(PrintDictList, RawControlCharactersCountAsOne) {
  EXPECT_EQ(print({{{"a", std::string("x\ty")}, {"b", std::string("z")}}}), "a x\ty\nb z  \n\n");
}

TEST(PrintDictList, RecordWithoutFieldsStopsAfterEarlierBlocks) {
  std::ostringstream out;
  const std::vector<Record> list = {{{"a", std::int64_t{1}}}, {}, {{"b", std::int64_t{2}}}};
  EXPECT_THROW(print_to(list, out), std::invalid_argument);
  EXPECT_EQ(out.str(), "a 1\n\n");
}

// A stream buffer that refuses every write containing `refused`.
class RefusingBuffer : public std::streambuf {
 public:
  explicit RefusingBuffer(std::string refused) : refused_(std::move(refused)) {}
  std::string text;

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (std::string_view(s, static_cast<std::size_t>(n)).find(refused_) != std::string_view::npos) return 0;
    text.append(s, static_cast<std::size_t>(n));
    return n;
  }
  int overflow(int c) override {
    if (c != EOF) text += static_cast<char>(c);
    return c;
  }

 private:
  std::string refused_;
};

TEST(PrintDictList, FailedFieldLineFallsBackToTheKeyAlone) {
  RefusingBuffer buffer("longo");
  std::ostream out(&buffer);
  print_to({{{"id", std::int64_t{7}}, {"nome", std::string("muito longo")}}}, out);
  EXPECT_EQ(buffer.text, "id   7          \nnome\n\n");
}

TEST(PrintDictList, FailedFallbackLineEndsWithAnError) {
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  EXPECT_THROW(print_to({{{"k", Null{}}}}, out), std::runtime_error);
}

}  // namespace
}  // namespace cobrix
