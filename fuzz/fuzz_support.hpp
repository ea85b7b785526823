#pragma once
// What every fuzz target shares: checks that stop the run with a message,
// a scratch folder for the readers that take file names, and cheap looks at
// the sizes a header claims, so a target can leave out the few inputs whose
// only effect is a huge, slow allocation.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include <stdlib.h>  // mkdtemp

#include "depth/depth_map.hpp"
#include "io/byte_cursor.hpp"

using namespace tolvane;

namespace fuzz {

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "\n%s:%d: check failed: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzz

// A property the code under test must keep. A violation aborts, so libFuzzer
// records the input as a crash.
#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::fuzz::fail(#condition, __FILE__, __LINE__))

namespace fuzz {

// Pixels every reader promises never to exceed, whatever the shape.
inline constexpr std::int64_t kLargestPixels = std::int64_t(1) << 28;

// Inputs whose header asks for more pixels than this are not decoded: the
// readers accept them, but a map of hundreds of megabytes per run would slow
// the search down to nothing while exercising the same code as a small one.
inline constexpr std::int64_t kLargestFuzzedPixels = std::int64_t(1) << 22;

inline std::span<const std::uint8_t> pixelsOf(const DepthMap& map) { return {map.pixels, pixelCount(map)}; }

inline bool sidesValid(std::int64_t width, std::int64_t height) {
    return width >= 0 && height >= 0 && width <= kLargestPixels && height <= kLargestPixels &&
           width * height <= kLargestPixels;
}

// Every reader hands back a map with its own storage, origin (0, 0), sides
// within the limit and a pixel pointer that is set whenever there are pixels.
inline void checkWellFormed(const DepthMap& map) {
    FUZZ_CHECK(map.area.x == 0 && map.area.y == 0);
    FUZZ_CHECK(sidesValid(map.area.w, map.area.h));
    FUZZ_CHECK(std::int64_t(map.area.w) * map.area.h == 0 || map.pixels != nullptr);
}

inline void checkDepthsInRange(const DepthMap& map) {
    for (const std::uint8_t value : pixelsOf(map)) FUZZ_CHECK(value <= 31);
}

inline bool samePixels(const DepthMap& a, const DepthMap& b) {
    if (a.area.w != b.area.w || a.area.h != b.area.h) return false;
    const auto pa = pixelsOf(a);
    const auto pb = pixelsOf(b);
    return std::equal(pa.begin(), pa.end(), pb.begin(), pb.end());
}

inline bool samePixels(const DepthMap& map, std::int64_t width, std::int64_t height,
                       const std::vector<std::uint8_t>& expected) {
    if (map.area.w != width || map.area.h != height) return false;
    const auto pixels = pixelsOf(map);
    return std::equal(pixels.begin(), pixels.end(), expected.begin(), expected.end());
}

// A map of the given size holding `pixels` (cut or padded with 0).
inline DepthMapPtr mapOf(std::int32_t width, std::int32_t height, std::span<const std::uint8_t> pixels) {
    DepthMapPtr map = createDepthMap(width, height);
    FUZZ_CHECK(map != nullptr);
    const std::size_t n = std::min(pixelCount(*map), pixels.size());
    std::copy_n(pixels.begin(), n, map->pixels);
    return map;
}

// The sides a bitmap's header claims: 16-bit in the old 12-byte core
// header, which ends its sides at byte 22, signed 32-bit (a negative height
// meaning top row first) in every later one. False when the bytes hold no
// bitmap header with its sides.
inline bool peekBitmapSize(std::span<const std::uint8_t> bytes, std::int64_t& width, std::int64_t& height) {
    if (bytes.size() < 22 || bytes[0] != 'B' || bytes[1] != 'M') return false;
    if (readLe32(bytes.data() + 14) == 12) {
        width = bytes[18] | bytes[19] << 8;
        height = bytes[20] | bytes[21] << 8;
    } else {
        if (bytes.size() < 26) return false;
        width = std::int32_t(readLe32(bytes.data() + 18));
        height = std::int32_t(readLe32(bytes.data() + 22));
        if (height < 0) height = -height;
    }
    return true;
}

// Formatted integer input as a text stream gives it: white space, an
// optional sign, at least one digit. Saturates far above any valid side.
inline bool readTextInteger(std::span<const std::uint8_t> text, std::size_t& at, std::int64_t& value) {
    auto space = [](int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
    while (at < text.size() && space(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    if (at >= text.size() || text[at] < '0' || text[at] > '9') return false;
    value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        value = std::min<std::int64_t>(value * 10 + (text[at++] - '0'), std::int64_t(1) << 40);
    }
    if (negative) value = -value;
    return true;
}

// The file as a text-mode stream on a CR LF platform delivers it.
inline std::vector<std::uint8_t> translateLineEnds(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text.push_back(bytes[i]);
    }
    return text;
}

// The sides a text depth file's header claims; false when it has none.
inline bool peekTextSize(std::span<const std::uint8_t> bytes, std::int64_t& width, std::int64_t& height) {
    const std::vector<std::uint8_t> text = translateLineEnds(bytes);
    std::size_t at = 0;
    return readTextInteger(text, at, width) && readTextInteger(text, at, height);
}

inline bool tooCostly(std::int64_t width, std::int64_t height) {
    // A long side costs time even with no pixels: a text reader still reads
    // a line for every row.
    return sidesValid(width, height) &&
           (width * height > kLargestFuzzedPixels || width > kLargestFuzzedPixels || height > kLargestFuzzedPixels);
}

// A folder of its own under $TMPDIR (or /tmp) for this process, removed at
// exit. The fuzzing script points TMPDIR at a scratch folder it deletes, so
// a run killed midway leaves nothing behind either.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* label) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tolvane-" +
                              label + "-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        path_ = name.data();
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }

