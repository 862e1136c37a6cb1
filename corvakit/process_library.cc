#include "corvakit/process_library.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <utility>

namespace corvakit::process_library {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// Owns a file descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Fd() { reset(); }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

struct Pipe {
  Fd read;
  Fd write;
};

Pipe make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) fail("pipe2");
  return {Fd(fds[0]), Fd(fds[1])};
}

// Writes all of `data` to `fd`; false when the write fails.
bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// One stream of the child forwarded to the same stream of this process.
// With `whole_lines`, only complete lines go out until the stream ends.
class Forwarder {
 public:
  Forwarder(Fd source, int target, bool whole_lines)
      : source_(std::move(source)), target_(target), whole_lines_(whole_lines) {}

  bool open() const { return source_.get() >= 0; }
  int fd() const { return source_.get(); }
  bool lost() const { return lost_; }

  // Reads what is available without blocking and forwards it. Returns false
  // when nothing was available.
  bool pump() { return pump(true); }

  // After the child has died: forwards what is still in the pipe, without
  // an incomplete last line when `keep_tail` is false.
  void drain(bool keep_tail) {
    while (open()) pump(keep_tail);
  }

 private:
  bool pump(bool keep_tail) {
    char buf[65536];
    const ssize_t n = ::read(source_.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) return false;
      fail("read");
    }
    if (n == 0) {  // end of stream: what remains goes out as it is
      if (keep_tail) emit(pending_.data(), pending_.size());
      pending_.clear();
      source_.reset();
      return false;
    }
    if (!whole_lines_) {
      emit(buf, static_cast<std::size_t>(n));
      return true;
    }
    pending_.append(buf, static_cast<std::size_t>(n));
    const std::size_t end = pending_.rfind('\n');
    if (end != std::string::npos) {
      emit(pending_.data(), end + 1);
      pending_.erase(0, end + 1);
    }
    return true;
  }

  void emit(const char* data, std::size_t size) {
    if (!lost_ && size > 0 && !write_all(target_, data, size)) lost_ = true;
  }

  Fd source_;
  int target_;
  bool whole_lines_;
  bool lost_ = false;
  std::string pending_;
};

[[noreturn]] void run_child(const std::function<int()>& work, pid_t parent, Pipe& out, Pipe& err) {
  // Die with the parent; if it is already gone, do not start the work.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(1);
  ::dup2(out.write.get(), STDOUT_FILENO);
  ::dup2(err.write.get(), STDERR_FILENO);
  int status = 1;
  try {
    status = work();
  } catch (const std::exception& e) {
    std::cerr << "cobrix: falha não tratada: " << e.what() << '\n';
  } catch (...) {
    std::cerr << "cobrix: falha não tratada\n";
  }
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  ::_exit(status);
}

}  // namespace

runtime_limiter::runtime_limiter(int seconds) : seconds_(seconds) {}

int runtime_limiter::run(const std::function<int()>& work) {
  // Anything buffered now belongs to the parent; the child must not repeat it.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);

  Pipe out = make_pipe();
  Pipe err = make_pipe();
  const pid_t parent = ::getpid();
  const auto deadline = Clock::now() + std::chrono::seconds(seconds_);
  const pid_t child = ::fork();
  if (child < 0) fail("fork");
  if (child == 0) run_child(work, parent, out, err);

  out.write.reset();
  err.write.reset();
  ::fcntl(out.read.get(), F_SETFL, O_NONBLOCK);
  ::fcntl(err.read.get(), F_SETFL, O_NONBLOCK);
  Forwarder stdout_fw(std::move(out.read), STDOUT_FILENO, true);
  Forwarder stderr_fw(std::move(err.read), STDERR_FILENO, false);

  int wait_status = 0;
  bool exited = false;
  bool timed_out = false;
  while (!exited) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    if (!stdout_fw.open() && !stderr_fw.open()) {
      // Both streams closed: only the exit is left to wait for.
      const pid_t done = ::waitpid(child, &wait_status, WNOHANG);
      if (done < 0 && errno != EINTR) fail("waitpid");
      exited = done == child;
      if (!exited) ::usleep(5000);
      continue;
    }
    pollfd fds[2] = {{stdout_fw.fd(), POLLIN, 0}, {stderr_fw.fd(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left, 60'000)));
    if (ready < 0 && errno != EINTR) fail("poll");
    // The child writes standard output before any later standard error, so
    // draining standard output first keeps the two in the child's order.
    while (stdout_fw.open() && stdout_fw.pump() && Clock::now() < deadline) {
    }
    if (stderr_fw.open()) stderr_fw.pump();
  }

  if (timed_out) {
    ::kill(child, SIGKILL);
    while (::waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {
    }
    // Complete lines written before the deadline still go out; a line cut
    // off by the kill does not.
    stdout_fw.drain(false);
    stderr_fw.drain(true);
  }
  output_lost_ = stdout_fw.lost() || stderr_fw.lost();
  if (timed_out)
    throw TimeoutException("Tempo limite de execução atingido (" + std::to_string(seconds_) +
                           " segundos): execução interrompida.");
  if (WIFSIGNALED(wait_status))
    throw std::runtime_error("o processo da execução terminou pelo sinal " + std::to_string(WTERMSIG(wait_status)) +
                             " (" + ::strsignal(WTERMSIG(wait_status)) + ")");
  return WEXITSTATUS(wait_status);
}

void launch(const std::string& mode) {
  if (const char* log = std::getenv("CORVAKIT_LAUNCH_LOG"); log && *log) std::ofstream(log, std::ios::app) << mode << '\n';
}

}  // namespace corvakit::process_library
