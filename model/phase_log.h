#pragma once
// Optional timing of a run's phases, for the benchmarks. When the
// environment variable COBRIX_PHASE_LOG names a file, each PhaseTimer appends
// "<name> <wall seconds>" to it as one line when it ends; otherwise it does
// nothing. It never writes to the standard streams.

#include <chrono>
#include <string>

namespace cobrix {

class PhaseTimer {
 public:
  explicit PhaseTimer(std::string name);
  ~PhaseTimer();
  PhaseTimer(const PhaseTimer&) = delete;
  PhaseTimer& operator=(const PhaseTimer&) = delete;

 private:
  std::string name_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace cobrix
