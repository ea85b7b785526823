#include "stereo/echo_free.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "depth/cpu_level.hpp"

#if defined(TOLVANE_X86_KERNELS)
#include <immintrin.h>
#endif

namespace tolvane {

namespace {

// The nearest depth the sight lines reach: a depth hides a point only while
// the point's depth plus twice the distance stays at most this.
constexpr std::int32_t kNearestDepth = 31;

// Sight lines are checked 32 columns at a time; `sight` keeps this many
// columns of padding on each side of the row so that no check leaves it.
constexpr std::size_t kBlock = 64;
constexpr std::size_t kReach = 16;

// A point hides nothing farther than 15 columns away: a depth of at most 31,
// less two per column, falls below 0 from the 16th column on.
constexpr std::int32_t kFarthestCover = 15;

// Depths in `sight` are stored plus this bias, so that depth minus two per
// column never goes below 0 in unsigned bytes; the padding holds a value that
// stays below every biased depth however far it is carried.
constexpr std::uint8_t kSightBias = 32;
constexpr std::uint8_t kSightPad = 2 * kFarthestCover;

// Points are paired 8 columns at a time.
constexpr std::size_t kLanes = 8;
// Spare links past the row's end, one per lane: where a point with nothing
// to link stores. They hold W, so they stay unlinked.
constexpr std::uint32_t kSpares = kLanes;

// Per-row working memory, kept from call to call.
//
// Links are column numbers: a pixel linked to one on its right holds that
// column (always greater than its own); an unlinked pixel x holds
// W + (x mod P), which is where the fill finds its pattern byte, since the
// row is filled in `bytes` with the pattern row copied just past its end. So
// "linked" is "link < W", and the fill is one copy per pixel either way.
struct RowScratch {
    std::vector<std::uint32_t> unlinked;  // W + (x mod P) for every x
    std::vector<std::uint32_t> links;     // W, then the spares
    std::vector<std::uint8_t> depths;     // the row, padded as `sight`
    std::vector<std::uint8_t> sight;      // biased depths capped at 31, padded
    std::vector<std::uint8_t> span;       // markHidden's passes, padded
    std::vector<std::uint8_t> spanNext;
    std::vector<std::uint8_t> hidden;     // 0xFF where a point is hidden, padded
    std::vector<std::uint32_t> pairFrom;  // what each point requires equal
    std::vector<std::uint32_t> pairTo;
    std::vector<std::uint32_t> walkLeft;  // the put-off walks, listed
    std::vector<std::uint32_t> walkRight;
    std::vector<std::uint8_t> bytes;  // W row bytes, then the P pattern bytes
    std::uint8_t cap = 0;             // min(P - 1, 31)
    std::int32_t width = 0;
    std::int32_t period = 0;
};

bool prepareScratch(RowScratch& scratch, std::int32_t width, std::int32_t period) {
    if (scratch.width == width && scratch.period == period) {
        return true;
    }
    const auto w = static_cast<std::size_t>(width);
    const auto p = static_cast<std::size_t>(period);
    const std::size_t padded = (w + kBlock - 1) / kBlock * kBlock;
    try {
        scratch.unlinked.resize(w);
        scratch.links.resize(w + kSpares);
        scratch.depths.resize(padded + 2 * kReach);
        scratch.sight.resize(padded + 2 * kReach);
        scratch.span.resize(padded + 2 * kReach);
        scratch.spanNext.resize(padded + 2 * kReach);
        scratch.hidden.resize(padded + 2 * kReach);
        scratch.pairFrom.resize(padded);
        scratch.pairTo.resize(padded);
        // A block's whole 16 lanes are stored at the list's end.
        scratch.walkLeft.resize(padded + 16);
        scratch.walkRight.resize(padded + 16);
        scratch.bytes.resize(w + p);
    } catch (const std::bad_alloc&) {
        scratch.width = 0;
        return false;
    }
    // W + P - 1 < 2^32 since both are below 2^31.
    std::size_t phase = 0;
    for (std::size_t x = 0; x < w; ++x) {
        scratch.unlinked[x] = static_cast<std::uint32_t>(w + phase);
        phase = phase + 1 == p ? 0 : phase + 1;
    }
    std::fill(scratch.links.begin() + static_cast<std::ptrdiff_t>(w), scratch.links.end(),
              static_cast<std::uint32_t>(w));
    std::fill(scratch.depths.begin(), scratch.depths.end(), std::uint8_t{0});
    std::fill(scratch.sight.begin(), scratch.sight.end(), kSightPad);
    // A column before the row counts as hidden: no point there to pair with.
    std::fill(scratch.hidden.begin(), scratch.hidden.end(), std::uint8_t{0xFF});
    scratch.cap = static_cast<std::uint8_t>(std::min(period - 1, kNearestDepth));
    scratch.width = width;
    scratch.period = period;
    return true;
}

// The sight-line pass uses GCC's vector extension, so that one body serves
// every level: each level's wrapper below compiles it for that level's
// registers.
using Bytes64 = std::uint8_t __attribute__((vector_size(64)));

// The loops of one level, chosen once a frame from the engine's CPU probe,
// so that tests can run each of them.
enum class Loops { Scalar, Avx2, Avx512 };

Loops loopsFor(CpuLevel level) {
#if defined(TOLVANE_X86_KERNELS)
    if (level == CpuLevel::Avx512) {
        return Loops::Avx512;
    }
    if (level >= CpuLevel::Avx2) {
        return Loops::Avx2;
    }
#endif
    (void)level;
    return Loops::Scalar;
}

// Copies the row into `depths` and marks the points one eye cannot see. A
// point of depth c (capped at 31) is hidden when some c(x +- t) - 2t is at
// least c for t from 1 to 15: the cap keeps every term the rule counts
// (c + 2t <= 31) and lets no other reach c. Columns past the row are marked
// too; nothing reads them.
//
// The nearest sight line over each column is found by doubling rather than
// by trying all 30 neighbours: after pass k, `span` holds at x the most of
// c(x + t) - 2|t| over |t| < 2^k (the column itself included), from the
// pass before at x and at x +- 2^(k-1), less 2^k. Four passes reach 15; the
// point's neighbours at x +- 1, less 2, then reach 16, one more than the rule
// but never hiding anything (31 - 32 is below every depth). Each pass works
// out all of `span` that its reads stay inside, padding included; the
// columns it leaves out at the ends are ones no later pass needs. Its last
// block is moved back to end there, repeating a few columns.
[[gnu::always_inline]] inline void markHiddenBody(const std::uint8_t* row, std::size_t width, std::uint8_t cap,
                                                  std::uint8_t* depths, std::uint8_t* sight, std::uint8_t* span,
                                                  std::uint8_t* spanNext, std::uint8_t* hidden) {
    std::memcpy(depths + kReach, row, width);
    const std::size_t blocks = (width + kBlock - 1) / kBlock;
    for (std::size_t b = 0; b < blocks; ++b) {
        Bytes64 depth;
        std::memcpy(&depth, depths + kReach + b * kBlock, sizeof depth);
        depth = depth < cap ? depth : cap;
        depth += kSightBias;
        std::memcpy(sight + kReach + b * kBlock, &depth, sizeof depth);
    }
    // Past the row: far padding again, whatever an earlier, wider row left.
    std::memset(sight + kReach + width, kSightPad, blocks * kBlock - width);
    const std::size_t size = blocks * kBlock + 2 * kReach;
    const std::uint8_t* from = sight;
    std::uint8_t* to = span;
    for (std::size_t step = 1; step <= 8; step *= 2) {
        const std::size_t last = size - step - kBlock;
        for (std::size_t i = step;; i += kBlock) {
            i = std::min(i, last);
            Bytes64 before;
            Bytes64 own;
            Bytes64 after;
            std::memcpy(&before, from + i - step, sizeof before);
            std::memcpy(&own, from + i, sizeof own);
            std::memcpy(&after, from + i + step, sizeof after);
            Bytes64 seen = before > after ? before : after;
            seen -= static_cast<std::uint8_t>(2 * step);
            own = own > seen ? own : seen;
            std::memcpy(to + i, &own, sizeof own);
            if (i == last) {
                break;
            }
        }
        from = to;
        to = to == span ? spanNext : span;
    }
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t i = kReach + b * kBlock;
        Bytes64 own;
        Bytes64 before;
        Bytes64 after;
        std::memcpy(&own, sight + i, sizeof own);
        std::memcpy(&before, from + i - 1, sizeof before);
        std::memcpy(&after, from + i + 1, sizeof after);
        Bytes64 cover = before > after ? before : after;
        cover -= std::uint8_t{2};
        const auto covered = cover >= own;
        std::memcpy(hidden + i, &covered, sizeof covered);
    }
}

void markHiddenScalar(const std::uint8_t* row, std::size_t width, std::uint8_t cap, std::uint8_t* depths,
                      std::uint8_t* sight, std::uint8_t* span, std::uint8_t* spanNext, std::uint8_t* hidden) {
    markHiddenBody(row, width, cap, depths, sight, span, spanNext, hidden);
}

#if defined(TOLVANE_X86_KERNELS)
TOLVANE_TARGET_AVX2 void markHiddenAvx2(const std::uint8_t* row, std::size_t width, std::uint8_t cap,
                                        std::uint8_t* depths, std::uint8_t* sight, std::uint8_t* span,
                                        std::uint8_t* spanNext, std::uint8_t* hidden) {
    markHiddenBody(row, width, cap, depths, sight, span, spanNext, hidden);
}

TOLVANE_TARGET_AVX512 void markHiddenAvx512(const std::uint8_t* row, std::size_t width, std::uint8_t cap,
                                            std::uint8_t* depths, std::uint8_t* sight, std::uint8_t* span,
                                            std::uint8_t* spanNext, std::uint8_t* hidden) {
    markHiddenBody(row, width, cap, depths, sight, span, spanNext, hidden);
}
#endif

void markHidden(Loops loops, const std::uint8_t* row, std::size_t width, std::uint8_t cap, std::uint8_t* depths,
                std::uint8_t* sight, std::uint8_t* span, std::uint8_t* spanNext, std::uint8_t* hidden) {
#if defined(TOLVANE_X86_KERNELS)
    if (loops == Loops::Avx512) {
        return markHiddenAvx512(row, width, cap, depths, sight, span, spanNext, hidden);
    }
    if (loops == Loops::Avx2) {
        return markHiddenAvx2(row, width, cap, depths, sight, span, spanNext, hidden);
    }
#endif
    (void)loops;
    markHiddenScalar(row, width, cap, depths, sight, span, spanNext, hidden);
}

// Turns each point into the pair of pixels it requires equal, ready for
// linkRow: (left image, right image) for a visible point with both in the
// row; a spare and W, which link nothing, for any other. A point that shares
// its left image with the point before requires its right image to equal
// the one before instead: its left image already does, and linkRow then
// never reads back the link it has just stored. Unsigned arithmetic: a left
// image before the row wraps past its column. Returns how many pairs it
// wrote: one a point here, while the AVX-512 loop keeps only the pairs that
// link something.
std::uint32_t pairPointsScalar(const std::uint8_t* depths, const std::uint8_t* hidden, std::uint32_t width,
                      std::uint32_t period, std::uint32_t* pairFrom, std::uint32_t* pairTo) {
    bool beforeSkipped = true;
    std::uint32_t beforeLeft = 0;
    std::uint32_t beforeRight = 0;
    for (std::uint32_t x = 0; x < width; ++x) {
        const std::uint32_t separation = period - std::min<std::uint32_t>(depths[kReach + x], period - 1);
        const std::uint32_t left = x - separation / 2;
        const std::uint32_t right = left + separation;
        const bool skip = hidden[kReach + x] != 0 || left > x || right >= width;
        const bool again = !beforeSkipped && left == beforeLeft;
        pairFrom[x] = skip ? width + x % kSpares : (again ? beforeRight : left);
        pairTo[x] = skip ? width : right;
        beforeSkipped = skip;
        beforeLeft = left;
        beforeRight = right;
    }
    return width;
}

#if defined(TOLVANE_X86_KERNELS)

// The pairing and the put-off walks keep one copy per instruction set. As
// one body each in GCC's vector extension, compiled per level as markHidden
// is, the pairing made the whole transform a quarter slower at AVX2 and
// three times slower at AVX-512 (this compiler widens the depth bytes to
// 32-bit lanes one lane at a time), and the walks a sixth slower at both;
// nor can that extension say the AVX-512 loops' compressing stores.

struct ImagesAvx2 {
    __m256i left, right, skip;
};

// The images of the 8 points from column x0 on, whose depths and marks are
// at `depths` and `hidden` (x0 may be one before the row, which both are
// padded for; it then wraps, and its mark says hidden).
TOLVANE_TARGET_AVX2 inline ImagesAvx2 imagesAvx2(const std::uint8_t* depths, const std::uint8_t* hidden,
                                                 std::uint32_t x0, __m256i nearest, __m256i p,
                                                 __m256i w) {
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i depth = _mm256_min_epu32(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(depths))), nearest);
    const __m256i mark = _mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(hidden)));
    const __m256i column = _mm256_add_epi32(lanes, _mm256_set1_epi32(static_cast<std::int32_t>(x0)));
    const __m256i separation = _mm256_sub_epi32(p, depth);
    ImagesAvx2 images;
    images.left = _mm256_sub_epi32(column, _mm256_srli_epi32(separation, 1));
    images.right = _mm256_add_epi32(images.left, separation);
    // left > column (wrapped) and right >= W, unsigned.
    const __m256i wrapped = _mm256_xor_si256(_mm256_cmpeq_epi32(_mm256_min_epu32(images.left, column), images.left),
                                             _mm256_set1_epi32(-1));
    const __m256i outside = _mm256_cmpeq_epi32(_mm256_max_epu32(images.right, w), images.right);
    images.skip = _mm256_or_si256(mark, _mm256_or_si256(wrapped, outside));
    return images;
}

