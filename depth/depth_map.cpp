#include "depth/depth_map.hpp"

#include <cstddef>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "depth/cpu_level.hpp"

#if defined(TOLVANE_X86_KERNELS)
#include <immintrin.h>
#endif

namespace tolvane {


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
    std::int32_t rowPhase = 0;  // shift of the depth bands (computeRowPhase)
    std::int64_t firstSourceRow = 0;  // source map row of the first row read
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
    plan.firstSourceRow = sy + rows.skip;
    return true;
}

// The slope level of a target row: bands of 15 rows, shifted by the row
// phase so that they stay on the same world rows while the camera moves.
std::uint8_t bandOfRow(std::int32_t row, std::int32_t rowPhase) {
    return static_cast<std::uint8_t>((static_cast<std::int64_t>(row) + rowPhase) / kBandRows);
}

// Byte operations on one register of each width the blits use, so that each
// blit's formula and row loop is written once, as a template over them.
// `Bytes` is a register of one byte: the form for any processor, and for the
// last few pixels of a row at the other widths. A register too wide to end a
// row on a whole block hands the rest to `Narrower`, unless it can load and
// store part of itself (`kPartial`).
//
// Every operation works in place on a register passed by reference: the AVX
// forms carry their target on each operation, while the templates built on
// them have none of their own and are inlined whole into a wrapper compiled
// for that target (`flatten`). A wide register passed or returned by value
// in code without that target would change the calling convention, which
// compilers warn about or refuse.
struct Bytes {
    using Reg = std::uint8_t;
    static constexpr std::int32_t kWidth = 1;
    static constexpr bool kPartial = false;
    static void load(Reg& r, const std::uint8_t* p) { r = *p; }
    static void store(std::uint8_t* p, const Reg& r) { *p = r; }
    static void splat(Reg& r, std::uint8_t v) { r = v; }
    static void add(Reg& r, const Reg& b) { r = static_cast<Reg>(r + b); }
    static void addSat(Reg& r, const Reg& b) { r = r > 255 - b ? Reg{255} : static_cast<Reg>(r + b); }
    static void subSat(Reg& r, const Reg& b) { r = r > b ? static_cast<Reg>(r - b) : Reg{0}; }
    static void min(Reg& r, const Reg& b) { r = r < b ? r : b; }
    static void max(Reg& r, const Reg& b) { r = r > b ? r : b; }
    // Keeps `r` where `mask` is not 0, else makes it 0.
    static void keepWhereSet(Reg& r, const Reg& mask) { r = mask != 0 ? r : Reg{0}; }
};

#if defined(TOLVANE_X86_KERNELS)

// SSE2, which every x86-64 processor has.
struct Sse2 {
    using Reg = __m128i;
    struct Half;
    using Narrower = Half;
    static constexpr std::int32_t kWidth = 16;
    static constexpr bool kPartial = false;
    static void load(Reg& r, const std::uint8_t* p) { r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(std::uint8_t* p, const Reg& r) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), r); }
    static void splat(Reg& r, std::uint8_t v) { r = _mm_set1_epi8(static_cast<char>(v)); }
    static void add(Reg& r, const Reg& b) { r = _mm_add_epi8(r, b); }
    static void addSat(Reg& r, const Reg& b) { r = _mm_adds_epu8(r, b); }
    static void subSat(Reg& r, const Reg& b) { r = _mm_subs_epu8(r, b); }
    static void min(Reg& r, const Reg& b) { r = _mm_min_epu8(r, b); }
    static void max(Reg& r, const Reg& b) { r = _mm_max_epu8(r, b); }
    static void keepWhereSet(Reg& r, const Reg& mask) {
        r = _mm_andnot_si128(_mm_cmpeq_epi8(mask, _mm_setzero_si128()), r);
    }
};

// The low 8 bytes of an SSE2 register: the last 8 to 15 pixels of a row
// would otherwise take the one-byte form for most of them.
struct Sse2::Half : Sse2 {
    using Narrower = Bytes;
    static constexpr std::int32_t kWidth = 8;
    static void load(Reg& r, const std::uint8_t* p) { r = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
    static void store(std::uint8_t* p, const Reg& r) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), r); }
};

