#include "depth/depth_map.hpp"

#include <cstddef>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#define TOLVANE_X86_BLITS 1
#include <immintrin.h>
#endif

std::int32_t rowPhase = 0;

namespace {

constexpr std::int32_t kBandRows = 15;
constexpr std::uint8_t kNearest = 31;

// One axis of the visible part of a blit, worked out in 64 bits so that no
// destination or size a caller passes can overflow.
struct Span {
    std::int64_t pos = 0;   // first target column or row written
    std::int64_t size = 0;  // columns or rows written
    std::int64_t skip = 0;  // leading source columns or rows that fall off the target
};

// The target-side rule: a span that only touches the left or top edge is
// accepted with nothing to draw, and one that reaches the right or bottom
// edge stops one short of it, so the last column and row are never drawn.
bool clipSpan(std::int64_t pos, std::int64_t size, std::int64_t limit, Span& out) {
    if (pos + size < 0 || pos >= limit) {
        return false;
    }
    out.pos = pos;
    out.size = size;
    out.skip = 0;
    if (pos < 0) {
        out.size = pos + size;
        out.pos = 0;
        out.skip = -pos;
    }
    if (out.pos + out.size >= limit) {
        out.size = limit - out.pos - 1;
    }
    // Only an empty target or a negative source size gets here below zero.
    if (out.size < 0) {
        out.size = 0;
    }
    return true;
}

// Keeps a source span inside its map, moving the destination along with any
// part cut from the front. A span that already lies inside is left as it is.
void trimToSource(std::int64_t& pos, std::int64_t& size, std::int64_t& dest, std::int64_t limit) {
    if (pos < 0) {
        dest -= pos;
        size += pos;
        pos = 0;
    }
    if (limit < 0) {
        limit = 0;
    }
    if (pos + size > limit) {
        size = limit - pos;
    }
}

// Everything a blit needs to walk its rows: worked out once per blit.
struct BlitPlan {
    const std::uint8_t* source = nullptr;  // first source byte read
    std::uint8_t* target = nullptr;        // first target byte written
    std::int64_t sourceStride = 0;
    std::int64_t targetStride = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t firstRow = 0;  // target row of the first row written
};

bool planBlit(const DepthMap& source, const Rect& sourceRect, const DepthMap& target, std::int32_t x, std::int32_t y,
              BlitPlan& plan) {
    if (source.pixels == nullptr || target.pixels == nullptr) {
        return false;
    }
    std::int64_t sx = sourceRect.x;
    std::int64_t sy = sourceRect.y;
    std::int64_t sw = sourceRect.w;
    std::int64_t sh = sourceRect.h;
    std::int64_t dx = x;
    std::int64_t dy = y;
    trimToSource(sx, sw, dx, source.area.w);
    trimToSource(sy, sh, dy, source.area.h);
    Span columns;
    Span rows;
    if (!clipSpan(dx, sw, target.area.w, columns) || !clipSpan(dy, sh, target.area.h, rows)) {
        return false;
    }
    if (columns.size <= 0 || rows.size <= 0) {
        return false;
    }
    plan.sourceStride = source.area.w;
    plan.targetStride = target.area.w;
    plan.source = source.pixels + (sy + rows.skip) * plan.sourceStride + (sx + columns.skip);
    plan.target = target.pixels + rows.pos * plan.targetStride + columns.pos;
    plan.width = static_cast<std::int32_t>(columns.size);
    plan.height = static_cast<std::int32_t>(rows.size);
    plan.firstRow = static_cast<std::int32_t>(rows.pos);
    return true;
}

// The slope level of a target row: bands of 15 rows, shifted by rowPhase so
// that they stay on the same world rows while the camera moves.
std::uint8_t bandOfRow(std::int32_t row) {
    return static_cast<std::uint8_t>((static_cast<std::int64_t>(row) + rowPhase) / kBandRows);
}

// A scene pixel is its stored value plus the band of its screen row, held
// to 0..31. The stored value had the slope of its image row taken off at
// load, wrapping below 0, so the 8-bit sum is read as signed: it passes 31
// when an image is drawn low on the screen, and falls below 0 when the
// camera lifts a scene by less than a band. A sum below 0 is far, so it
// shows as 0, never wrapped round to the nearest depth.
//
// The vector forms compute min(max(sum, 0), 31) on the signed sum with
// unsigned byte operations: adding `band + 128` instead of `band` maps the
// signed sum -128..127 onto 0..255, and subtracting 128 with saturation
// then floors it at 0.
std::uint8_t sceneValue(std::uint8_t source, std::uint8_t band) {
    const auto sum = static_cast<std::uint8_t>(source + band);
    if (sum <= kNearest) {
        return sum;
    }
    return sum < 128 ? kNearest : 0;
}

std::uint8_t biased(std::uint8_t band) { return static_cast<std::uint8_t>(band + 128); }

// A sprite's depth offset, the band under its feet minus 2: -2 to 29.
// Its pixels show as value + offset held to 0..31, a true sum that neither
// wraps past 255 nor below 0; with saturating byte arithmetic that is one
// operation, an addition for the usual offset and a subtraction for the
// negative one of the top two bands.
struct SpriteOffset {
    std::uint8_t raise = 0;
    std::uint8_t lower = 0;
};

SpriteOffset spriteOffset(std::uint8_t feetBand) {
    const std::int32_t offset = std::int32_t{feetBand} - 2;
    return offset < 0 ? SpriteOffset{0, static_cast<std::uint8_t>(-offset)}
                      : SpriteOffset{static_cast<std::uint8_t>(offset), 0};
}

std::uint8_t spriteValue(std::uint8_t source, SpriteOffset offset, std::uint8_t current) {
    if (source == 0) {
        return current;
    }
    std::int32_t v = std::int32_t{source} + offset.raise - offset.lower;
    v = v < 0 ? 0 : (v > kNearest ? kNearest : v);
    return static_cast<std::uint8_t>(v) > current ? static_cast<std::uint8_t>(v) : current;
}

// One row each, 16 bytes at a time, the last few bytes one by one. Always
// inlined, so that where the AVX paths call them for their row ends they are
// compiled as AVX code too rather than as SSE code mixed into AVX code.
[[gnu::always_inline]] inline void sceneRow(std::uint8_t* target, const std::uint8_t* source, std::int32_t width,
                                            std::uint8_t band) {
    std::int32_t j = 0;
#if defined(__SSE2__)
    const __m128i add = _mm_set1_epi8(static_cast<char>(biased(band)));
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    const __m128i cap = _mm_set1_epi8(static_cast<char>(kNearest));
    for (; j + 16 <= width; j += 16) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + j));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + j), _mm_min_epu8(_mm_subs_epu8(_mm_add_epi8(s, add), bias), cap));
    }