// The same as pairPointsScalar, 8 points at a time; the points before are
// worked out again from one column earlier (the padding before the row
// counts as hidden).
TOLVANE_TARGET_AVX2 std::uint32_t pairPointsAvx2(const std::uint8_t* depths, const std::uint8_t* hidden,
                                                 std::uint32_t width, std::uint32_t period,
                                                 std::uint32_t* pairFrom, std::uint32_t* pairTo) {
    const __m256i nearest = _mm256_set1_epi32(static_cast<std::int32_t>(period - 1));
    const __m256i p = _mm256_set1_epi32(static_cast<std::int32_t>(period));
    const __m256i w = _mm256_set1_epi32(static_cast<std::int32_t>(width));
    const __m256i spares = _mm256_add_epi32(w, _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    for (std::uint32_t x0 = 0; x0 < width; x0 += kLanes) {
        const std::uint8_t* depthsAt = depths + kReach + x0;
        const std::uint8_t* hiddenAt = hidden + kReach + x0;
        const ImagesAvx2 own = imagesAvx2(depthsAt, hiddenAt, x0, nearest, p, w);
        const ImagesAvx2 before = imagesAvx2(depthsAt - 1, hiddenAt - 1, x0 - 1, nearest, p, w);
        const __m256i again = _mm256_andnot_si256(before.skip, _mm256_cmpeq_epi32(own.left, before.left));
        const __m256i from = _mm256_blendv_epi8(_mm256_blendv_epi8(own.left, before.right, again), spares, own.skip);
        const __m256i to = _mm256_blendv_epi8(own.right, w, own.skip);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pairFrom + x0), from);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pairTo + x0), to);
    }
    return width;
}

