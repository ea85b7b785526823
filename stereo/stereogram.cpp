#include "stereo/stereogram.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "depth/cpu_level.hpp"

#if defined(TOLVANE_X86_KERNELS)
#include <immintrin.h>
#endif
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif
#include "stereo/random.hpp"
#include "stereo/echo_free.hpp"

namespace tolvane {

namespace {

// The right strip reads each pattern row from a doubled, rotated copy (see
// transformRows). The caller keeps the copies from frame to frame so that
// the buffer is allocated once, not per frame; beyond this size the strip
// takes the remainder per pixel instead.
constexpr std::size_t kMaxDoubledBytes = std::size_t{1} << 20;

// Rows transformed side by side. Within a row every block waits for blocks
// just stored to its right; blocks of different rows do not, so the
// processor works on several rows' blocks at once.
constexpr std::int32_t kRowsAtOnce = 8;

// Vector blocks read a window from 32 bytes before the source of a depth-0
// pixel, so they need at least that much pattern width behind them.
constexpr std::int32_t kMinVectorPattern = 32;

// A depth the vector blocks take without clamping: their shuffle indices are
// 32 - d + lane, which must stay within their windows.
constexpr std::int32_t kMaxVectorDepth = 31;

// Which blocks of a gather may use vectors: a block goes wide only when no
// depth in it exceeds the limit for its width (-1: never).
struct BlockLimits {
    std::int32_t widest = -1;  // 64-pixel blocks
    std::int32_t wide = -1;    // 32-pixel blocks
    std::int32_t narrow = -1;  // 16-pixel blocks
};

// One run of pixels to gather: dst[k] = src[k + p - d(k)], d(k) being dst[k]
// before it is overwritten, taken as p - 1 when larger. Runs are done right
// to left, so when src is dst the source has already been written.
struct Run {
    std::uint8_t* dst;
    const std::uint8_t* src;
};

void gatherScalar(Run run, std::int32_t count, std::int32_t p) {
    const auto nearest = static_cast<std::uint32_t>(p - 1);
    for (std::int32_t k = count - 1; k >= 0; --k) {
        const std::uint32_t d = std::min<std::uint32_t>(run.dst[k], nearest);
        run.dst[k] = run.src[static_cast<std::uint32_t>(k + p) - d];
    }
}

void gatherRunsScalar(const Run* runs, std::int32_t runCount, std::int32_t count, std::int32_t p, const BlockLimits&) {
    for (std::int32_t i = 0; i < runCount; ++i) {
        gatherScalar(runs[i], count, p);
    }
}

#if defined(TOLVANE_X86_KERNELS)

// The registers of one block width, as the one gather body below uses them.
// Each 128-bit lane holds a 16-pixel block; the wider registers are several
// such blocks side by side.
template <std::int32_t kWidth>
struct Lanes;

template <>
struct Lanes<16> {
    using Reg = __m128i;
    TOLVANE_TARGET_SSSE3 static Reg load(const std::uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
    TOLVANE_TARGET_SSSE3 static Reg loadMiddle(const std::uint8_t* p) { return load(p); }
    TOLVANE_TARGET_SSSE3 static void store(std::uint8_t* p, Reg r) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), r);
    }
    TOLVANE_TARGET_SSSE3 static Reg splat(std::int32_t v) { return _mm_set1_epi8(static_cast<char>(v)); }
    TOLVANE_TARGET_SSSE3 static Reg window() {
        return _mm_setr_epi8(32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47);
    }
    TOLVANE_TARGET_SSSE3 static bool noneAbove(Reg depth, std::int32_t limit) {
        const __m128i over = _mm_subs_epu8(depth, splat(limit));
        return _mm_movemask_epi8(_mm_cmpeq_epi8(over, _mm_setzero_si128())) == 0xFFFF;
    }
    TOLVANE_TARGET_SSSE3 static Reg sub(Reg a, Reg b) { return _mm_sub_epi8(a, b); }
    TOLVANE_TARGET_SSSE3 static Reg exclusiveOr(Reg a, Reg b) { return _mm_xor_si128(a, b); }
    TOLVANE_TARGET_SSSE3 static Reg shuffle(Reg table, Reg index) { return _mm_shuffle_epi8(table, index); }
};

