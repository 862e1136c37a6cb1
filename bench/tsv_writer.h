#pragma once
// A buffered writer of tab-separated rows in the default LOAD DATA format:
// fields ended by a tab, rows by a line feed, NULL as \N, and backslash,
// tab and line feed escaped with a backslash.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace cobrix::bench {

class TsvWriter {
 public:
  // Creates (or truncates) `path`; throws std::runtime_error when it cannot.
  explicit TsvWriter(const std::filesystem::path& path);

  void text(std::string_view value);
  void integer(std::int64_t value);
  void null();
  // An amount in cents as a decimal with two places ("1234.50").
  void cents(std::int64_t value);
  // A date from its day number (days since 1970-01-01) as "YYYY-MM-DD".
  void date(std::int64_t days);
  // MySQL's all-zero date "0000-00-00".
  void zero_date();
  void end_row();

  // Writes what is buffered and closes the file; throws on a write error.
  // Must be called once the last row is written.
  void close();

 private:
  void separate();
  void flush_if_full();
  void flush();

  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::filesystem::path path_;
  std::string buffer_;
  bool row_started_ = false;
};

}  // namespace cobrix::bench