#endif
    for (; j < width; ++j) {
        target[j] = sceneValue(source[j], band);
    }
}

[[gnu::always_inline]] inline void spriteRow(std::uint8_t* target, const std::uint8_t* source, std::int32_t width,
                                             SpriteOffset offset) {
    std::int32_t j = 0;
#if defined(__SSE2__)
    const __m128i raise = _mm_set1_epi8(static_cast<char>(offset.raise));
    const __m128i lower = _mm_set1_epi8(static_cast<char>(offset.lower));
    const __m128i cap = _mm_set1_epi8(static_cast<char>(kNearest));
    const __m128i zero = _mm_setzero_si128();
    for (; j + 16 <= width; j += 16) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + j));
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(target + j));
        // A transparent source pixel becomes 0, which never beats the target.
        const __m128i v = _mm_min_epu8(_mm_subs_epu8(_mm_adds_epu8(s, raise), lower), cap);
        const __m128i shown = _mm_andnot_si128(_mm_cmpeq_epi8(s, zero), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + j), _mm_max_epu8(shown, t));
    }
#endif
    for (; j < width; ++j) {
        target[j] = spriteValue(source[j], offset, target[j]);
    }
}

// The rows of a blit, one row function call each; the band is looked up once
// per row for the scene, once per blit for the sprite.
void sceneRows(const BlitPlan& shared) {
    const BlitPlan plan = shared;  // kept in registers: row stores may alias a reference
    const std::uint8_t* from = plan.source;
    std::uint8_t* to = plan.target;
    for (std::int32_t i = 0; i < plan.height; ++i, from += plan.sourceStride, to += plan.targetStride) {
        sceneRow(to, from, plan.width, bandOfRow(plan.firstRow + i));
    }
}