template <>
struct Lanes<32> {
    using Reg = __m256i;
    TOLVANE_TARGET_AVX2 static Reg load(const std::uint8_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    // Loaded as two halves: a single load here would straddle two blocks
    // stored moments before and wait for both to reach the cache.
    TOLVANE_TARGET_AVX2 static Reg loadMiddle(const std::uint8_t* p) {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), 1);
    }
    TOLVANE_TARGET_AVX2 static void store(std::uint8_t* p, Reg r) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), r);
    }
    TOLVANE_TARGET_AVX2 static Reg splat(std::int32_t v) { return _mm256_set1_epi8(static_cast<char>(v)); }
    TOLVANE_TARGET_AVX2 static Reg window() {
        return _mm256_setr_epi8(32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 32, 33, 34, 35, 36, 37,
                                38, 39, 40, 41, 42, 43, 44, 45, 46, 47);
    }
    TOLVANE_TARGET_AVX2 static bool noneAbove(Reg depth, std::int32_t limit) {
        const __m256i over = _mm256_subs_epu8(depth, splat(limit));
        return _mm256_testz_si256(over, over) != 0;
    }
    TOLVANE_TARGET_AVX2 static Reg sub(Reg a, Reg b) { return _mm256_sub_epi8(a, b); }
    TOLVANE_TARGET_AVX2 static Reg exclusiveOr(Reg a, Reg b) { return _mm256_xor_si256(a, b); }
    TOLVANE_TARGET_AVX2 static Reg shuffle(Reg table, Reg index) { return _mm256_shuffle_epi8(table, index); }
};

template <>
struct Lanes<64> {
    using Reg = __m512i;
    TOLVANE_TARGET_AVX512 static Reg load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
    // As two halves for the same reason as the 32-pixel form's. (A two-table
    // byte permute, VBMI, takes 64 pixels in one instruction, but measured
    // slower than these three shuffles.)
    TOLVANE_TARGET_AVX512 static Reg loadMiddle(const std::uint8_t* p) {
        const __m512i low = _mm512_maskz_inserti64x4(0xFF, _mm512_setzero_si512(), Lanes<32>::loadMiddle(p), 0);
        return _mm512_maskz_inserti64x4(0xFF, low, Lanes<32>::loadMiddle(p + 32), 1);
    }
    TOLVANE_TARGET_AVX512 static void store(std::uint8_t* p, Reg r) { _mm512_storeu_si512(p, r); }
    TOLVANE_TARGET_AVX512 static Reg splat(std::int32_t v) { return _mm512_set1_epi8(static_cast<char>(v)); }
    // The zero-masked forms with every lane selected are the plain
    // instructions; the plain intrinsics of this compiler's headers start
    // from an undefined vector and draw a false uninitialised warning.
    TOLVANE_TARGET_AVX512 static Reg window() { return _mm512_maskz_broadcast_i32x4(0xFFFF, Lanes<16>::window()); }
    TOLVANE_TARGET_AVX512 static bool noneAbove(Reg depth, std::int32_t limit) {
        return _mm512_cmpgt_epu8_mask(depth, splat(limit)) == 0;
    }
    TOLVANE_TARGET_AVX512 static Reg sub(Reg a, Reg b) { return _mm512_sub_epi8(a, b); }
    TOLVANE_TARGET_AVX512 static Reg exclusiveOr(Reg a, Reg b) { return _mm512_xor_si512(a, b); }
    TOLVANE_TARGET_AVX512 static Reg shuffle(Reg table, Reg index) { return _mm512_shuffle_epi8(table, index); }
};