// The same, 16 points at a time; the points before are the same images moved
// up one lane, the first taken from the block before (the column before the
// row counts as hidden). This compiler's headers build some of these
// intrinsics on a register they leave undefined on purpose, which its
// uninitialised-use warning then flags inside them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
TOLVANE_TARGET_AVX512 std::uint32_t pairPointsAvx512(const std::uint8_t* depths,
                                                     const std::uint8_t* hidden,
                                                     std::uint32_t width, std::uint32_t period,
                                                     std::uint32_t* pairFrom,
                                                     std::uint32_t* pairTo) {
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    // The cap taken on the bytes: P - 1, or 255, which caps nothing.
    const __m128i nearest = _mm_set1_epi8(static_cast<char>(std::min<std::uint32_t>(period - 1, 255)));
    const __m512i p = _mm512_set1_epi32(static_cast<std::int32_t>(period));
    const __m512i w = _mm512_set1_epi32(static_cast<std::int32_t>(width));
    __m512i lastLeft = _mm512_setzero_si512();
    __m512i lastRight = _mm512_setzero_si512();
    std::uint32_t lastSkip = 1;
    std::uint32_t pairs = 0;
    for (std::uint32_t x0 = 0; x0 < width; x0 += 16) {
        const __m128i depthBytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(depths + kReach + x0));
        const __m512i depth = _mm512_cvtepu8_epi32(_mm_min_epu8(depthBytes, nearest));
        const __mmask16 mark =
            _mm_movepi8_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(hidden + kReach + x0)));
        const __m512i column = _mm512_add_epi32(lanes, _mm512_set1_epi32(static_cast<std::int32_t>(x0)));
        const __m512i separation = _mm512_sub_epi32(p, depth);
        const __m512i left = _mm512_sub_epi32(column, _mm512_srli_epi32(separation, 1));
        const __m512i right = _mm512_add_epi32(left, separation);
        // A left image before the row wraps past its column.
        const std::uint32_t skip = static_cast<std::uint32_t>(mark) | _mm512_cmpgt_epu32_mask(left, column) |
                                   _mm512_cmpge_epu32_mask(right, w);
        const __m512i leftBefore = _mm512_alignr_epi32(left, lastLeft, 15);
        const __m512i rightBefore = _mm512_alignr_epi32(right, lastRight, 15);
        const auto seenBefore = static_cast<__mmask16>(~((skip << 1) | lastSkip));
        const __mmask16 again = _mm512_mask_cmpeq_epi32_mask(seenBefore, left, leftBefore);
        const __m512i from = _mm512_mask_blend_epi32(again, left, rightBefore);
        // Only the pairs that link something are kept, packed.
        const auto kept = static_cast<__mmask16>(~skip);
        _mm512_storeu_si512(pairFrom + pairs, _mm512_maskz_compress_epi32(kept, from));
        _mm512_storeu_si512(pairTo + pairs, _mm512_maskz_compress_epi32(kept, right));
        pairs += static_cast<std::uint32_t>(__builtin_popcount(kept));
        lastLeft = left;
        lastRight = right;
        lastSkip = (skip >> 15) & 1;
    }
    return pairs;
}
#pragma GCC diagnostic pop

