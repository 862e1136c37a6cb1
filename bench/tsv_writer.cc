#include "bench/tsv_writer.h"

#include <charconv>
#include <stdexcept>

#include "bench/civil_date.h"

namespace cobrix::bench {

namespace {
constexpr std::size_t kFlushAt = 1 << 20;
}

TsvWriter::TsvWriter(const std::filesystem::path& path) : file_(std::fopen(path.c_str(), "wb")), path_(path) {
  if (!file_) throw std::runtime_error("não foi possível criar " + path.string());
  buffer_.reserve(kFlushAt + 4096);
}

void TsvWriter::separate() {
  if (row_started_) buffer_.push_back('\t');
  row_started_ = true;
}

void TsvWriter::text(std::string_view value) {
  separate();
  for (const char c : value) {
    switch (c) {
      case '\\': buffer_ += "\\\\"; break;
      case '\t': buffer_ += "\\t"; break;
      case '\n': buffer_ += "\\n"; break;
      case '\0': buffer_ += "\\0"; break;
      default: buffer_.push_back(c);
    }
  }
}

void TsvWriter::integer(std::int64_t value) {
  separate();
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  buffer_.append(digits, end);
}

void TsvWriter::null() {
  separate();
  buffer_ += "\\N";
}

void TsvWriter::cents(std::int64_t value) {
  separate();
  if (value < 0) {
    buffer_.push_back('-');
    value = -value;
  }
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value / 100).ptr;
  buffer_.append(digits, end);
  buffer_.push_back('.');
  buffer_.push_back(static_cast<char>('0' + value % 100 / 10));
  buffer_.push_back(static_cast<char>('0' + value % 10));
}

void TsvWriter::date(std::int64_t days) {
  separate();
  const auto text = iso_date(days);
  buffer_.append(text.data(), text.size());
}

void TsvWriter::zero_date() {
  separate();
  buffer_ += "0000-00-00";
}

void TsvWriter::end_row() {
  buffer_.push_back('\n');
  row_started_ = false;
  flush_if_full();
}

void TsvWriter::flush_if_full() {
  if (buffer_.size() >= kFlushAt) flush();
}

void TsvWriter::flush() {
  if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_.get()) != buffer_.size())
    throw std::runtime_error("erro ao escrever " + path_.string());
  buffer_.clear();
}

void TsvWriter::close() {
  flush();
  if (std::fclose(file_.release()) != 0) throw std::runtime_error("erro ao fechar " + path_.string());
}

}  // namespace cobrix::bench