void spriteRows(const BlitPlan& shared, SpriteOffset offset) {
    const BlitPlan plan = shared;  // kept in registers: row stores may alias a reference
    const std::uint8_t* from = plan.source;
    std::uint8_t* to = plan.target;
    for (std::int32_t i = 0; i < plan.height; ++i, from += plan.sourceStride, to += plan.targetStride) {
        spriteRow(to, from, plan.width, offset);
    }
}

#if defined(TOLVANE_X86_BLITS)

// The same rows 32 bytes at a time where the processor has AVX2, the last
// few of each row by the 16-byte form.
__attribute__((target("avx2"))) void sceneRowsAvx2(const BlitPlan& shared) {
    const BlitPlan plan = shared;
    const __m256i cap = _mm256_set1_epi8(static_cast<char>(kNearest));
    const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80));
    const std::uint8_t* from = plan.source;
    std::uint8_t* to = plan.target;
    for (std::int32_t i = 0; i < plan.height; ++i, from += plan.sourceStride, to += plan.targetStride) {
        const std::uint8_t band = bandOfRow(plan.firstRow + i);
        const __m256i add = _mm256_set1_epi8(static_cast<char>(biased(band)));
        std::int32_t j = 0;
        for (; j + 32 <= plan.width; j += 32) {
            const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + j));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + j), _mm256_min_epu8(_mm256_subs_epu8(_mm256_add_epi8(s, add), bias), cap));
        }
        sceneRow(to + j, from + j, plan.width - j, band);
    }
    // Plain SSE code follows; leave the upper halves clean for it.
    _mm256_zeroupper();
}

// Only sprites in the top two bands are lowered: they take the 16-byte
// form rather than pay an extra operation everywhere else.
__attribute__((target("avx2"))) void spriteRowsAvx2(const BlitPlan& shared, SpriteOffset offset) {
    if (offset.lower != 0) {
        spriteRows(shared, offset);
        return;
    }
    const BlitPlan plan = shared;
    const __m256i raise = _mm256_set1_epi8(static_cast<char>(offset.raise));
    const __m256i cap = _mm256_set1_epi8(static_cast<char>(kNearest));
    const __m256i zero = _mm256_setzero_si256();
    const std::uint8_t* from = plan.source;
    std::uint8_t* to = plan.target;
    for (std::int32_t i = 0; i < plan.height; ++i, from += plan.sourceStride, to += plan.targetStride) {
        std::int32_t j = 0;
        for (; j + 32 <= plan.width; j += 32) {
            const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + j));
            const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(to + j));
            // A transparent source pixel becomes 0, which never beats the target.
            const __m256i v = _mm256_min_epu8(_mm256_adds_epu8(s, raise), cap);
            const __m256i shown = _mm256_andnot_si256(_mm256_cmpeq_epi8(s, zero), v);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + j), _mm256_max_epu8(shown, t));
        }
        spriteRow(to + j, from + j, plan.width - j, offset);
    }
    _mm256_zeroupper();
}

