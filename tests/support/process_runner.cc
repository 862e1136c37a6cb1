#include "tests/support/process_runner.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace cobrix::testing {

namespace {

std::string temp_path(const char* tag) {
  char templ[] = "/tmp/cobrix-test-XXXXXX";
  const int fd = ::mkstemp(templ);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  ::close(fd);
  std::remove(templ);  // only the unique name is wanted
  return std::string(templ) + tag;
}

int decode_status(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return -1;
}

void redirect(int target, const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) ::_exit(120);
  ::dup2(fd, target);
  ::close(fd);
}

}  // namespace

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

Captured capture_forked(const std::function<int()>& fn) {
  const std::string out_path = temp_path(".out");
  const std::string err_path = temp_path(".err");
  std::cout.flush();
  std::cerr.flush();
  const pid_t pid = ::fork();
  if (pid == 0) {
    redirect(STDOUT_FILENO, out_path);
    redirect(STDERR_FILENO, err_path);
    int status = 1;
    try {
      status = fn();
    } catch (...) {
      status = 99;
    }
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ::_exit(status);
  }
  int wait_status = 0;
  ::waitpid(pid, &wait_status, 0);
  Captured result{read_file(out_path), read_file(err_path), decode_status(wait_status), pid};
  std::remove(out_path.c_str());
  std::remove(err_path.c_str());
  return result;
}

Captured run_program(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
  const std::string out_path = options.stdout_path.empty() ? temp_path(".out") : options.stdout_path;
  const std::string err_path = temp_path(".err");
  const std::string in_path = options.stdin_text.empty() ? "/dev/null" : temp_path(".in");
  if (!options.stdin_text.empty()) std::ofstream(in_path, std::ios::binary) << options.stdin_text;
  std::cout.flush();
  std::cerr.flush();
  const pid_t pid = ::fork();
  if (pid == 0) {
    redirect(STDOUT_FILENO, out_path);
    redirect(STDERR_FILENO, err_path);
    const int in = ::open(in_path.c_str(), O_RDONLY);
    ::dup2(in, STDIN_FILENO);
    for (const auto& [name, value] : options.env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  if (options.while_running) options.while_running(pid);
  int wait_status = 0;
  ::waitpid(pid, &wait_status, 0);
  Captured result{options.stdout_path.empty() ? read_file(out_path) : std::string(), read_file(err_path),
                  decode_status(wait_status), pid};
  if (options.stdout_path.empty()) std::remove(out_path.c_str());
  std::remove(err_path.c_str());
  if (!options.stdin_text.empty()) std::remove(in_path.c_str());
  return result;
}

BlackHoleListener::BlackHoleListener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 64) != 0)
    throw std::runtime_error("black-hole listener: bind/listen failed");
  socklen_t len = sizeof addr;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
}

BlackHoleListener::~BlackHoleListener() { ::close(fd_); }

int closed_port() {
  // Bind an ephemeral port and release it without listening.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

std::vector<std::string> process_cmdline(int pid) {
  const std::string raw = read_file("/proc/" + std::to_string(pid) + "/cmdline");
  std::vector<std::string> args;
  std::string current;
  for (char c : raw) {
    if (c == '\0') {
      args.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) args.push_back(current);
  return args;
}

bool process_exists(int pid) { return ::kill(pid, 0) == 0; }

}  // namespace cobrix::testing
