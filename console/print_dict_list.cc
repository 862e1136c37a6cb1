#include "console/print_dict_list.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/value_text.h"

namespace cobrix {

namespace {

struct TextForm {
  std::string operator()(Null) const { return {}; }
  std::string operator()(std::int64_t v) const { return std::to_string(v); }
  std::string operator()(double v) const { return format_double(v); }
  std::string operator()(std::string_view v) const { return std::string(v); }
  std::string operator()(const DateTime& v) const { return format_datetime(v); }
};

void pad_to(std::string& text, std::size_t width) {
  const std::size_t length = code_point_count(text);
  if (length < width) text.append(width - length, ' ');
}

}  // namespace

std::size_t code_point_count(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void print_dict_list(const RecordList& dict_list, std::ostream& out) {
  std::vector<FieldView> record;
  std::vector<std::optional<std::string>> texts;  // nullopt: the field has no text form
  for (std::size_t r = 0; r < dict_list.size(); ++r) {
    dict_list.read(r, record);
    if (record.empty()) throw std::invalid_argument("print_dict_list: registro sem campos");

    texts.clear();
    std::size_t key_width = 0;
    std::size_t value_width = 0;
    for (const FieldView& field : record) {
      key_width = std::max(key_width, code_point_count(field.key));
      if (std::holds_alternative<Null>(field.value)) {
        texts.emplace_back();
        value_width = std::max<std::size_t>(value_width, 4);
      } else {
        texts.push_back(std::visit(TextForm{}, field.value));
        value_width = std::max(value_width, code_point_count(*texts.back()));
      }
    }

    for (std::size_t i = 0; i < record.size(); ++i) {
      std::string key(record[i].key);
      pad_to(key, key_width);
      if (texts[i]) {
        // The whole line goes out in one write, so a failed write leaves no
        // half line before the fallback.
        std::string line = key + ' ' + *texts[i];
        pad_to(line, key_width + 1 + value_width);
        line += '\n';
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
        if (out) continue;
        out.clear();
      }
      out << key << '\n';
      if (!out) throw std::runtime_error("print_dict_list: falha ao escrever a linha de '" + std::string(record[i].key) + "'");
    }
    out << '\n';
  }
}

}  // namespace cobrix
