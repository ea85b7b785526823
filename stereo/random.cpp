#include "stereo/random.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "depth/cpu_level.hpp"

#if defined(TOLVANE_X86_KERNELS)
#include <immintrin.h>
#endif

namespace tolvane {

namespace {

constexpr std::int32_t kLongLag = 31;
constexpr std::int32_t kShortLag = 3;
// Values stepped over after seeding, so that nearby seeds part ways.
constexpr std::int32_t kSkipped = 310;

struct RandomState {
    std::uint32_t lags[kLongLag] = {};
    std::int32_t oldest = 0;
};
static_assert(kRandomLags == kLongLag);

// Works on the seeding's own state and on a generator alike.
template <class State>
constexpr std::uint32_t stepRing(State& state) {
    std::int32_t shortLag = state.oldest + kLongLag - kShortLag;
    if (shortLag >= kLongLag) {
        shortLag -= kLongLag;
    }
    const std::uint32_t value = state.lags[state.oldest] + state.lags[shortLag];
    state.lags[state.oldest] = value;
    state.oldest = state.oldest + 1 == kLongLag ? 0 : state.oldest + 1;
    return value;
}

constexpr RandomState seededState(std::uint32_t seed) {
    RandomState state;
    // The seed is taken as a signed 32-bit word, as the C library takes it:
    // seeds from 2^31 on start from a negative word, which the first step
    // brings back into range. Multiplying by 16807 modulo 2^31 - 1 in two
    // parts (Schrage's method) keeps every product within 31 bits.
    std::int32_t word = seed == 0 ? 1 : static_cast<std::int32_t>(seed);
    state.lags[0] = static_cast<std::uint32_t>(word);
    for (std::int32_t i = 1; i < kLongLag; ++i) {
        const std::int32_t high = word / 127773;
        const std::int32_t low = word % 127773;
        word = 16807 * low - 2836 * high;
        if (word < 0) {
            word += 2147483647;
        }
        state.lags[i] = static_cast<std::uint32_t>(word);
    }
    // r[31..33] repeat r[0..2], which the ring already holds where they
    // belong: the ring now stands at r[34], whose long lag is r[3].
    state.oldest = kShortLag;
    for (std::int32_t i = 0; i < kSkipped; ++i) {
        stepRing(state);
    }
    return state;
}

constexpr RandomState kUnseeded = seededState(1);

// The C library's first value for seed 1, the one every C programmer has seen.
static_assert([] {
    RandomState state = seededState(1);
    return stepRing(state) >> 1;
}() == 1804289383u);

// The random byte of a raw value r: the low 8 bits of r >> 1, what rand() gives.
std::uint8_t byteOf(std::uint32_t value) { return static_cast<std::uint8_t>(value >> 1); }

// The bulk loops take the lags in a plain array, oldest first, and leave the
// lags after their last value there.
void advanceScalar(std::uint32_t* lags, std::uint8_t* out, std::size_t count) {
    // The recurrence runs over a straight buffer that holds each chunk behind
    // its 31 lags. The three values the short lag reaches stay in registers,
    // so the only read from the buffer is the long lag, written long before:
    // three independent chains of one add each. The bytes come out in a
    // second, vectorised, loop.
    constexpr std::size_t kChunk = 1023;
    std::uint32_t values[kLongLag + kChunk];
    std::copy(lags, lags + kLongLag, values);
    while (count > 0) {
        const std::size_t n = std::min(count, kChunk);
        std::uint32_t a = values[kLongLag - 3];
        std::uint32_t b = values[kLongLag - 2];
        std::uint32_t c = values[kLongLag - 1];
        std::size_t k = 0;
        for (; k + 3 <= n; k += 3) {
            a += values[k];
            b += values[k + 1];
            c += values[k + 2];
            values[kLongLag + k] = a;
            values[kLongLag + k + 1] = b;
            values[kLongLag + k + 2] = c;
        }
        for (; k < n; ++k) {
            values[kLongLag + k] = values[kLongLag - kShortLag + k] + values[k];
        }
        for (k = 0; k < n; ++k) {
            out[k] = byteOf(values[kLongLag + k]);
        }
        std::copy(values + n, values + n + kLongLag, values);
        out += n;
        count -= n;
    }
    std::copy(values, values + kLongLag, lags);
}

#if defined(TOLVANE_X86_KERNELS)

// 16 values at a time, all in registers. With the block r[i..i+15], its
// long lags r[i-31..i-16] lie in the two blocks before it: all but the last
// in `older`, the last is newer[0]. Along the short lag each value is the
// sum of its long lags every third lane down to the block's start, plus one
// of the last three values of `newer`: a prefix sum with stride 3, which
// waits only on `older`. What waits on the block just made is one permute
// and two adds.
TOLVANE_TARGET_AVX512 std::size_t advanceAvx512(std::uint32_t* lags, std::uint8_t* out,
                                                             std::size_t count) {
    const std::size_t blocks = count / 16;
    if (blocks == 0) {
        return 0;
    }
    // The zero-masked forms with every lane selected are the plain
    // instructions; the plain intrinsics of this compiler's headers start
    // from an undefined vector and draw a false uninitialised warning.
    constexpr __mmask16 kAll = 0xFFFF;
    const __m512i zero = _mm512_setzero_si512();
    const __m512i carryIndex = _mm512_setr_epi32(13, 14, 15, 13, 14, 15, 13, 14, 15, 13, 14, 15, 13, 14, 15, 13);
    // r[i-32..i-17], of which lane 0 is never read, and r[i-16..i-1].
    __m512i older = _mm512_maskz_alignr_epi32(kAll, _mm512_loadu_si512(lags), zero, 15);
    __m512i newer = _mm512_loadu_si512(lags + 15);
    for (std::size_t b = 0; b < blocks; ++b) {
        // Lane j gathers the long lags of lanes j, j - 3, ... j - 15, each
        // term shifted straight out of `older` so that they add as a tree.
        const __m512i lag0 = _mm512_maskz_alignr_epi32(kAll, zero, older, 1);
        const __m512i lag3 = _mm512_maskz_alignr_epi32(0xFFF8, older, zero, 16 - 3 + 1);
        const __m512i lag6 = _mm512_maskz_alignr_epi32(0xFFC0, older, zero, 16 - 6 + 1);
        const __m512i lag9 = _mm512_maskz_alignr_epi32(0xFE00, older, zero, 16 - 9 + 1);
        const __m512i lag12 = _mm512_maskz_alignr_epi32(0xF000, older, zero, 16 - 12 + 1);
        const __m512i lag15 = _mm512_maskz_alignr_epi32(0x8000, older, zero, 16 - 15 + 1);
        const __m512i sum = _mm512_add_epi32(_mm512_add_epi32(_mm512_add_epi32(lag0, lag3), _mm512_add_epi32(lag6, lag9)),
                                             _mm512_add_epi32(lag12, lag15));
        __m512i block = _mm512_add_epi32(sum, _mm512_maskz_permutexvar_epi32(kAll, carryIndex, newer));
        // The last lane's long lag is the first value of the block before.
        block = _mm512_mask_add_epi32(block, 0x8000, block, _mm512_maskz_permutexvar_epi32(kAll, zero, newer));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * b),
                         _mm512_maskz_cvtepi32_epi8(kAll, _mm512_maskz_srli_epi32(kAll, block, 1)));
        older = newer;
        newer = block;
    }
    _mm512_storeu_si512(lags, _mm512_maskz_alignr_epi32(kAll, newer, older, 1));
    _mm512_storeu_si512(lags + 15, newer);
    return blocks * 16;
}

