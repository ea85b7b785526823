#pragma once
// Small helpers shared by the depth-file tests: a scratch folder, whole-file
// bytes, and maps written out as literal pixel lists.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <csignal>
#include <sys/resource.h>

#include "depth/depth_map.hpp"
#include "../io/scratch_folder.hpp"

using namespace tolvane;

// A 3 x 2 24-bit bitmap written out by hand: rows bottom first, blue first,
// each padded to 12 bytes. Top row: blue 16, blue 24, white; bottom row:
// blue 248, pure red, blue 8. Its depths are the blues >> 3.
inline const Bytes kBitmap24 = {
    0x42, 0x4D, 0x4E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00,
    0x28, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00,
    0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xF8, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x08, 0x01, 0x02, 0x00, 0x00, 0x00,
    0x10, 0x00, 0x00, 0x18, 0x09, 0x09, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00,
};
inline const Bytes kBitmap24Depths = {2, 3, 31, 31, 0, 1};

inline DepthMapPtr mapOf(std::int32_t width, std::int32_t height, const Bytes& pixels) {
    DepthMapPtr map = createDepthMap(width, height);
    if (map && !pixels.empty()) std::copy(pixels.begin(), pixels.end(), map->pixels);
    return map;
}

inline Bytes pixelsOf(const DepthMap& map) {
    return Bytes(map.pixels, map.pixels + std::size_t(map.area.w) * std::size_t(map.area.h));
}

// Makes every write of this process past `bytes` fail (EFBIG) while in
// scope: a deterministic failed write, even for root, who may write into
// any folder.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};
