#pragma once
// corvakit.process_library: bounds a run in time and launches "launch_" modes.

#include <functional>
#include <stdexcept>
#include <string>

namespace corvakit::process_library {

// Raised into the caller when the limit of a runtime_limiter elapses.
class TimeoutException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A scope that bounds the work run inside it to a number of seconds.
//
// The work runs in a child process. A database client blocked inside a C
// call cannot be interrupted by an exception, and a signal handler that
// longjmps out of one would leave the library's state corrupt; killing a
// process can always be done and frees everything at once. The parent waits
// for the child and forwards its standard output and standard error. On the
// deadline it kills the child, drops any incomplete last line of its output
// and throws TimeoutException, so the caller's handler writes the last line.
// The child dies with the parent (PR_SET_PDEATHSIG), so no work of the run
// outlives it even when the caller kills the program.
class runtime_limiter {
 public:
  explicit runtime_limiter(int seconds);

  // Runs `work` in the child and returns the exit status that `work`
  // returned there, after all its output has been forwarded. Throws
  // TimeoutException when the limit elapses first, and std::runtime_error
  // when the child cannot be started or dies by a signal.
  int run(const std::function<int()>& work);

  // True when some forwarded output could not be written to this process's
  // standard output or standard error.
  bool output_lost() const { return output_lost_; }

 private:
  int seconds_;
  bool output_lost_ = false;
};

// Hands a mode containing "launch_" to the process library. It writes
// nothing; when the environment variable CORVAKIT_LAUNCH_LOG names a file,
// the mode is appended to it as one line, so callers can observe the call.
void launch(const std::string& mode);

}  // namespace corvakit::process_library