#endif

std::uint32_t pairPoints(Loops loops, const std::uint8_t* depths, const std::uint8_t* hidden, std::uint32_t width,
                std::uint32_t period, std::uint32_t* pairFrom, std::uint32_t* pairTo) {
#if defined(TOLVANE_X86_KERNELS)
    if (loops == Loops::Avx512) {
        return pairPointsAvx512(depths, hidden, width, period, pairFrom, pairTo);
    }
    if (loops == Loops::Avx2) {
        return pairPointsAvx2(depths, hidden, width, period, pairFrom, pairTo);
    }
#endif
    (void)loops;
    return pairPointsScalar(depths, hidden, width, period, pairFrom, pairTo);
}

// Requires pixel `left` to equal pixel `right` (left < right) on top of the
// links already made. Each pixel keeps at most one link, to the nearest
// pixel on its right it must equal, so the walk moves right along the chain
// from `left`: past a link short of `right` it continues from there; at a
// link beyond `right` it puts `right` in between and goes on to join `right`
// with the pixel that link reached. It ends at an unlinked pixel, which takes
// the link, or at `right` itself, already joined.
inline void join(std::uint32_t* links, std::uint32_t width, std::uint32_t left, std::uint32_t right) {
    for (std::uint32_t k = links[left]; k < width && k != right; k = links[left]) {
        if (k < right) {
            left = k;
        } else {
            links[left] = right;
            left = right;
            right = k;
        }
    }
    links[left] = right;
}

