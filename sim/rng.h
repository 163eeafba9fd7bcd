// A small, fully specified generator so that --seed gives the same run on every build
// (the standard distributions are allowed to differ between library versions).
#pragma once
#include <cstdint>

namespace vek::sim {

// splitmix64: one multiply-xorshift step per number, good enough for noise and dice.
inline std::uint64_t mix64(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next()
    {
        state_ += 0x9E3779B97F4A7C15ull;
        return mix64(state_);
    }
    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    // Uniform in [lo, hi], hi >= lo.
    std::uint64_t between(std::uint64_t lo, std::uint64_t hi) { return lo + next() % (hi - lo + 1); }

private:
    std::uint64_t state_;
};

// Noise that depends only on (seed, stream, step): the value at a given moment is the same
// whenever and however often it is asked for. Uniform in [-1, 1].
inline double hashNoise(std::uint64_t seed, std::uint64_t stream, std::int64_t step)
{
    const std::uint64_t h = mix64(seed ^ mix64(stream ^ mix64(static_cast<std::uint64_t>(step))));
    return static_cast<double>(h >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

}  // namespace vek::sim