// One vector gather for every block width: WideBlock<W>::gather does the W
// pixels of `run` from k0 at once and returns true, or returns false, changing
// nothing, when a depth there exceeds `limit`.
//
// Each 16 pixels come from a 48-byte window w: out[i] = w[32 + i - d(i)].
// Each table is XORed with the one before so that the three shuffles, whose
// indices go negative (and so select 0) below their own table, add up to the
// one table that holds the byte. In a wider register each 128-bit lane is a
// 16-pixel block whose window is 16 bytes further on, which is exactly what
// loads at w, w + 16 and w + 32 put in that lane.
//
// The body is written once and compiled into each width's function with
// that width's target: a body without a target of its own would pass wide
// registers between functions without AVX, which changes the calling
// convention (an error for clang, a warning for gcc).
#define TOLVANE_WIDE_GATHER_BODY(L)                                    \
    const auto depth = L::load(run.dst + k0);                          \
    if (!L::noneAbove(depth, limit)) {                                 \
        return false;                                                  \
    }                                                                  \
    const std::uint8_t* w = run.src + k0 + p - 32;                     \
    const auto t0 = L::load(w);                                        \
    const auto t1 = L::loadMiddle(w + 16);                             \
    const auto t2 = L::load(w + 32);                                   \
    const auto sixteen = L::splat(16);                                 \
    const auto i0 = L::sub(L::window(), depth);                        \
    const auto i1 = L::sub(i0, sixteen);                               \
    const auto i2 = L::sub(i1, sixteen);                               \
    auto out = L::shuffle(t0, i0);                                     \
    out = L::exclusiveOr(out, L::shuffle(L::exclusiveOr(t0, t1), i1)); \
    out = L::exclusiveOr(out, L::shuffle(L::exclusiveOr(t1, t2), i2)); \
    L::store(run.dst + k0, out);                                       \
    return true;

template <std::int32_t kWidth>
struct WideBlock;
template <>
struct WideBlock<16> {
    TOLVANE_TARGET_SSSE3 static bool gather(Run run, std::int32_t k0, std::int32_t p, std::int32_t limit) {
        TOLVANE_WIDE_GATHER_BODY(Lanes<16>)
    }
};
template <>
struct WideBlock<32> {
    TOLVANE_TARGET_AVX2 static bool gather(Run run, std::int32_t k0, std::int32_t p, std::int32_t limit) {
        TOLVANE_WIDE_GATHER_BODY(Lanes<32>)
    }
};
template <>
struct WideBlock<64> {
    TOLVANE_TARGET_AVX512 static bool gather(Run run, std::int32_t k0, std::int32_t p, std::int32_t limit) {
        TOLVANE_WIDE_GATHER_BODY(Lanes<64>)
    }
};
#undef TOLVANE_WIDE_GATHER_BODY


template <std::int32_t kWidth>
[[gnu::always_inline]] inline std::int32_t limitFor(const BlockLimits& limits) {
    if constexpr (kWidth == 64) {
        return limits.widest;
    } else if constexpr (kWidth == 32) {
        return limits.wide;
    } else {
        return limits.narrow;
    }
}

// The kWidth pixels of `run` from k0: one vector gather when their depths
// allow, else two halves, each of which may still go wide, down to single
// pixels.
template <std::int32_t kWidth>
[[gnu::always_inline]] inline void gatherBlock(Run run, std::int32_t k0, std::int32_t p, const BlockLimits& limits) {
    const std::int32_t limit = limitFor<kWidth>(limits);
    if (limit >= 0 && WideBlock<kWidth>::gather(run, k0, p, limit)) {
        return;
    }
    if constexpr (kWidth > 16) {
        gatherBlock<kWidth / 2>(run, k0 + kWidth / 2, p, limits);
        gatherBlock<kWidth / 2>(run, k0, p, limits);
    } else {
        gatherScalar(Run{run.dst + k0, run.src + k0}, kWidth, p);
    }
}

// The last `count` pixels of every run, right to left, in blocks of kWidth
// and then of each narrower width down to 16; returns how many pixels are
// left at the front of each run. `limits` is taken by value: a copy the
// compiler need not reload after every store to a row.
template <std::int32_t kWidth>
[[gnu::always_inline]] inline std::int32_t gatherBlocks(const Run* runs, std::int32_t runCount, std::int32_t count,
                                                        std::int32_t p, const BlockLimits limits) {
    std::int32_t k = count;
    for (; k >= kWidth; k -= kWidth) {
        for (std::int32_t i = 0; i < runCount; ++i) {
            gatherBlock<kWidth>(runs[i], k - kWidth, p, limits);
        }
    }
    if constexpr (kWidth > 16) {
        return gatherBlocks<kWidth / 2>(runs, runCount, k, p, limits);
    }
    return k;
}

// One wrapper per instruction set, each compiled for its own target with
// everything it calls inlined.
TOLVANE_TARGET_SSSE3 __attribute__((flatten)) void gatherRunsSsse3(const Run* runs, std::int32_t runCount,
                                                               std::int32_t count, std::int32_t p,
                                                               const BlockLimits& limits) {
    const std::int32_t left = gatherBlocks<16>(runs, runCount, count, p, limits);
    gatherRunsScalar(runs, runCount, left, p, limits);
}

