#pragma once
// A small deterministic random stream (SplitMix64). Every customer gets its
// own stream from (seed, id), so the output does not depend on the order or
// number of customers generated before it.

#include <cstdint>
#include <iterator>

namespace cobrix::bench {

class Rng {
 public:
  Rng(std::uint64_t seed, std::uint64_t stream) : state_(seed * 0x9E3779B97F4A7C15ULL ^ (stream + 0x632BE59BD9B4E019ULL)) {
    next();
  }

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }

  // Uniform in [0, n) for n > 0 (the bias of the modulo is negligible here).
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>((next() >> 32) % n); }

  // True with probability per_mille / 1000.
  bool chance(std::uint32_t per_mille) { return below(1000) < per_mille; }

  template <class Array>
  const auto& pick(const Array& items) {
    return items[below(static_cast<std::uint32_t>(std::size(items)))];
  }

 private:
  std::uint64_t state_;
};

}  // namespace cobrix::bench
