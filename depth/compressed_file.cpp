#include "depth/compressed_file.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::size_t kHeaderBytes = 8;          // width, height
constexpr std::size_t kSchmHeaderBytes = 12;     // width, height, run count
constexpr std::size_t kSchmLongestRun = 8;
constexpr std::size_t kScmhmLongestRun = 32;
constexpr std::size_t kScmhmGroupBytes = 5;      // four run bytes, one extension byte
constexpr std::size_t kScmhmRunsPerGroup = 4;
constexpr std::uint8_t kLargestDepth = 31;
constexpr std::uint64_t kEveryByte = 0x0101010101010101ull;

// A file can never need more than one run byte per pixel (or a group per
// four pixels), so anything larger than that for the largest map is not
// worth reading into memory.
constexpr std::uint64_t kLargestMapPixels =
    std::uint64_t(kMaxDepthFileSide) * std::uint64_t(kMaxDepthFileSide);
constexpr std::uint64_t kLargestSchmFile = kSchmHeaderBytes + kLargestMapPixels;
constexpr std::uint64_t kLargestScmhmFile =
    kHeaderBytes + kScmhmGroupBytes * ((kLargestMapPixels + 3) / kScmhmRunsPerGroup);

std::uint32_t readLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

void storeLe32(std::uint8_t* p, std::uint32_t value) {
    p[0] = std::uint8_t(value);
    p[1] = std::uint8_t(value >> 8);
    p[2] = std::uint8_t(value >> 16);
    p[3] = std::uint8_t(value >> 24);
}

std::size_t pixelCount(const DepthMap& map) {
    return std::size_t(std::max(map.area.w, 0)) * std::size_t(std::max(map.area.h, 0));
}

std::string sizeText(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

// The pixels as the encoders must see them. A value above 31 would spill
// into the length bits of its run byte, so such maps are encoded from a
// copy clamped to 31; the clamped values also decide where runs end.
std::span<const std::uint8_t> encodablePixels(const DepthMap& map, std::vector<std::uint8_t>& copy) {
    const std::span<const std::uint8_t> pixels(map.pixels, pixelCount(map));
    std::uint8_t highBits = 0;
    for (const std::uint8_t value : pixels) highBits |= value;
    if ((highBits & ~kLargestDepth) == 0) return pixels;
    copy.assign(pixels.begin(), pixels.end());
    for (std::uint8_t& value : copy) value = std::min(value, kLargestDepth);
    return copy;
}

// Index of the lowest-addressed non-zero byte of a word loaded from memory.
std::size_t firstSetByte(std::uint64_t word) {
    if constexpr (std::endian::native == std::endian::little) {
        return std::size_t(std::countr_zero(word)) / 8;
    } else {
        return std::size_t(std::countl_zero(word)) / 8;
    }
}

// Length of the run of equal pixels starting at `start`, at most `longest`,
// compared eight pixels at a time while a whole word remains.
std::size_t runLength(const std::uint8_t* pixels, std::size_t start, std::size_t count,
                      std::size_t longest) {
    const std::uint8_t value = pixels[start];
    const std::uint64_t pattern = value * kEveryByte;
    const std::size_t end = std::min(count, start + longest);
    std::size_t i = start;
    while (end - i >= 8) {
        std::uint64_t word;
        std::memcpy(&word, pixels + i, 8);
        if (const std::uint64_t differ = word ^ pattern; differ != 0) {
            return i + firstSetByte(differ) - start;
        }
        i += 8;
    }
    while (i < end && pixels[i] == value) ++i;
    return i - start;
}

// Sets `length` (at most `longest`) pixels from `at` to `value`. Where at
// least `longest` pixels remain, a fixed block of that size is stored
// instead, with no branch on the length: the bytes written past the run lie
// inside the map and are overwritten by the runs that follow.
template <std::size_t longest>
void fillRun(std::uint8_t* at, std::size_t length, std::size_t remaining, std::uint8_t value) {
    if (remaining >= longest) {
        const std::uint64_t pattern = value * kEveryByte;
        for (std::size_t done = 0; done < longest; done += 8) std::memcpy(at + done, &pattern, 8);
    } else {
        std::memset(at, value, length);
    }
}

std::string runsPastMessage(const DepthMap& map) {
    return "runs go past the " + sizeText(map.area.w, map.area.h) + " pixels of the map";
}

std::string endsEarlyMessage(std::int64_t width, std::int64_t height) {
    return "file ends before its " + sizeText(width, height) + " map is filled";
}

// Width and height from the start of a file, checked; false with a reason.
bool readSize(std::span<const std::uint8_t> bytes, std::size_t headerBytes, std::int32_t& width,
              std::int32_t& height, std::string* why) {
    if (bytes.size() < headerBytes) {
        setReason(why, "file is shorter than its header");
        return false;
    }
    width = static_cast<std::int32_t>(readLe32(bytes.data()));
    height = static_cast<std::int32_t>(readLe32(bytes.data() + 4));
    return checkDepthFileSize(width, height, why);
}

}  // namespace