// join, its first step made without a branch (the nearer of the old link and
// `right` becomes the link): most walks end there, so the branch past it is
// seldom taken and seldom mispredicted.
inline void walk(std::uint32_t* links, std::uint32_t width, std::uint32_t left, std::uint32_t right) {
    const std::uint32_t k = links[left];
    links[left] = std::min(k, right);
    if (k < width && k != right) [[unlikely]] {
        join(links, width, std::min(k, right), std::max(k, right));
    }
}

// The walks linkRow put off: those of the points whose old link, kept in
// `before`, was another pixel of the row and not the pair's right pixel.
// They are found a block at a time without a branch, so that only the loop
// over the few found mispredicts, once a block.
void finishWalksScalar(const std::uint32_t* before, const std::uint32_t* pairTo, std::uint32_t pairs,
                       std::uint32_t width, std::uint32_t* links) {
    for (std::uint32_t x0 = 0; x0 < pairs; x0 += 64) {
        const std::uint32_t n = std::min<std::uint32_t>(64, pairs - x0);
        std::uint64_t owed = 0;
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint32_t k = before[x0 + i];
            owed |= static_cast<std::uint64_t>(k < width && k != pairTo[x0 + i]) << i;
        }
        for (; owed != 0; owed &= owed - 1) {
            const std::uint32_t x = x0 + static_cast<std::uint32_t>(__builtin_ctzll(owed));
            walk(links, width, std::min(before[x], pairTo[x]), std::max(before[x], pairTo[x]));
        }
    }
}

