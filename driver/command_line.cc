#include "driver/command_line.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

#include "model/failure.h"

namespace cobrix {

namespace {

// Passwords longer than this are not passwords: the reader stops there
// instead of filling memory from a descriptor that never ends.
constexpr std::size_t kMaxPasswordText = 64 * 1024;

// The N of "--senhas-fd=N", or nullopt when `entry` is not that option with
// a whole number from 0 to INT_MAX in decimal digits.
std::optional<int> password_fd_of(std::string_view entry) {
  if (!entry.starts_with(kPasswordFdOption)) return std::nullopt;
  const std::string_view digits = entry.substr(kPasswordFdOption.size());
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  int fd = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), fd);
  if (ec != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
  return fd;
}

// Closes a descriptor when the reader leaves, whatever the way out.
class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() { ::close(fd_); }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;

 private:
  int fd_;
};

}  // namespace

std::optional<CommandLine> parse_command_line(int argc, const char* const* argv) {
  if (argc == 2 || argc == 13) {
    CommandLine line{RunConfig{argv[0], argv[1], std::nullopt}, std::nullopt};
    if (argc == 13) {
      line.config.settings = RunSettings{argv[2], argv[3], argv[4],  argv[5],  argv[6], argv[7],
                                         argv[8], argv[9], argv[10], argv[11], argv[12]};
    }
    return line;
  }
  if (argc != 12) return std::nullopt;
  const std::optional<int> fd = password_fd_of(argv[1]);
  if (!fd) return std::nullopt;
  // The full layout without its two password entries, shifted by the option.
  return CommandLine{RunConfig{argv[0], argv[2],
                               RunSettings{argv[3], argv[4], argv[5], "", argv[6], argv[7], argv[8], argv[9],
                                           argv[10], "", argv[11]}},
                     fd};
}

void read_passwords(int fd, RunSettings& settings) {
  const FdCloser closer(fd);
  const std::string where = "do descritor " + std::to_string(fd);
  std::string text;
  char buffer[4096];
  while (text.size() <= kMaxPasswordText) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      throw Failure(kPasswordsKind, "não foi possível ler as senhas " + where + ": " + std::strerror(errno));
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  if (!text.empty() && text.back() == '\n') text.pop_back();
  const std::size_t split = text.find('\n');
  if (text.size() > kMaxPasswordText || split == std::string::npos || text.find('\n', split + 1) != std::string::npos)
    throw Failure(kPasswordsKind, "as senhas " + where +
                             " devem ser duas linhas: a senha do IXC e a senha do PostgreSQL");
  settings.db_password = text.substr(0, split);
  settings.pg_password = text.substr(split + 1);
}

void mask_passwords(int argc, char** argv) {
  if (argc != 13) return;
  // The kernel shows the argument memory itself in /proc/<pid>/cmdline; the
  // masked entries keep their length so that the other entries stay intact.
  for (const int entry : {5, 11}) std::memset(argv[entry], '*', std::strlen(argv[entry]));
}

}  // namespace cobrix