#define TOLVANE_AVX2 TOLVANE_TARGET_AVX2
struct Avx2 {
    using Reg = __m256i;
    using Narrower = Sse2;
    static constexpr std::int32_t kWidth = 32;
    static constexpr bool kPartial = false;
    TOLVANE_AVX2 static void load(Reg& r, const std::uint8_t* p) {
        r = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    TOLVANE_AVX2 static void store(std::uint8_t* p, const Reg& r) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), r);
    }
    TOLVANE_AVX2 static void splat(Reg& r, std::uint8_t v) { r = _mm256_set1_epi8(static_cast<char>(v)); }
    TOLVANE_AVX2 static void add(Reg& r, const Reg& b) { r = _mm256_add_epi8(r, b); }
    TOLVANE_AVX2 static void addSat(Reg& r, const Reg& b) { r = _mm256_adds_epu8(r, b); }
    TOLVANE_AVX2 static void subSat(Reg& r, const Reg& b) { r = _mm256_subs_epu8(r, b); }
    TOLVANE_AVX2 static void min(Reg& r, const Reg& b) { r = _mm256_min_epu8(r, b); }
    TOLVANE_AVX2 static void max(Reg& r, const Reg& b) { r = _mm256_max_epu8(r, b); }
    TOLVANE_AVX2 static void keepWhereSet(Reg& r, const Reg& mask) {
        r = _mm256_andnot_si256(_mm256_cmpeq_epi8(mask, _mm256_setzero_si256()), r);
    }
};
#undef TOLVANE_AVX2

// AVX-512 ends a row with one masked block, whose loads and stores leave the
// bytes past the row alone.
#define TOLVANE_AVX512 TOLVANE_TARGET_AVX512
struct Avx512 {
    using Reg = __m512i;
    using Part = __mmask64;
    static constexpr std::int32_t kWidth = 64;
    static constexpr bool kPartial = true;
    TOLVANE_AVX512 static void load(Reg& r, const std::uint8_t* p) { r = _mm512_loadu_si512(p); }
    TOLVANE_AVX512 static void store(std::uint8_t* p, const Reg& r) { _mm512_storeu_si512(p, r); }
    // The first `count` bytes, 1 to 63.
    TOLVANE_AVX512 static Part part(std::int32_t count) {
        return _cvtu64_mask64(~std::uint64_t{0} >> (64 - static_cast<std::uint32_t>(count)));
    }
    TOLVANE_AVX512 static void loadPart(Reg& r, const std::uint8_t* p, Part part) {
        r = _mm512_maskz_loadu_epi8(part, p);
    }
    TOLVANE_AVX512 static void storePart(std::uint8_t* p, Part part, const Reg& r) {
        _mm512_mask_storeu_epi8(p, part, r);
    }
    TOLVANE_AVX512 static void splat(Reg& r, std::uint8_t v) { r = _mm512_set1_epi8(static_cast<char>(v)); }
    TOLVANE_AVX512 static void add(Reg& r, const Reg& b) { r = _mm512_add_epi8(r, b); }
    TOLVANE_AVX512 static void addSat(Reg& r, const Reg& b) { r = _mm512_adds_epu8(r, b); }
    TOLVANE_AVX512 static void subSat(Reg& r, const Reg& b) { r = _mm512_subs_epu8(r, b); }
    TOLVANE_AVX512 static void min(Reg& r, const Reg& b) { r = _mm512_min_epu8(r, b); }
    TOLVANE_AVX512 static void max(Reg& r, const Reg& b) { r = _mm512_max_epu8(r, b); }
    TOLVANE_AVX512 static void keepWhereSet(Reg& r, const Reg& mask) {
        r = _mm512_maskz_mov_epi8(_mm512_test_epi8_mask(mask, mask), r);
    }
};
#undef TOLVANE_AVX512

#endif  // TOLVANE_X86_KERNELS

// The constants of a blit's formulas, splat once per row.
template <class V>
struct Splats {
    typename V::Reg by;       // the scene's band + 128, or the sprite's offset
    typename V::Reg bias;     // 128
    typename V::Reg nearest;  // 31