#if defined(TOLVANE_X86_KERNELS)

// The same, 8 points a time: `before` and `pairTo` are padded to whole
// blocks of 8, and the lanes past the row are dropped from the mask.
TOLVANE_TARGET_AVX2 void finishWalksAvx2(const std::uint32_t* before, const std::uint32_t* pairTo,
                                         std::uint32_t pairs, std::uint32_t width,
                                         std::uint32_t* links) {
    const __m256i w = _mm256_set1_epi32(static_cast<std::int32_t>(width));
    const __m256i all = _mm256_set1_epi32(-1);
    for (std::uint32_t x0 = 0; x0 < pairs; x0 += 32) {
        std::uint32_t owed = 0;
        for (std::uint32_t j = 0; j < 32 && x0 + j < pairs; j += kLanes) {
            const __m256i k = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(before + x0 + j));
            const __m256i to = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pairTo + x0 + j));
            // k < W, unsigned, and k != to.
            const __m256i beyond = _mm256_cmpeq_epi32(_mm256_max_epu32(k, w), k);
            const __m256i same = _mm256_cmpeq_epi32(k, to);
            const __m256i walk = _mm256_xor_si256(_mm256_or_si256(beyond, same), all);
            owed |= static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(walk))) << j;
        }
        if (pairs - x0 < 32) {
            owed &= (std::uint32_t{1} << (pairs - x0)) - 1;
        }
        for (; owed != 0; owed &= owed - 1) {
            const std::uint32_t x = x0 + static_cast<std::uint32_t>(__builtin_ctz(owed));
            walk(links, width, std::min(before[x], pairTo[x]), std::max(before[x], pairTo[x]));
        }
    }
}

