#pragma once
// Test helpers that run code or programs in a child process and capture what
// they write.

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace cobrix::testing {

struct Captured {
  std::string out;  // standard output
  std::string err;  // standard error
  int status = -1;  // exit status, or 128 + signal number
  int pid = 0;
};

// Runs `fn` in a forked child whose standard output and error go to files;
// the child's exit status is fn's return value.
Captured capture_forked(const std::function<int()>& fn);

struct RunOptions {
  std::map<std::string, std::string> env;  // added to (or replacing) the environment
  std::string stdout_path;                 // when set, standard output goes to this file instead
  std::string stdin_text;                  // standard input (empty: /dev/null)
  // Called with the child's pid while it runs, before waiting for it.
  std::function<void(int pid)> while_running;
};

// Runs `program` with `args` (args[0] is the argument vector's entry 0) and
// captures its output and status.
Captured run_program(const std::string& program, const std::vector<std::string>& args,
                     const RunOptions& options = {});

// A TCP listener on 127.0.0.1 that never accepts: connections complete at the
// kernel and then never hear a byte.
class BlackHoleListener {
 public:
  BlackHoleListener();
  ~BlackHoleListener();
  BlackHoleListener(const BlackHoleListener&) = delete;
  BlackHoleListener& operator=(const BlackHoleListener&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on.
int closed_port();

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string& path);

// The argument vector of a running process, from /proc/<pid>/cmdline.
std::vector<std::string> process_cmdline(int pid);

// True while a process with this pid exists (zombies included).
bool process_exists(int pid);

}  // namespace cobrix::testing