    [[gnu::always_inline]] explicit Splats(std::uint8_t value) {
        V::splat(by, value);
        V::splat(bias, 0x80);
        V::splat(nearest, kNearest);
    }
};

// A scene pixel is its stored value plus the band of its screen row, held
// to 0..31. The stored value had the slope of its image row taken off at
// load, wrapping below 0, so the 8-bit sum is read as signed: it passes 31
// when an image is drawn low on the screen, and falls below 0 when the
// camera lifts a scene by less than a band. A sum below 0 is far, so it
// shows as 0, never wrapped round to the nearest depth.
//
// That is min(max(sum, 0), 31) on the signed sum, done with unsigned byte
// operations: adding `band + 128` instead of `band` maps the signed sum
// -128..127 onto 0..255, and subtracting 128 with saturation then floors it
// at 0. `pixels` holds the source and becomes the result.
template <class V>
[[gnu::always_inline]] inline void scenePixels(typename V::Reg& pixels, const Splats<V>& k) {
    V::add(pixels, k.by);
    V::subSat(pixels, k.bias);
    V::min(pixels, k.nearest);
}

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

// `kLowered` picks the subtraction at compile time, so that neither form
// pays for the other in its loop. `pixels` holds the source and becomes the
// result.
template <class V, bool kLowered>
[[gnu::always_inline]] inline void spritePixels(typename V::Reg& pixels, const typename V::Reg& target,
                                                const Splats<V>& k) {
    typename V::Reg moved = pixels;
    if constexpr (kLowered) {
        V::subSat(moved, k.by);
    } else {
        V::addSat(moved, k.by);
    }
    V::min(moved, k.nearest);
    // A transparent source pixel becomes 0, which never beats the target.
    V::keepWhereSet(moved, pixels);
    V::max(moved, target);
    pixels = moved;
}

// The two kinds of blit, as the row driver below applies them to one
// register of pixels: the scene replaces the target, a sprite is laid over
// it and so reads it first.
struct SceneKind {
    static constexpr bool kReadsTarget = false;
    template <class V>
    [[gnu::always_inline]] static void apply(typename V::Reg& pixels, const typename V::Reg&, const Splats<V>& k) {
        scenePixels<V>(pixels, k);
    }
};

template <bool kLowered>
struct SpriteKind {
    static constexpr bool kReadsTarget = true;
    template <class V>
    [[gnu::always_inline]] static void apply(typename V::Reg& pixels, const typename V::Reg& target,
                                             const Splats<V>& k) {
        spritePixels<V, kLowered>(pixels, target, k);
    }
};

// One row of a blit: whole registers, then the end of the row. A row that
// ends on a whole block skips the partial one: even an empty masked store
// costs as much as the rest of a 64-pixel row. `splat` is the value the
// kind's formula adds: the scene's band + 128, or the sprite's offset.
template <class V, class Kind>
[[gnu::always_inline]] inline void blitRow(std::uint8_t* to, const std::uint8_t* from, std::int32_t width,
                                           std::uint8_t splat) {
    const Splats<V> k(splat);
    typename V::Reg pixels;
    typename V::Reg target{};
    std::int32_t j = 0;
    for (; j + V::kWidth <= width; j += V::kWidth) {
        V::load(pixels, from + j);
        if constexpr (Kind::kReadsTarget) {
            V::load(target, to + j);
        }
        Kind::template apply<V>(pixels, target, k);
        V::store(to + j, pixels);
    }
    if (j == width) {
        return;
    }
    if constexpr (V::kPartial) {
        const auto part = V::part(width - j);
        V::loadPart(pixels, from + j, part);
        if constexpr (Kind::kReadsTarget) {
            V::loadPart(target, to + j, part);
        }
        Kind::template apply<V>(pixels, target, k);
        V::storePart(to + j, part, pixels);
    } else if constexpr (V::kWidth > 1) {
        blitRow<typename V::Narrower, Kind>(to + j, from + j, width - j, splat);
    }
}