// The same, 16 points at a time, in two passes: the first lists the walks'
// two ends, with no branch, so that the second mispredicts only at the end of
// the list and on the few walks that go on past one step. (The warning is the
// one pairPointsAvx512 explains.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
TOLVANE_TARGET_AVX512 void finishWalksAvx512(const std::uint32_t* before, const std::uint32_t* pairTo,
                                             std::uint32_t pairs, std::uint32_t width,
                                             std::uint32_t* links,
                                             std::uint32_t* walkLeft, std::uint32_t* walkRight) {
    const __m512i w = _mm512_set1_epi32(static_cast<std::int32_t>(width));
    std::uint32_t count = 0;
    for (std::uint32_t x0 = 0; x0 < pairs; x0 += 16) {
        const __m512i k = _mm512_loadu_si512(before + x0);
        const __m512i to = _mm512_loadu_si512(pairTo + x0);
        const auto inRow = static_cast<__mmask16>(pairs - x0 < 16 ? (1u << (pairs - x0)) - 1 : 0xFFFFu);
        const __mmask16 owed = _mm512_mask_cmpneq_epi32_mask(_mm512_mask_cmplt_epu32_mask(inRow, k, w), k, to);
        _mm512_storeu_si512(walkLeft + count, _mm512_maskz_compress_epi32(owed, _mm512_min_epu32(k, to)));
        _mm512_storeu_si512(walkRight + count, _mm512_maskz_compress_epi32(owed, _mm512_max_epu32(k, to)));
        count += static_cast<std::uint32_t>(__builtin_popcount(owed));
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        walk(links, width, walkLeft[i], walkRight[i]);
    }
}
#pragma GCC diagnostic pop

#endif

void finishWalks([[maybe_unused]] RowScratch& scratch, Loops loops, const std::uint32_t* before, const std::uint32_t* pairTo,
                 std::uint32_t pairs, std::uint32_t width, std::uint32_t* links) {
#if defined(TOLVANE_X86_KERNELS)
    if (loops == Loops::Avx512) {
        finishWalksAvx512(before, pairTo, pairs, width, links, scratch.walkLeft.data(), scratch.walkRight.data());
        return;
    }
    if (loops == Loops::Avx2) {
        finishWalksAvx2(before, pairTo, pairs, width, links);
        return;
    }
#endif
    (void)loops;
    finishWalksScalar(before, pairTo, pairs, width, links);
}

// Two neighbouring words read as one.
struct Two {
    std::uint32_t first, second;
};

inline Two readTwo(const std::uint32_t* at) {
    std::uint64_t both;
    std::memcpy(&both, at, sizeof both);
    const auto low = static_cast<std::uint32_t>(both);
    const auto high = static_cast<std::uint32_t>(both >> 32);
    return std::endian::native == std::endian::little ? Two{low, high} : Two{high, low};
}

// Links every pair in turn, in two passes. The first makes each pair's first
// step of join without a branch: the nearer of the old link and the pair's
// right pixel becomes the link, and the old link is kept in place of the
// pair's left pixel. Only where the old link was another pixel of the row
// (about one point in ten on a noisy frame, and which ones is as random as
// the noise) must the walk go on. Branching on that at every point costs a
// misprediction each time; the second pass instead finds those points a
// block at a time and finishes just their walks. Later pairs may change the
// links a put-off walk will pass, but that does not matter: whatever a step
// unlinks, the walk it puts off joins again, so once every walk is done the
// row ends in the same sets as joining each pair in full would, and each
// pixel still reaches the rightmost pixel of its set. Spares hold W, so
// their pairs (spare, W) leave them as they are and owe nothing.
void linkRow(RowScratch& scratch, Loops loops, std::uint32_t* pairFrom, const std::uint32_t* pairTo, std::uint32_t pairs,
             std::uint32_t width, std::uint32_t* links) {
#pragma GCC unroll 4
    for (std::uint32_t i = 0; i < pairs; ++i) {
        const std::uint32_t from = pairFrom[i];
        const std::uint32_t k = links[from];
        links[from] = std::min(k, pairTo[i]);
        pairFrom[i] = k;
    }
    finishWalks(scratch, loops, pairFrom, pairTo, pairs, width, links);
}