#endif  // TOLVANE_X86_KERNELS


// Polynomials over the integers modulo 2^32 of degree below 31, taken
// modulo x^31 - x^28 - 1: the recurrence r[i+31] = r[i+28] + r[i] makes x^n
// stand for the value n places on, so the coefficients of x^n reduced give
// r[b+n] as a combination of r[b..b+30].
using LagPolynomial = std::array<std::uint32_t, kLongLag>;

LagPolynomial reduced(std::array<std::uint32_t, 2 * kLongLag - 1>& wide) {
    // x^d = x^(d-31) (x^28 + 1), from the top down.
    for (std::int32_t d = 2 * kLongLag - 2; d >= kLongLag; --d) {
        const std::uint32_t c = wide[static_cast<std::size_t>(d)];
        wide[static_cast<std::size_t>(d - kShortLag)] += c;
        wide[static_cast<std::size_t>(d - kLongLag)] += c;
    }
    LagPolynomial out;
    std::copy(wide.begin(), wide.begin() + kLongLag, out.begin());
    return out;
}

LagPolynomial squared(const LagPolynomial& a) {
    std::array<std::uint32_t, 2 * kLongLag - 1> wide{};
    for (std::size_t i = 0; i < a.size(); ++i) {
        wide[2 * i] += a[i] * a[i];
        for (std::size_t j = i + 1; j < a.size(); ++j) wide[i + j] += 2 * a[i] * a[j];
    }
    return reduced(wide);
}

