#pragma once
// The debug run's report and the report forms of values.

#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "discovery/records.h"
#include "model/record_list.h"

namespace cobrix {

// The three headings, each 113 characters with its final line feed.
extern const std::string_view kHeadingAtraso;
extern const std::string_view kHeadingAtivos;
extern const std::string_view kHeadingInativos;

// Report forms, appended to `out`:
// a text in quotes with Python's escaping rules (printability by Unicode
// general category, from utf8proc); `text` must be valid UTF-8.
void append_text_repr(std::string& out, std::string_view text);
// any value: integer digits, the double's shortest round-trip form, the
// quoted text, "None", or "datetime.datetime(...)".
void append_value_repr(std::string& out, const ValueView& value);
// "{'key': value, ...}".
void append_record_repr(std::string& out, std::span<const FieldView> record);

std::string value_repr(const ValueView& value);
std::string record_repr(std::span<const FieldView> record);

// Writes the whole debug report to `out`, from "Modo debug ativado." to the
// last total, each line ended by one line feed.
void write_debug_report(const DiscoveryResult& result, std::ostream& out);

}  // namespace cobrix