void transformRow(RowScratch& scratch, Loops loops, std::uint8_t* row, std::int32_t width,
                  const std::uint8_t* patternRow, std::int32_t period) {
    std::uint32_t* links = scratch.links.data();
    std::uint8_t* bytes = scratch.bytes.data();
    const auto w = static_cast<std::size_t>(width);
    const auto uw = static_cast<std::uint32_t>(width);
    std::memcpy(links, scratch.unlinked.data(), w * sizeof(std::uint32_t));
    markHidden(loops, row, w, scratch.cap, scratch.depths.data(), scratch.sight.data(), scratch.span.data(),
               scratch.spanNext.data(), scratch.hidden.data());
    const std::uint32_t pairs = pairPoints(loops, scratch.depths.data(), scratch.hidden.data(), uw, static_cast<std::uint32_t>(period),
               scratch.pairFrom.data(), scratch.pairTo.data());
    linkRow(scratch, loops, scratch.pairFrom.data(), scratch.pairTo.data(), pairs, uw, links);
    std::memcpy(bytes + w, patternRow, static_cast<std::size_t>(period));
    // Every link points right, so its byte is already final. The loop is
    // bound by its loads and stores, so it reads two links at once.
    std::size_t x = w;
    if (x % 2 != 0) {
        --x;
        bytes[x] = bytes[links[x]];
    }
#pragma GCC unroll 4
    for (; x != 0; x -= 2) {
        const Two two = readTwo(links + x - 2);
        bytes[x - 1] = bytes[two.second];
        bytes[x - 2] = bytes[two.first];
    }
    std::memcpy(row, bytes, w);
}

}  // namespace

struct EchoFreeScratch::Rows : RowScratch {};

EchoFreeScratch::EchoFreeScratch() = default;
EchoFreeScratch::~EchoFreeScratch() = default;
EchoFreeScratch::EchoFreeScratch(EchoFreeScratch&&) noexcept = default;
EchoFreeScratch& EchoFreeScratch::operator=(EchoFreeScratch&&) noexcept = default;

bool transformStereogramEchoFree(DepthMap& map, const DepthMap& pattern) {
    EchoFreeScratch scratch;
    return transformStereogramEchoFree(map, pattern, scratch);
}

bool transformStereogramEchoFree(DepthMap& map, const DepthMap& pattern, EchoFreeScratch& owned) {
    const std::int32_t p = pattern.area.w;
    const std::int32_t q = pattern.area.h;
    if (p < 1 || q < 1 || pattern.pixels == nullptr || p > map.area.w) {
        return false;
    }
    if (map.area.h == 0) {
        return true;
    }
    if (map.area.h < 0 || map.pixels == nullptr) {
        return false;
    }
    if (!owned.rows) {
        try {
            owned.rows = std::make_unique<EchoFreeScratch::Rows>();
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    RowScratch& scratch = *owned.rows;
    if (!prepareScratch(scratch, map.area.w, p)) {
        return false;
    }
    const std::int32_t width = map.area.w;
    const Loops loops = loopsFor(detectedCpuLevel());
    std::int32_t patternY = 0;
    for (std::int32_t y = 0; y < map.area.h; ++y) {
        transformRow(scratch, loops, map.pixels + static_cast<std::ptrdiff_t>(y) * width, width,
                     pattern.pixels + static_cast<std::ptrdiff_t>(patternY) * p, p);
        if (++patternY == q) {
            patternY = 0;
        }
    }
    return true;
}

}  // namespace tolvane
