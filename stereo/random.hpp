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
// The state is process-wide and unlocked: one thread draws at a time.

#include <cstddef>
#include <cstdint>

namespace tolvane {

// Starts the sequence over as srand(seed) does.
void seedRandom(std::uint32_t seed);

// The next value, 0 to 2^31 - 1: what rand() would return.
std::int32_t nextRandom();

// The low 8 bits of the next value.
std::uint8_t nextRandomByte();

// `count` bytes, each the low 8 bits of the next value, in order: the same
// bytes and the same state afterwards as `count` calls of nextRandomByte.
// Nothing happens for a count of 0 or a null `out`.
void fillRandomBytes(std::uint8_t* out, std::size_t count);

}  // namespace tolvane