LagPolynomial timesX(const LagPolynomial& a) {
    std::array<std::uint32_t, 2 * kLongLag - 1> wide{};
    std::copy(a.begin(), a.end(), wide.begin() + 1);
    return reduced(wide);
}

// Below this many values stepping beats the polynomial's squarings.
constexpr std::uint64_t kShortestJump = 20000;

void jumpAhead(RandomGenerator& state, std::uint64_t count) {
    if (count < kShortestJump) {
        for (std::uint64_t i = 0; i < count; ++i) stepRing(state);
        return;
    }
    // x^count by squaring, from the top bit down.
    LagPolynomial power{};
    power[0] = 1;
    for (int bit = 63 - __builtin_clzll(count); bit >= 0; --bit) {
        power = squared(power);
        if ((count >> bit) & 1) power = timesX(power);
    }
    // r[b..b+60], b the oldest lag: the ring and the 30 values after it.
    std::uint32_t values[2 * kLongLag - 1];
    RandomGenerator ahead = state;
    for (std::int32_t j = 0; j < kLongLag; ++j) values[j] = state.lags[(state.oldest + j) % kLongLag];
    for (std::int32_t j = kLongLag; j < 2 * kLongLag - 1; ++j) values[j] = stepRing(ahead);
    for (std::int32_t j = 0; j < kLongLag; ++j) {
        std::uint32_t sum = 0;
        for (std::int32_t k = 0; k < kLongLag; ++k) sum += power[static_cast<std::size_t>(k)] * values[j + k];
        state.lags[j] = sum;
    }
    state.oldest = 0;
}

}  // namespace

RandomGenerator::RandomGenerator() {
    std::copy(kUnseeded.lags, kUnseeded.lags + kLongLag, lags);
    oldest = kUnseeded.oldest;
}

RandomGenerator::RandomGenerator(std::uint32_t seed) { seedRandom(*this, seed); }

void seedRandom(RandomGenerator& generator, std::uint32_t seed) {
    const RandomState state = seededState(seed);
    std::copy(state.lags, state.lags + kLongLag, generator.lags);
    generator.oldest = state.oldest;
    generator.skipped = 0;
}

void skipRandom(RandomGenerator& generator, std::uint64_t count) { generator.skipped += count; }

namespace {

// Makes the skip noted by skipRandom before a draw.
RandomGenerator& settled(RandomGenerator& generator) {
    if (generator.skipped != 0) {
        jumpAhead(generator, generator.skipped);
        generator.skipped = 0;
    }
    return generator;
}

}  // namespace

std::int32_t nextRandom(RandomGenerator& generator) {
    return static_cast<std::int32_t>(stepRing(settled(generator)) >> 1);
}

std::uint8_t nextRandomByte(RandomGenerator& generator) { return byteOf(stepRing(settled(generator))); }

void fillRandomBytes(RandomGenerator& generator, std::uint8_t* out, std::size_t count) {
    if (out == nullptr || count == 0) {
        return;
    }
    settled(generator);
    std::uint32_t lags[kLongLag];
    std::rotate_copy(generator.lags, generator.lags + generator.oldest, generator.lags + kLongLag, lags);
    std::size_t done = 0;
#if defined(TOLVANE_X86_KERNELS)
    // The same probe as the blits and the transform; its widest level implies
    // the AVX-512 foundation this loop needs.
    if (detectedCpuLevel() == CpuLevel::Avx512) {
        done = advanceAvx512(lags, out, count);
    }
#endif
    advanceScalar(lags, out + done, count - done);
    std::copy(lags, lags + kLongLag, generator.lags);
    generator.oldest = 0;
}

}  // namespace tolvane