TOLVANE_TARGET_AVX2 __attribute__((flatten)) void gatherRunsAvx2(const Run* runs, std::int32_t runCount,
                                                             std::int32_t count, std::int32_t p,
                                                             const BlockLimits& limits) {
    const std::int32_t left = gatherBlocks<32>(runs, runCount, count, p, limits);
    // Clean upper halves before plain code runs again: without this every
    // SSE instruction after it pays for the dirty state.
    _mm256_zeroupper();
    gatherRunsScalar(runs, runCount, left, p, limits);
}

TOLVANE_TARGET_AVX512 __attribute__((flatten)) void gatherRunsAvx512(const Run* runs,
                                                                                     std::int32_t runCount,
                                                                                     std::int32_t count,
                                                                                     std::int32_t p,
                                                                                     const BlockLimits& limits) {
    const std::int32_t left = gatherBlocks<64>(runs, runCount, count, p, limits);
    _mm256_zeroupper();
    gatherRunsScalar(runs, runCount, left, p, limits);
}

#endif  // TOLVANE_X86_KERNELS

#if defined(__wasm_simd128__)

// The 16-pixel block for WebAssembly's SIMD128, with the window and depth
// limits of the SSSE3 one. Its swizzle gives 0 for every index outside
// 0..15 (negative ones read as large), so each 16-byte table adds only its
// own bytes and an OR joins them.
bool gatherSimd128(Run run, std::int32_t k0, std::int32_t p, std::int32_t limit) {
    const v128_t depth = wasm_v128_load(run.dst + k0);
    if (wasm_v128_any_true(wasm_u8x16_sub_sat(depth, wasm_u8x16_splat(static_cast<std::uint8_t>(limit))))) {
        return false;
    }
    const std::uint8_t* w = run.src + k0 + p - 32;
    // Where in the 48-byte window each pixel's source lies, then the same
    // seen from the second and third 16 bytes.
    const v128_t sixteen = wasm_u8x16_splat(16);
    const v128_t in0 = wasm_i8x16_sub(
        wasm_u8x16_make(32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47), depth);
    const v128_t in1 = wasm_i8x16_sub(in0, sixteen);
    const v128_t in2 = wasm_i8x16_sub(in1, sixteen);
    const v128_t out = wasm_v128_or(wasm_v128_or(wasm_i8x16_swizzle(wasm_v128_load(w), in0),
                                                 wasm_i8x16_swizzle(wasm_v128_load(w + 16), in1)),
                                    wasm_i8x16_swizzle(wasm_v128_load(w + 32), in2));
    wasm_v128_store(run.dst + k0, out);
    return true;
}

// Right to left in 16-pixel blocks, the runs side by side, then what is left
// at the front of each run one pixel at a time.
void gatherRunsSimd128(const Run* runs, std::int32_t runCount, std::int32_t count, std::int32_t p,
                       const BlockLimits& limits) {
    const std::int32_t limit = limits.narrow;
    std::int32_t k = count;
    for (; k >= 16; k -= 16) {
        for (std::int32_t i = 0; i < runCount; ++i) {
            if (limit < 0 || !gatherSimd128(runs[i], k - 16, p, limit)) {
                gatherScalar(Run{runs[i].dst + k - 16, runs[i].src + k - 16}, 16, p);
            }
        }
    }
    gatherRunsScalar(runs, runCount, k, p, limits);
}

#endif  // __wasm_simd128__

using GatherFn = void (*)(const Run*, std::int32_t, std::int32_t, std::int32_t, const BlockLimits&);

GatherFn gatherFor(CpuLevel level) {
    switch (level) {
#if defined(TOLVANE_X86_KERNELS)
        case CpuLevel::Avx512:
            return gatherRunsAvx512;
        case CpuLevel::Avx2:
            return gatherRunsAvx2;
        case CpuLevel::Ssse3:
            return gatherRunsSsse3;
#endif
        default:
#if defined(__wasm_simd128__)
            // A WebAssembly build with SIMD128 runs only where it is there.
            return gatherRunsSimd128;
#else
            return gatherRunsScalar;
#endif
    }
}

