#include "stereo/echo_free.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace {

// The nearest depth the sight lines reach: a depth hides a point only while
// the point's depth plus twice the distance stays at most this.
constexpr std::int32_t kNearestDepth = 31;

// Per-row working memory, kept from call to call.
//
// Links are column numbers: a pixel linked to one on its right holds that
// column (always greater than its own); an unlinked pixel x holds
// W + (x mod P), which is where the fill finds its pattern byte, since the
// row is filled in `bytes` with the pattern row copied just past its end. So
// "linked" is "link < W", and the fill is one copy per pixel either way.
struct RowScratch {
    std::vector<std::uint32_t> unlinked;  // W + (x mod P) for every x
    std::vector<std::uint32_t> links;
    std::vector<std::int8_t> rightCover;
    std::vector<std::uint8_t> bytes;  // W row bytes, then the P pattern bytes
    std::int32_t width = 0;
    std::int32_t period = 0;
};

RowScratch scratch;

bool prepareScratch(std::int32_t width, std::int32_t period) {
    if (scratch.width == width && scratch.period == period) {
        return true;
    }
    const auto w = static_cast<std::size_t>(width);
    const auto p = static_cast<std::size_t>(period);
    try {
        scratch.unlinked.resize(w);
        scratch.links.resize(w);
        scratch.rightCover.resize(w);
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
    scratch.width = width;
    scratch.period = period;
    return true;
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

// cover[x]: the largest c(x + t) - 2t over t >= 1 within the row, c being
// the depth capped at `cap`; -1 where nothing lies to the right. A point of
// depth c is hidden from the right eye exactly when this is at least c: the
// cap keeps every term whose t could count (c + 2t <= 31) and lets no other
// term reach c.
void coverFromRight(const std::uint8_t* row, std::int32_t width, std::uint32_t cap, std::int8_t* cover) {
    std::int32_t running = -1;
    for (std::int32_t x = width - 1; x >= 0; --x) {
        cover[x] = static_cast<std::int8_t>(running);
        const auto c = static_cast<std::int32_t>(std::min<std::uint32_t>(row[x], cap));
        running = std::max(running, c) - 2;
    }
}

void linkRow(const std::uint8_t* row, std::int32_t width, std::int32_t period, const std::int8_t* rightCover,
             std::uint32_t* links) {
    const auto nearest = static_cast<std::uint32_t>(period - 1);
    const std::uint32_t cap = std::min<std::uint32_t>(nearest, kNearestDepth);
    std::int32_t leftCover = -1;  // as rightCover, from the left
    for (std::int32_t x = 0; x < width; ++x) {
        const auto d = static_cast<std::int32_t>(std::min<std::uint32_t>(row[x], nearest));
        const auto c = static_cast<std::int32_t>(std::min<std::uint32_t>(row[x], cap));
        const std::int32_t cover = std::max<std::int32_t>(leftCover, rightCover[x]);
        leftCover = std::max(leftCover, c) - 2;
        const std::int32_t separation = period - d;
        const std::int32_t left = x - separation / 2;
        // left + separation < width, written so that it cannot overflow.
        if (cover < c && left >= 0 && separation < width - left) {
            join(links, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(left),
                 static_cast<std::uint32_t>(left + separation));
        }
    }
}

void transformRow(std::uint8_t* row, std::int32_t width, const std::uint8_t* patternRow, std::int32_t period) {
    std::uint32_t* links = scratch.links.data();
    std::uint8_t* bytes = scratch.bytes.data();
    const auto w = static_cast<std::size_t>(width);
    std::memcpy(links, scratch.unlinked.data(), w * sizeof(std::uint32_t));
    coverFromRight(row, width, std::min<std::uint32_t>(static_cast<std::uint32_t>(period - 1), kNearestDepth),
                   scratch.rightCover.data());
    linkRow(row, width, period, scratch.rightCover.data(), links);
    std::memcpy(bytes + w, patternRow, static_cast<std::size_t>(period));
    // Every link points right, so its byte is already final.
    for (std::size_t x = w; x-- > 0;) {
        bytes[x] = bytes[links[x]];
    }
    std::memcpy(row, bytes, w);
}

}  // namespace

bool transformStereogramEchoFree(DepthMap& map, const DepthMap& pattern) {
    const std::int32_t p = pattern.area.w;
    const std::int32_t q = pattern.area.h;
    if (p < 1 || q < 1 || pattern.pixels == nullptr || p > map.area.w) {
        return false;
    }
    if (map.area.h == 0) {
        return true;
    }
    if (map.area.h < 0 || map.pixels == nullptr || !prepareScratch(map.area.w, p)) {
        return false;
    }
    const std::int32_t width = map.area.w;
    std::int32_t patternY = 0;
    for (std::int32_t y = 0; y < map.area.h; ++y) {
        transformRow(map.pixels + static_cast<std::ptrdiff_t>(y) * width, width,
                     pattern.pixels + static_cast<std::ptrdiff_t>(patternY) * p, p);
        if (++patternY == q) {
            patternY = 0;
        }
    }
    return true;
}