void encodeSchmRuns(const DepthMap& map, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> clamped;
    const std::span<const std::uint8_t> pixels = encodablePixels(map, clamped);
    const std::size_t count = pixels.size();
    const std::size_t countAt = out.size();
    out.resize(countAt + 4 + count);  // at worst one run per pixel
    std::uint8_t* const runs = out.data() + countAt + 4;
    std::uint8_t* next = runs;
    for (std::size_t i = 0; i < count;) {
        const std::size_t length = runLength(pixels.data(), i, count, kSchmLongestRun);
        *next++ = std::uint8_t(pixels[i] | (length - 1) << 5);
        i += length;
    }
    const std::size_t runCount = std::size_t(next - runs);
    storeLe32(out.data() + countAt, static_cast<std::uint32_t>(runCount));
    out.resize(countAt + 4 + runCount);
}

void encodeScmhmGroups(const DepthMap& map, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> clamped;
    const std::span<const std::uint8_t> pixels = encodablePixels(map, clamped);
    const std::size_t count = pixels.size();
    const std::size_t start = out.size();
    // At worst one run per pixel, four runs to a group.
    out.resize(start + kScmhmGroupBytes * ((count + 3) / kScmhmRunsPerGroup));
    std::uint8_t* group = out.data() + start;
    std::size_t held = 0;
    std::uint8_t extension = 0;
    for (std::size_t i = 0; i < count;) {
        const std::size_t length = runLength(pixels.data(), i, count, kScmhmLongestRun);
        const std::size_t lengthBits = length - 1;
        // Bits 0-2 of length - 1 go in the run byte, bits 3-4 in the
        // extension byte, two bits per run.
        group[held] = std::uint8_t(pixels[i] | (lengthBits & 7) << 5);
        extension = std::uint8_t(extension | ((lengthBits >> 3) & 3) << (2 * held));
        if (++held == kScmhmRunsPerGroup) {
            group[4] = extension;
            group += kScmhmGroupBytes;
            held = 0;
            extension = 0;
        }
        i += length;
    }
    if (held > 0) {
        std::fill(group + held, group + kScmhmRunsPerGroup, std::uint8_t(0));
        group[4] = extension;
        group += kScmhmGroupBytes;
    }
    out.resize(std::size_t(group - out.data()));
}

bool decodeSchmRuns(DepthMap& map, std::span<const std::uint8_t> block, std::string* why) {
    if (block.size() < 4) {
        setReason(why, "file is shorter than its header");
        return false;
    }
    const std::uint32_t runCount = readLe32(block.data());
    if (runCount > block.size() - 4) {
        setReason(why, "run count " + std::to_string(runCount) + " is beyond the " +
                           std::to_string(block.size() - 4) + " run bytes present");
        return false;
    }
    const std::uint8_t* runs = block.data() + 4;
    std::uint8_t* const pixels = map.pixels;
    const std::size_t count = pixelCount(map);
    std::size_t at = 0;
    for (std::uint32_t k = 0; k < runCount; ++k) {
        const std::uint8_t run = runs[k];
        const std::size_t length = std::size_t(run >> 5) + 1;
        if (length > count - at) {
            setReason(why, runsPastMessage(map));
            return false;
        }
        fillRun<kSchmLongestRun>(pixels + at, length, count - at, run & kLargestDepth);
        at += length;
    }
    if (at != count) {
        setReason(why, "runs fill only " + std::to_string(at) + " of the " +
                           sizeText(map.area.w, map.area.h) + " pixels of the map");
        return false;
    }
    return true;
}

