#include "model/phase_log.h"

#include <cstdio>
#include <cstdlib>

namespace cobrix {

PhaseTimer::PhaseTimer(std::string name) : name_(std::move(name)), start_(std::chrono::steady_clock::now()) {}

PhaseTimer::~PhaseTimer() {
  const char* path = std::getenv("COBRIX_PHASE_LOG");
  if (!path || !*path) return;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  if (std::FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s %.6f\n", name_.c_str(), elapsed.count());
    std::fclose(f);
  }
}

}  // namespace cobrix
