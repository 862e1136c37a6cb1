#include "discovery/debug_report.h"

#include <utf8proc.h>

#include <charconv>
#include <vector>

#include "console/styles.h"
#include "model/value_text.h"

namespace cobrix {

const std::string_view kHeadingAtraso =
    "...======================================== Clientes em Atraso ==============================================...\n";
const std::string_view kHeadingAtivos =
    "...========================================== Clientes Ativos ===============================================...\n";
const std::string_view kHeadingInativos =
    "...========================================= Clientes Inativos ==============================================...\n";

namespace {

constexpr char kHex[] = "0123456789abcdef";

void append_hex(std::string& out, char prefix, std::uint32_t value, int digits) {
  out += '\\';
  out += prefix;
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

// Python's str.isprintable() for one code point: not Cc, Cf, Cs, Co, Cn,
// Zl, Zp, nor a Zs separator other than the ASCII blank.
bool is_printable(std::uint32_t cp) {
  if (cp == ' ') return true;
  switch (utf8proc_category(static_cast<utf8proc_int32_t>(cp))) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
    case UTF8PROC_CATEGORY_ZS:
      return false;
    default:
      return true;
  }
}

void append_integer(std::string& out, std::int64_t value) {
  char buf[24];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, end);
}

void append_number(std::string& out, int value) { append_integer(out, value); }

void append_datetime(std::string& out, const DateTime& v) {
  out += "datetime.datetime(";
  append_number(out, v.year);
  out += ", ";
  append_number(out, v.month);
  out += ", ";
  append_number(out, v.day);
  out += ", ";
  append_number(out, v.hour);
  out += ", ";
  append_number(out, v.minute);
  if (v.second != 0 || v.microsecond != 0) {
    out += ", ";
    append_number(out, v.second);
  }
  if (v.microsecond != 0) {
    out += ", ";
    append_number(out, v.microsecond);
  }
  out += ')';
}

}  // namespace

void append_text_repr(std::string& out, std::string_view text) {
  const bool has_single = text.find('\'') != std::string_view::npos;
  const bool has_double = text.find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  out += quote;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    // A run of characters that stand as they are, appended at once.
    const auto* run = p;
    while (p < end && *p >= 0x20 && *p < 0x7F && *p != '\\' && *p != static_cast<unsigned char>(quote)) ++p;
    if (p != run) out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
    if (p == end) break;
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      if (c == static_cast<unsigned char>(quote) || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
      } else if (c == '\t') {
        out += "\\t";
      } else if (c == '\n') {
        out += "\\n";
      } else if (c == '\r') {
        out += "\\r";
      } else {  // other controls and DEL
        append_hex(out, 'x', c, 2);
      }
      continue;
    }
    // A multi-byte sequence (the text is valid UTF-8).
    const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    std::uint32_t cp = c & (0x7F >> length);
    for (int i = 1; i < length && p + i < end; ++i) cp = (cp << 6) | (p[i] & 0x3F);
    if (is_printable(cp))
      out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(length));
    else if (cp <= 0xFF)
      append_hex(out, 'x', cp, 2);
    else if (cp <= 0xFFFF)
      append_hex(out, 'u', cp, 4);
    else
      append_hex(out, 'U', cp, 8);
    p += length;
  }
  out += quote;
}

void append_value_repr(std::string& out, const ValueView& value) {
  std::visit(
      [&out](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Null>)
          out += "None";
        else if constexpr (std::is_same_v<T, std::int64_t>)
          append_integer(out, v);
        else if constexpr (std::is_same_v<T, double>)
          out += format_double(v);
        else if constexpr (std::is_same_v<T, std::string_view>)
          append_text_repr(out, v);
        else
          append_datetime(out, v);
      },
      value);
}

void append_record_repr(std::string& out, std::span<const FieldView> record) {
  out += '{';
  bool first = true;
  for (const FieldView& field : record) {
    if (!first) out += ", ";
    first = false;
    append_text_repr(out, field.key);
    out += ": ";
    append_value_repr(out, field.value);
  }
  out += '}';
}

std::string value_repr(const ValueView& value) {
  std::string out;
  append_value_repr(out, value);
  return out;
}

std::string record_repr(std::span<const FieldView> record) {
  std::string out;
  append_record_repr(out, record);
  return out;
}

void write_debug_report(const DiscoveryResult& result, std::ostream& out) {
  std::string text;
  text.reserve(1 << 16);
  auto flush = [&] {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    text.clear();
  };
  auto heading = [&](std::string_view line) {
    text += CYAN;
    text += line;
    text += RESET;
    text += '\n';
  };
  auto total = [&](std::string_view label, const Value& value) {
    text += label;
    text += ' ';
    append_value_repr(text, view_of(value));
    text += '\n';
  };

  text += "Modo debug ativado.\n";
  text += GREEN;
  text += "\nVersão do script: ";
  text += VERSION;
  text += CYAN;
  text += " \n\n";
  heading(kHeadingAtraso);
  const RecordList& records = result.descobertaClientesDB;
  std::vector<FieldView> fields;
  for (std::size_t i = 0; i < records.size(); ++i) {
    records.read(i, fields);
    append_record_repr(text, fields);
    text += '\n';
    if (text.size() >= (1 << 16) - 4096) flush();
  }
  const Totals& t = result.totals;
  heading(kHeadingAtivos);
  total("Total de clientes ativos em atraso:                 ", t.somaClientesAtrasoAtivo);
  total("Total de títulos em atraso dos clientes ativos:     ", t.somaTitulosAtrasoAtivo);
  total("Valor total em dívida dos clientes ativos:          ", t.somaValorAtrasoAtivo);
  heading(kHeadingInativos);
  total("Total de clientes inativos em atraso:               ", t.somaClientesAtrasoInativo);
  total("Total de títulos em atraso dos clientes inativos:   ", t.somaTitulosAtrasoInativo);
  total("Valor total em dívida dos clientes inativos:        ", t.somaValorAtrasoInativo);
  flush();
}

}  // namespace cobrix