bool decodeScmhmGroups(DepthMap& map, std::span<const std::uint8_t> block, std::string* why) {
    std::uint8_t* const pixels = map.pixels;
    const std::size_t count = pixelCount(map);
    std::size_t at = 0;
    std::size_t groupAt = 0;
    // No count: the map's size is the only stopping rule, so the zero run
    // bytes that pad the last group are never decoded.
    while (at < count) {
        if (block.size() - groupAt < kScmhmGroupBytes) {
            setReason(why, endsEarlyMessage(map.area.w, map.area.h));
            return false;
        }
        const std::uint8_t* group = block.data() + groupAt;
        const std::uint8_t extension = group[4];
        for (std::size_t k = 0; k < kScmhmRunsPerGroup && at < count; ++k) {
            const std::uint8_t run = group[k];
            const std::size_t length =
                (std::size_t((extension >> (2 * k)) & 3) << 3 | std::size_t(run >> 5)) + 1;
            if (length > count - at) {
                setReason(why, runsPastMessage(map));
                return false;
            }
            fillRun<kScmhmLongestRun>(pixels + at, length, count - at, run & kLargestDepth);
            at += length;
        }
        groupAt += kScmhmGroupBytes;
    }
    return true;
}

std::vector<std::uint8_t> encodeSchm(const DepthMap& map) {
    std::vector<std::uint8_t> bytes(kHeaderBytes);
    storeLe32(bytes.data(), static_cast<std::uint32_t>(map.area.w));
    storeLe32(bytes.data() + 4, static_cast<std::uint32_t>(map.area.h));
    encodeSchmRuns(map, bytes);
    return bytes;
}

std::vector<std::uint8_t> encodeScmhm(const DepthMap& map) {
    std::vector<std::uint8_t> bytes(kHeaderBytes);
    storeLe32(bytes.data(), static_cast<std::uint32_t>(map.area.w));
    storeLe32(bytes.data() + 4, static_cast<std::uint32_t>(map.area.h));
    encodeScmhmGroups(map, bytes);
    return bytes;
}

DepthMapPtr decodeSchm(std::span<const std::uint8_t> bytes, std::string* why) {
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (!readSize(bytes, kSchmHeaderBytes, width, height, why)) return nullptr;
    // Checked before the map is made, so a header cannot make us allocate
    // more than its own run data could ever fill.
    const std::uint64_t runCount = readLe32(bytes.data() + kHeaderBytes);
    const std::uint64_t runBytes = bytes.size() - kSchmHeaderBytes;
    if (runCount > runBytes) {
        setReason(why, "run count " + std::to_string(runCount) + " is beyond the " +
                           std::to_string(runBytes) + " run bytes present");
        return nullptr;
    }
    if (std::uint64_t(width) * std::uint64_t(height) > kSchmLongestRun * runCount) {
        setReason(why, "a " + sizeText(width, height) + " map needs more pixels than " +
                           std::to_string(runCount) + " runs can describe");
        return nullptr;
    }
    DepthMapPtr map = createDepthMapForFile(width, height, why);
    if (!map || !decodeSchmRuns(*map, bytes.subspan(kHeaderBytes), why)) return nullptr;
    return map;
}

DepthMapPtr decodeScmhm(std::span<const std::uint8_t> bytes, std::string* why) {
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (!readSize(bytes, kHeaderBytes, width, height, why)) return nullptr;
    const std::uint64_t groups = (bytes.size() - kHeaderBytes) / kScmhmGroupBytes;
    if (std::uint64_t(width) * std::uint64_t(height) >
        kScmhmLongestRun * kScmhmRunsPerGroup * groups) {
        setReason(why, endsEarlyMessage(width, height));
        return nullptr;
    }
    DepthMapPtr map = createDepthMapForFile(width, height, why);
    if (!map || !decodeScmhmGroups(*map, bytes.subspan(kHeaderBytes), why)) return nullptr;
    return map;
}

bool saveSchm(const DepthMap& map, const char* fileName, std::string* why) {
    return writeFileSafely(fileName, encodeSchm(map), why);
}

bool saveScmhm(const DepthMap& map, const char* fileName, std::string* why) {
    return writeFileSafely(fileName, encodeScmhm(map), why);
}

DepthMapPtr loadSchm(const char* fileName, std::string* why) {
    std::vector<std::uint8_t> bytes;
    if (!readFileBytes(fileName, kLargestSchmFile, bytes, why)) return nullptr;
    return decodeSchm(bytes, why);
}

DepthMapPtr loadScmhm(const char* fileName, std::string* why) {
    std::vector<std::uint8_t> bytes;
    if (!readFileBytes(fileName, kLargestScmhmFile, bytes, why)) return nullptr;
    return decodeScmhm(bytes, why);
}