// The signed 8-bit sum is the true one only while it stays in -128..127. A
// loaded scene pixel is 0..31 less the slope level of its image row, so the
// sum is that value plus `shift`, the band of the screen row less the level
// of the image row: true for every value while the shift lies in -128..96.
// A scene drawn far above or below its own rows leaves that range; there
// every pixel of the row is far (0) or near (31) whatever its value, and the
// row is filled so at every kernel level alike.
constexpr std::int64_t kSmallestTrueShift = -128;
constexpr std::int64_t kLargestTrueShift = 127 - kNearest;

// What a blit draws over its plan: the opaque scene, or a sprite moved by
// its offset.
struct BlitJob {
    bool sprite = false;
    SpriteOffset offset;
    bool flat = false;  // a scene drawn without the ground slope
};

// The rows of a blit, its kind fixed at compile time so that no row asks
// again; the band is looked up once per row for the scene, once per blit for
// the sprite.
template <class V, bool kSprite, bool kLowered>
[[gnu::always_inline]] inline void rowsOf(const BlitPlan& shared, SpriteOffset offset, bool flat) {
    const BlitPlan plan = shared;  // kept in registers: row stores may alias a reference
    const std::uint8_t* from = plan.source;
    std::uint8_t* to = plan.target;
    for (std::int32_t i = 0; i < plan.height; ++i, from += plan.sourceStride, to += plan.targetStride) {
        if constexpr (kSprite) {
            blitRow<V, SpriteKind<kLowered>>(to, from, plan.width, kLowered ? offset.lower : offset.raise);
        } else {
            if (flat) {
                blitRow<V, SceneKind>(to, from, plan.width, std::uint8_t{128});
                continue;
            }
            const std::uint8_t band = bandOfRow(plan.firstRow + i, plan.rowPhase);
            if (const std::int64_t shift = band - (plan.firstSourceRow + i) / kBandRows; shift > kLargestTrueShift) {
                std::memset(to, kNearest, static_cast<std::size_t>(plan.width));
            } else if (shift < kSmallestTrueShift) {
                std::memset(to, 0, static_cast<std::size_t>(plan.width));
            } else {
                blitRow<V, SceneKind>(to, from, plan.width, static_cast<std::uint8_t>(band + 128));
            }
        }
    }
}

template <class V>
[[gnu::always_inline]] inline void blitRows(const BlitPlan& plan, BlitJob job) {
    if (!job.sprite) {
        rowsOf<V, false, false>(plan, job.offset, job.flat);
    } else if (job.offset.lower != 0) {
        rowsOf<V, true, true>(plan, job.offset, false);
    } else {
        rowsOf<V, true, false>(plan, job.offset, false);
    }
}

// One wrapper per instruction set, each compiled for its own target.
void blitRowsScalar(const BlitPlan& plan, BlitJob job) { blitRows<Bytes>(plan, job); }

#if defined(TOLVANE_X86_KERNELS)
void blitRowsSse2(const BlitPlan& plan, BlitJob job) { blitRows<Sse2>(plan, job); }

TOLVANE_TARGET_AVX2 __attribute__((flatten)) void blitRowsAvx2(const BlitPlan& plan, BlitJob job) {
    blitRows<Avx2>(plan, job);
    // Plain SSE code follows; leave the upper halves clean for it.
    _mm256_zeroupper();
}

TOLVANE_TARGET_AVX512 __attribute__((flatten)) void blitRowsAvx512(const BlitPlan& plan, BlitJob job) {
    blitRows<Avx512>(plan, job);
    _mm256_zeroupper();
}
#endif

void drawBlit(const BlitPlan& plan, BlitJob job) {
    switch (detectedCpuLevel()) {
#if defined(TOLVANE_X86_KERNELS)
        case CpuLevel::Avx512:
            return blitRowsAvx512(plan, job);
        case CpuLevel::Avx2:
            return blitRowsAvx2(plan, job);
        case CpuLevel::Ssse3:
            return blitRowsSse2(plan, job);
#endif
        default:
            return blitRowsScalar(plan, job);
    }
}

}  // namespace