// 64 bytes at a time with AVX-512; the end of each row is one masked block,
// whose loads and stores leave the bytes past the row alone. Rows that end
// on a whole block skip it: even an empty masked store costs as much as the
// rest of a 64-pixel row.
__attribute__((target("avx512f,avx512bw"))) void sceneRowsAvx512(const BlitPlan& shared) {
    const BlitPlan plan = shared;
    const __m512i cap = _mm512_set1_epi8(static_cast<char>(kNearest));
    const __m512i bias = _mm512_set1_epi8(static_cast<char>(0x80));
    const std::int32_t whole = plan.width & ~63;
    const bool ragged = (plan.width & 63) != 0;
    const __mmask64 tail = _cvtu64_mask64(~std::uint64_t{0} >> (63 - (plan.width & 63)) >> 1);
    const std::uint8_t* from = plan.source;
    std::uint8_t* to = plan.target;
    for (std::int32_t i = 0; i < plan.height; ++i, from += plan.sourceStride, to += plan.targetStride) {
        const __m512i add = _mm512_set1_epi8(static_cast<char>(biased(bandOfRow(plan.firstRow + i))));
        std::int32_t j = 0;
        for (; j < whole; j += 64) {
            const __m512i s = _mm512_loadu_si512(from + j);
            _mm512_storeu_si512(to + j, _mm512_min_epu8(_mm512_subs_epu8(_mm512_add_epi8(s, add), bias), cap));
        }
        if (ragged) {
            const __m512i s = _mm512_maskz_loadu_epi8(tail, from + j);
            _mm512_mask_storeu_epi8(to + j, tail, _mm512_min_epu8(_mm512_subs_epu8(_mm512_add_epi8(s, add), bias), cap));
        }
    }
    _mm256_zeroupper();
}

__attribute__((target("avx512f,avx512bw"))) void spriteRowsAvx512(const BlitPlan& shared, SpriteOffset offset) {
    if (offset.lower != 0) {
        spriteRows(shared, offset);
        return;
    }
    const BlitPlan plan = shared;
    const __m512i raise = _mm512_set1_epi8(static_cast<char>(offset.raise));
    const __m512i cap = _mm512_set1_epi8(static_cast<char>(kNearest));
    const std::int32_t whole = plan.width & ~63;
    const bool ragged = (plan.width & 63) != 0;
    const __mmask64 tail = _cvtu64_mask64(~std::uint64_t{0} >> (63 - (plan.width & 63)) >> 1);
    const std::uint8_t* from = plan.source;
    std::uint8_t* to = plan.target;
    for (std::int32_t i = 0; i < plan.height; ++i, from += plan.sourceStride, to += plan.targetStride) {
        std::int32_t j = 0;
        for (; j < whole; j += 64) {
            const __m512i s = _mm512_loadu_si512(from + j);
            const __m512i t = _mm512_loadu_si512(to + j);
            // Transparent pixels become 0, which never beats the target.
            const __m512i shown = _mm512_maskz_min_epu8(_mm512_test_epi8_mask(s, s), _mm512_adds_epu8(s, raise), cap);
            _mm512_storeu_si512(to + j, _mm512_max_epu8(shown, t));
        }
        if (ragged) {
            const __m512i s = _mm512_maskz_loadu_epi8(tail, from + j);
            const __m512i t = _mm512_maskz_loadu_epi8(tail, to + j);
            const __m512i shown = _mm512_maskz_min_epu8(_mm512_test_epi8_mask(s, s), _mm512_adds_epu8(s, raise), cap);
            _mm512_mask_storeu_epi8(to + j, tail, _mm512_max_epu8(shown, t));
        }
    }
    _mm256_zeroupper();
}

#endif  // TOLVANE_X86_BLITS

struct BlitRows {
    void (*scene)(const BlitPlan&);
    void (*sprite)(const BlitPlan&, SpriteOffset);
};

bool blitPathSupported(BlitPath path) {
    switch (path) {
        case BlitPath::Best:
        case BlitPath::Baseline:
            return true;
#if defined(TOLVANE_X86_BLITS)
        case BlitPath::Avx2:
            return __builtin_cpu_supports("avx2");
        case BlitPath::Avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#else
        case BlitPath::Avx2:
        case BlitPath::Avx512:
            return false;
#endif
    }
    return false;
}