    // Writes `bytes` as the file `name` in the folder; returns its full path.
    std::string write(const std::string& name, std::span<const std::uint8_t> bytes) const {
        const std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.close();
        FUZZ_CHECK(out.good());
        return file.string();
    }

    // Names of the files now in the folder, sorted.
    std::vector<std::string> list() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    void empty() const {
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            std::filesystem::remove_all(entry.path());
        }
    }

private:
    std::filesystem::path path_;
};

inline std::vector<std::uint8_t> clamped(std::span<const std::uint8_t> pixels) {
    std::vector<std::uint8_t> out(pixels.begin(), pixels.end());
    for (std::uint8_t& v : out) v = std::min<std::uint8_t>(v, 31);
    return out;
}

// The input taken as a raw map (first byte picks a width of 1 to 48, the
// rest are pixels, any values): the writer must give exactly what the
// format's model gives, and the reader must bring back the pixels clamped
// to 31.
template <typename Encode, typename Decode, typename Model>
void checkRawMapRoundTrip(std::span<const std::uint8_t> bytes, Encode encode, Decode decode, Model model) {
    if (bytes.empty()) return;
    const std::int32_t width = 1 + bytes[0] % 48;
    const std::span<const std::uint8_t> pixels = bytes.subspan(1);
    const std::int32_t height = std::int32_t(pixels.size() / std::size_t(width));
    const DepthMapPtr map = mapOf(width, height, pixels);
    const std::vector<std::uint8_t> used(pixels.begin(), pixels.begin() + std::ptrdiff_t(pixelCount(*map)));

    const std::vector<std::uint8_t> saved = encode(*map);
    FUZZ_CHECK(saved == model(width, height, used));
    const DepthMapPtr loaded = decode(saved).map;
    FUZZ_CHECK(loaded != nullptr);
    FUZZ_CHECK(samePixels(*loaded, width, height, clamped(used)));
}

}  // namespace fuzz