// The right strip when the doubled rows would be too large: the
// pattern index (x - d + p) mod p by one conditional add, x mod p kept by
// counting down instead of dividing per pixel.
void stripByRemainder(std::uint8_t* row, std::int32_t width, std::int32_t p, const std::uint8_t* patternRow) {
    std::int32_t phase = (width - 1) % p;
    for (std::int32_t x = width - 1; x >= width - p; --x) {
        const std::int32_t d = std::min<std::int32_t>(row[x], p - 1);
        std::int32_t index = phase - d;
        if (index < 0) {
            index += p;
        }
        row[x] = patternRow[index];
        phase = phase == 0 ? p - 1 : phase - 1;
    }
}

// Row r of the result holds patternRow(r)[(width + j) mod p] for j from 0 to
// 2p - 1, so that strip pixel x, which needs pattern byte (x - d + p) mod p,
// finds it at [k + p - d] for k = x - (width - p): the same gather as the
// rest of the row. Null when the copies would be too large.
const std::uint8_t* doublePattern(const DepthMap& source, std::int32_t width, std::int32_t rows,
                                  std::vector<std::uint8_t>& doubledRows) {
    const auto p = static_cast<std::size_t>(source.area.w);
    const std::size_t bytes = 2 * p * static_cast<std::size_t>(rows);
    if (bytes > kMaxDoubledBytes) {
        return nullptr;
    }
    if (doubledRows.size() < bytes) {
        try {
            doubledRows.resize(bytes);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    const auto turn = static_cast<std::size_t>(width % source.area.w);
    std::uint8_t* out = doubledRows.data();
    const std::uint8_t* in = source.pixels;
    for (std::int32_t r = 0; r < rows; ++r, out += 2 * p, in += p) {
        std::memcpy(out, in + turn, p - turn);
        std::memcpy(out + (p - turn), in, p);
        std::memcpy(out + (2 * p - turn), in, turn);
    }
    return doubledRows.data();
}

void transformRows(DepthMap& map, const DepthMap& source, GatherFn gather, std::vector<std::uint8_t>& doubledRows) {
    const std::int32_t width = map.area.w;
    const std::int32_t height = map.area.h;
    const std::int32_t p = source.area.w;
    const std::int32_t q = source.area.h;
    const std::int32_t rest = width - p;
    // The strip reads a separate buffer, so only the window and the shuffle
    // range bound its depths; the rest of the row also needs every source to
    // lie beyond the block (p - d >= block width).
    BlockLimits stripLimits;
    BlockLimits restLimits;
    if (p >= kMinVectorPattern) {
        stripLimits = BlockLimits{p >= 64 ? kMaxVectorDepth : -1, kMaxVectorDepth, kMaxVectorDepth};
        restLimits = BlockLimits{std::min(kMaxVectorDepth, p - 64), std::min(kMaxVectorDepth, p - 32),
                                 std::min(kMaxVectorDepth, p - 16)};
    }
    const std::uint8_t* doubled = doublePattern(source, width, std::min(q, height), doubledRows);

    std::int32_t patternY = 0;
    for (std::int32_t y0 = 0; y0 < height; y0 += kRowsAtOnce) {
        const std::int32_t rows = std::min(kRowsAtOnce, height - y0);
        Run strips[kRowsAtOnce];
        Run rests[kRowsAtOnce];
        for (std::int32_t i = 0; i < rows; ++i) {
            std::uint8_t* row = map.pixels + static_cast<std::ptrdiff_t>(y0 + i) * width;
            if (doubled != nullptr) {
                strips[i] = Run{row + rest, doubled + static_cast<std::ptrdiff_t>(patternY) * 2 * p};
            } else {
                stripByRemainder(row, width, p, source.pixels + static_cast<std::ptrdiff_t>(patternY) * p);
            }
            rests[i] = Run{row, row};
            if (++patternY == q) {
                patternY = 0;
            }
        }
        if (doubled != nullptr) {
            gather(strips, rows, p, p, stripLimits);
        }
        gather(rests, rows, rest, p, restLimits);
    }
}

}  // namespace

void fillRandom(RandomGenerator& random, DepthMap& map) {
    if (map.pixels == nullptr || map.area.w <= 0 || map.area.h <= 0) {
        return;
    }
    fillRandomBytes(random, map.pixels, static_cast<std::size_t>(map.area.w) * static_cast<std::size_t>(map.area.h));
}

bool transformStereogram(DepthMap& map, const DepthMap& source) {
    std::vector<std::uint8_t> doubledRows;
    return transformStereogram(map, source, doubledRows);
}

bool transformStereogram(DepthMap& map, const DepthMap& source, std::vector<std::uint8_t>& doubledRows) {
    const std::int32_t p = source.area.w;
    const std::int32_t q = source.area.h;
    if (p < 1 || q < 1 || source.pixels == nullptr || p > map.area.w) {
        return false;
    }
    if (map.area.h == 0) {
        return true;
    }
    if (map.area.h < 0 || map.pixels == nullptr) {
        return false;
    }
    transformRows(map, source, gatherFor(detectedCpuLevel()), doubledRows);
    return true;
}

namespace {

// The depths a cross-eyed viewer needs: crossing the eyes swaps near and
// far, so near is drawn as far. Depths beyond the nearest are taken as the
// nearest, as the transform itself does.
void mirrorDepths(DepthMap& map) {
    const std::size_t count = static_cast<std::size_t>(map.area.w) * static_cast<std::size_t>(map.area.h);
    std::uint8_t* pixels = map.pixels;
    for (std::size_t i = 0; i < count; ++i) {
        pixels[i] = static_cast<std::uint8_t>(31 - std::min<std::uint8_t>(pixels[i], 31));
    }
}

// What transformStereogram refuses, asked before anything is changed.
bool patternServes(const DepthMap& map, const DepthMap& source) {
    return source.area.w >= 1 && source.area.h >= 1 && source.pixels != nullptr && source.area.w <= map.area.w &&
           map.area.h >= 0 && (map.area.h == 0 || map.pixels != nullptr);
}

// The pattern the settings ask for, made (and filled as on the first
// frame) when there is none of that size; then brought up to date with a
// renewal skipStereogram passed over. Null when it cannot be had.
DepthMap* patternFor(StereogramState& state, RandomGenerator& random, const PatternSettings& settings) {
    // A new eye separation gets a new pattern, filled as on the first frame.
    if (state.pattern && (state.pattern->area.w != settings.width || state.pattern->area.h != settings.height)) {
        releasePattern(state);
    }
    if (state.skippedRenewal && state.pattern && !settings.renewEveryFrame) {
        fillRandom(*state.skippedRenewal, *state.pattern);
    }
    state.skippedRenewal.reset();
    if (!state.pattern) {
        state.pattern = createDepthMap(settings.width, settings.height);
        if (!state.pattern) {
            return nullptr;
        }
        fillRandom(random, *state.pattern);
    }
    return state.pattern.get();
}

}  // namespace

const DepthMap* preparePattern(StereogramState& state, RandomGenerator& random, const PatternSettings& settings) {
    DepthMap* pattern = patternFor(state, random, settings);
    if (pattern != nullptr && settings.renewEveryFrame) {
        fillRandom(random, *pattern);
    }
    return pattern;
}

void renderStereogram(StereogramState& state, RandomGenerator& random, DepthMap& map,
                      const PatternSettings& settings) {
    const DepthMap* pattern = preparePattern(state, random, settings);
    if (pattern == nullptr) {
        return;
    }
    if (!patternServes(map, *pattern)) {
        return;
    }
    if (settings.crossEyed) {
        mirrorDepths(map);
    }
    const bool made = settings.echoFree ? transformStereogramEchoFree(map, *pattern, state.echoFree)
                                        : transformStereogram(map, *pattern, state.doubledRows);
    // Only the echo-free scratch can still be refused; the map then goes
    // back to the depths it came with.
    if (!made && settings.crossEyed) {
        mirrorDepths(map);
    }
}

void skipStereogram(StereogramState& state, RandomGenerator& random, const PatternSettings& settings) {
    DepthMap* pattern = patternFor(state, random, settings);
    if (pattern == nullptr || !settings.renewEveryFrame) {
        return;
    }
    state.skippedRenewal = random;
    skipRandom(random, static_cast<std::uint64_t>(pattern->area.w) * static_cast<std::uint64_t>(pattern->area.h));
}

void releasePattern(StereogramState& state) {
    freeDepthMap(std::move(state.pattern));
    state.skippedRenewal.reset();
}

}  // namespace tolvane