BlitRows rowsFor(BlitPath path) {
    if (path == BlitPath::Best) {
        path = blitPathSupported(BlitPath::Avx512) ? BlitPath::Avx512
               : blitPathSupported(BlitPath::Avx2) ? BlitPath::Avx2
                                                   : BlitPath::Baseline;
    }
    switch (path) {
#if defined(TOLVANE_X86_BLITS)
        case BlitPath::Avx512:
            return BlitRows{sceneRowsAvx512, spriteRowsAvx512};
        case BlitPath::Avx2:
            return BlitRows{sceneRowsAvx2, spriteRowsAvx2};
#endif
        default:
            return BlitRows{sceneRows, spriteRows};
    }
}

BlitRows& activeRows() {
    static BlitRows rows = rowsFor(BlitPath::Best);
    return rows;
}

}  // namespace

DepthMapPtr createDepthMap(std::int32_t width, std::int32_t height) {
    if (width < 0 || height < 0) {
        return nullptr;
    }
    const std::int64_t count = static_cast<std::int64_t>(width) * height;
    if (count > kMaxDepthMapPixels) {
        return nullptr;
    }
    try {
        auto map = std::make_unique<DepthMap>();
        // Value-initialised: a reader that stops early leaves 0, never heap garbage.
        map->storage = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(count));
        map->pixels = map->storage.get();
        map->area = Rect{0, 0, width, height};
        return map;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void freeDepthMap(DepthMapPtr map) { map.reset(); }

void fillDepthMap(DepthMap& map, std::uint8_t value) {
    const std::size_t count = pixelCount(map);
    if (count != 0) {
        std::memset(map.pixels, value, count);
    }
}

std::uint8_t* pixelAddress(const DepthMap& map, std::int32_t column, std::int32_t row) {
    return map.pixels + static_cast<std::ptrdiff_t>(row) * map.area.w + column;
}

bool clipRect(const Rect& target, const Rect& source, std::int32_t x, std::int32_t y, Rect& out) {
    Span columns;
    Span rows;
    if (!clipSpan(x, source.w, target.w, columns) || !clipSpan(y, source.h, target.h, rows)) {
        out = Rect{x, y, source.w, source.h};
        return false;
    }
    out = Rect{static_cast<std::int32_t>(columns.pos), static_cast<std::int32_t>(rows.pos),
               static_cast<std::int32_t>(columns.size), static_cast<std::int32_t>(rows.size)};
    return true;
}

void computeRowPhase(std::int32_t cameraY) {
    std::int32_t m = cameraY % kBandRows;
    if (m < 0) {
        m += kBandRows;
    }
    rowPhase = -m;
}

void blitScene(const DepthMap& source, const Rect& sourceRect, DepthMap& target, std::int32_t x, std::int32_t y) {
    BlitPlan plan;
    if (!planBlit(source, sourceRect, target, x, y, plan)) {
        return;
    }
    activeRows().scene(plan);
}

void blitSprite(const DepthMap& source, const Rect& sourceRect, DepthMap& target, std::int32_t x, std::int32_t y) {
    BlitPlan plan;
    if (!planBlit(source, sourceRect, target, x, y, plan)) {
        return;
    }
    // The whole sprite takes the band under its feet: the last row actually
    // drawn, so a sprite cut by the bottom edge stands on the visible row.
    activeRows().sprite(plan, spriteOffset(bandOfRow(plan.firstRow + plan.height - 1)));
}

bool selectBlitPath(BlitPath path) {
    if (!blitPathSupported(path)) {
        return false;
    }
    activeRows() = rowsFor(path);
    return true;
}

void removeDepthSlope(DepthMap& map) {
    if (pixelCount(map) == 0) {
        return;
    }
    const std::size_t width = static_cast<std::size_t>(map.area.w);
    std::uint8_t* row = map.pixels;
    for (std::int32_t r = 0; r < map.area.h; ++r, row += width) {
        // Wraps below 0 on purpose: blitScene adds the band back modulo 256.
        const auto level = static_cast<std::uint8_t>(r / kBandRows);
        for (std::size_t j = 0; j < width; ++j) {
            row[j] = static_cast<std::uint8_t>(row[j] - level);
        }
    }
}