namespace {

// Maps of at least half a huge page (a 1920 x 1080 picture is just under
// one) get a mapping of their own in whole 2 MiB pages, marked for huge
// pages: the first write then takes one fault for 2 MiB instead of 512,
// which in a virtual machine is much of the cost of filling a fresh
// picture. Null where that cannot be had; the map then comes from calloc.
// Not under AddressSanitizer, which watches only what malloc hands out.
#if defined(__SANITIZE_ADDRESS__)
#define TOLVANE_HUGE_PAGE_MAPS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOLVANE_HUGE_PAGE_MAPS 0
#endif
#endif
#if !defined(TOLVANE_HUGE_PAGE_MAPS) && defined(__linux__) && defined(MADV_HUGEPAGE)
#define TOLVANE_HUGE_PAGE_MAPS 1
#elif !defined(TOLVANE_HUGE_PAGE_MAPS)
#define TOLVANE_HUGE_PAGE_MAPS 0
#endif

std::unique_ptr<std::uint8_t[], FreeDepthBytes> mapLargeBytes(std::size_t bytes) {
#if TOLVANE_HUGE_PAGE_MAPS
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (bytes < kHugePage / 2) return {};
    const std::size_t size = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    // One huge page more, so that an aligned start lies inside; the rest is
    // given back at once.
    void* raw = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return {};
    auto* const first = static_cast<std::uint8_t*>(raw);
    const std::size_t lead = (kHugePage - reinterpret_cast<std::uintptr_t>(first) % kHugePage) % kHugePage;
    if (lead != 0) ::munmap(first, lead);
    ::munmap(first + lead + size, kHugePage - lead);
    ::madvise(first + lead, size, MADV_HUGEPAGE);
    return std::unique_ptr<std::uint8_t[], FreeDepthBytes>(first + lead, FreeDepthBytes{size});
#else
    (void)bytes;
    return {};
#endif
}

}  // namespace

void FreeDepthBytes::operator()(std::uint8_t* bytes) const {
#if TOLVANE_HUGE_PAGE_MAPS
    if (mappedBytes != 0) {
        ::munmap(bytes, mappedBytes);
        return;
    }
#endif
    std::free(bytes);
}

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
        // Zeroed, so a reader that stops early leaves 0, never heap garbage.
        // calloc rather than a value-initialised array: a large block comes
        // zeroed from the system, so a huge map costs no pass of its own
        // before its pixels are written.
        if (auto mapped = mapLargeBytes(std::size_t(count))) {
            map->storage = std::move(mapped);
        } else {
            map->storage.reset(static_cast<std::uint8_t*>(std::calloc(count > 0 ? std::size_t(count) : 1, 1)));
        }
        if (!map->storage) {
            return nullptr;
        }
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

std::int32_t computeRowPhase(std::int32_t cameraY) {
    std::int32_t m = cameraY % kBandRows;
    if (m < 0) {
        m += kBandRows;
    }
    return -m;
}

void blitScene(const DepthMap& source, const Rect& sourceRect, DepthMap& target, std::int32_t x, std::int32_t y,
               std::int32_t rowPhase) {
    BlitPlan plan;
    if (!planBlit(source, sourceRect, target, x, y, plan)) {
        return;
    }
    plan.rowPhase = rowPhase;
    drawBlit(plan, BlitJob{false, SpriteOffset{}});
}

void blitSceneFlat(const DepthMap& source, const Rect& sourceRect, DepthMap& target, std::int32_t x,
                   std::int32_t y) {
    BlitPlan plan;
    if (!planBlit(source, sourceRect, target, x, y, plan)) {
        return;
    }
    drawBlit(plan, BlitJob{false, SpriteOffset{}, true});
}

void blitSprite(const DepthMap& source, const Rect& sourceRect, DepthMap& target, std::int32_t x, std::int32_t y,
                std::int32_t rowPhase) {
    BlitPlan plan;
    if (!planBlit(source, sourceRect, target, x, y, plan)) {
        return;
    }
    // The whole sprite takes the band under its feet: the last row actually
    // drawn, so a sprite cut by the bottom edge stands on the visible row.
    drawBlit(plan, BlitJob{true, spriteOffset(bandOfRow(plan.firstRow + plan.height - 1, rowPhase))});
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

}  // namespace tolvane
