#pragma once
// The engine's one pseudo-random generator: exactly the sequence of the GNU
// C library's rand() (its default additive feedback generator), computed
// here so that a frame's thousands of draws need neither the lock glibc takes
// on every call nor a call per draw.
//
// After seeding with s, the sequence is that of srand(s) followed by rand():
// r[0] = s (1 when s is 0), r[i] = 16807 r[i-1] mod (2^31 - 1) for i < 31,
// r[31..33] = r[0..2], then r[i] = r[i-3] + r[i-31] mod 2^32; the first 310
// values after r[33] are skipped and each value given out is r >> 1. Before
// any seeding the sequence is that of seed 1, as for rand() without srand.
//
// Each generator is a value: an engine owns one, and engines on different
// threads draw from their own without locking.

#include <cstddef>
#include <cstdint>

namespace tolvane {

inline constexpr std::int32_t kRandomLags = 31;

// The last 31 values r[i-31..i-1] as a ring: r[i-31+j] sits at
// (oldest + j) mod 31, so the next value replaces the one at `oldest`.
// `skipped` values are still to be stepped over before the next draw.
struct RandomGenerator {
    std::uint32_t lags[kRandomLags] = {};
    std::int32_t oldest = 0;
    std::uint64_t skipped = 0;

    // As rand() stands before any srand.
    RandomGenerator();
    explicit RandomGenerator(std::uint32_t seed);
};

// Starts the sequence over as srand(seed) does.
void seedRandom(RandomGenerator& generator, std::uint32_t seed);

// The next value, 0 to 2^31 - 1: what rand() would return.
std::int32_t nextRandom(RandomGenerator& generator);

// The low 8 bits of the next value.
std::uint8_t nextRandomByte(RandomGenerator& generator);

// `count` bytes, each the low 8 bits of the next value, in order: the same
// bytes and the same state afterwards as `count` calls of nextRandomByte.
// Nothing happens for a count of 0 or a null `out`.
void fillRandomBytes(RandomGenerator& generator, std::uint8_t* out, std::size_t count);

// Steps over `count` values exactly as `count` draws would, at a cost that
// grows with the logarithm of the total: the skip is noted and made, as one
// jump of the whole sequence, by the next draw. Renders that start far into
// a sequence of frames use it to pass the frames before theirs.
void skipRandom(RandomGenerator& generator, std::uint64_t count);

}  // namespace tolvane
