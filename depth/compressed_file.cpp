#include "depth/compressed_file.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "io/byte_cursor.hpp"

namespace tolvane {

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
constexpr std::uint64_t kLargestMapPixels = kMaxDepthFilePixels;
constexpr std::uint64_t kLargestSchmFile = kSchmHeaderBytes + kLargestMapPixels;
constexpr std::uint64_t kLargestScmhmFile =
    kHeaderBytes + kScmhmGroupBytes * ((kLargestMapPixels + 3) / kScmhmRunsPerGroup);

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

DepthResult shortHeader() { return depthFailure(DepthStatus::BadHeader, "file is shorter than its header"); }

// The encoders hand their output on in chunks of this size, so writing a
// file holds no more than one chunk besides the map.
constexpr std::size_t kChunkBytes = 64 * 1024;

// Hands the run bytes of `map` to `sink` (a callable taking a byte span and
// returning false to stop) and returns how many there were.
template <typename Sink>
std::size_t streamSchmRuns(const DepthMap& map, Sink&& sink) {
    std::vector<std::uint8_t> clamped;
    const std::span<const std::uint8_t> pixels = encodablePixels(map, clamped);
    const std::size_t count = pixels.size();
    std::uint8_t chunk[kChunkBytes];
    std::size_t used = 0;
    std::size_t runCount = 0;
    for (std::size_t i = 0; i < count;) {
        const std::size_t length = runLength(pixels.data(), i, count, kSchmLongestRun);
        chunk[used++] = std::uint8_t(pixels[i] | (length - 1) << 5);
        ++runCount;
        i += length;
        if (used == kChunkBytes) {
            if (!sink(std::span<const std::uint8_t>(chunk, used))) return runCount;
            used = 0;
        }
    }
    if (used > 0) sink(std::span<const std::uint8_t>(chunk, used));
    return runCount;
}

// Hands the run groups of `map` to `sink`, as streamSchmRuns does.
template <typename Sink>
void streamScmhmGroups(const DepthMap& map, Sink&& sink) {
    std::vector<std::uint8_t> clamped;
    const std::span<const std::uint8_t> pixels = encodablePixels(map, clamped);
    const std::size_t count = pixels.size();
    constexpr std::size_t kChunkGroups = kChunkBytes / kScmhmGroupBytes;
    std::uint8_t chunk[kChunkGroups * kScmhmGroupBytes];
    std::uint8_t* group = chunk;
    std::size_t held = 0;
    std::uint8_t extension = 0;
    for (std::size_t i = 0; i < count;) {
        const std::size_t length = runLength(pixels.data(), i, count, kScmhmLongestRun);
        const std::size_t lengthBits = length - 1;
        // Bits 0-2 of length - 1 go in the run byte, bits 3-4 in the
        // extension byte, two bits per run.
        group[held] = std::uint8_t(pixels[i] | (lengthBits & 7) << 5);
        extension = std::uint8_t(extension | ((lengthBits >> 3) & 3) << (2 * held));
        i += length;
        if (++held == kScmhmRunsPerGroup) {
            group[4] = extension;
            group += kScmhmGroupBytes;
            held = 0;
            extension = 0;
            if (group == std::end(chunk)) {
                if (!sink(std::span<const std::uint8_t>(chunk, sizeof chunk))) return;
                group = chunk;
            }
        }
    }
    if (held > 0) {
        std::fill(group + held, group + kScmhmRunsPerGroup, std::uint8_t(0));
        group[4] = extension;
        group += kScmhmGroupBytes;
    }
    if (group != chunk) sink(std::span<const std::uint8_t>(chunk, std::size_t(group - chunk)));
}

std::array<std::uint8_t, kHeaderBytes> sizeHeader(const DepthMap& map) {
    std::array<std::uint8_t, kHeaderBytes> header{};
    storeLe32(header.data(), static_cast<std::uint32_t>(map.area.w));
    storeLe32(header.data() + 4, static_cast<std::uint32_t>(map.area.h));
    return header;
}

}  // namespace

void encodeSchmRuns(const DepthMap& map, std::vector<std::uint8_t>& out) {
    const std::size_t countAt = out.size();
    out.resize(countAt + 4);
    const std::size_t runCount = streamSchmRuns(map, [&out](std::span<const std::uint8_t> runs) {
        out.insert(out.end(), runs.begin(), runs.end());
        return true;
    });
    storeLe32(out.data() + countAt, static_cast<std::uint32_t>(runCount));
}

void encodeScmhmGroups(const DepthMap& map, std::vector<std::uint8_t>& out) {
    streamScmhmGroups(map, [&out](std::span<const std::uint8_t> groups) {
        out.insert(out.end(), groups.begin(), groups.end());
        return true;
    });
}

namespace {

std::string runCountBeyond(std::uint64_t runCount, std::uint64_t runBytes) {
    return "run count " + std::to_string(runCount) + " is beyond the " + std::to_string(runBytes) +
           " run bytes present";
}

// Fills all of `map` from the first `runCount` bytes of `runs`.
DepthOutcome fillFromRuns(DepthMap& map, const std::uint8_t* runs, std::uint64_t runCount) {
    std::uint8_t* const pixels = map.pixels;
    const std::size_t count = pixelCount(map);
    std::size_t at = 0;
    for (std::uint64_t k = 0; k < runCount; ++k) {
        const std::uint8_t run = runs[k];
        const std::size_t length = std::size_t(run >> 5) + 1;
        if (length > count - at) return failedOutcome(DepthStatus::BadData, runsPastMessage(map));
        fillRun<kSchmLongestRun>(pixels + at, length, count - at, run & kLargestDepth);
        at += length;
    }
    if (at != count) {
        return failedOutcome(DepthStatus::BadData, "runs fill only " + std::to_string(at) + " of the " +
                                                       sizeText(map.area.w, map.area.h) +
                                                       " pixels of the map");
    }
    return {};
}

// A ".schm" file of which `bytes` is the start, `fileBytes` long in all: the
// runs past `bytes` are never needed (see usableSchmBytes).
DepthResult decodeSchmStart(std::span<const std::uint8_t> bytes, std::uint64_t fileBytes) {
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (bytes.size() < kSchmHeaderBytes) return shortHeader();
    if (DepthResult size = peekCompressedSize(bytes, width, height); !size) return size;
    // Checked before the map is made, so a header cannot make us allocate
    // more than its own run data could ever fill.
    const std::uint64_t runCount = ByteCursor(bytes, kHeaderBytes).le32();
    const std::uint64_t runBytes = fileBytes - kSchmHeaderBytes;
    if (runCount > runBytes) return depthFailure(DepthStatus::BadData, runCountBeyond(runCount, runBytes));
    if (std::uint64_t(width) * std::uint64_t(height) > kSchmLongestRun * runCount) {
        return depthFailure(DepthStatus::BadData, "a " + sizeText(width, height) +
                                                      " map needs more pixels than " +
                                                      std::to_string(runCount) + " runs can describe");
    }
    DepthResult result = createDepthMapForFile(width, height);
    if (!result) return result;
    const std::uint64_t present = bytes.size() - kSchmHeaderBytes;
    if (DepthOutcome runs = fillFromRuns(*result.map, bytes.data() + kSchmHeaderBytes, std::min(runCount, present));
        !runs) {
        return depthFailure(runs.status, std::move(runs.detail));
    }
    return result;
}

// Each run covers at least one pixel, so a map of n pixels never reads more
// than n runs; the n + 1st, if the count gives one, is where it fails.
std::uint64_t usableSchmBytes(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
    if (head.size() < kSchmHeaderBytes) return fileSize < kSchmHeaderBytes ? fileSize : 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (!peekCompressedSize(head, width, height)) return kSchmHeaderBytes;
    const std::uint64_t runCount = ByteCursor(head, kHeaderBytes).le32();
    if (runCount > fileSize - kSchmHeaderBytes) return kSchmHeaderBytes;  // refused on the count alone
    return kSchmHeaderBytes + std::min(runCount, std::uint64_t(width) * std::uint64_t(height) + 1);
}

// Groups of four runs cover at least four pixels, the last one at least one.
std::uint64_t usableScmhmBytes(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
    if (head.size() < kHeaderBytes) return fileSize < kHeaderBytes ? fileSize : 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (!peekCompressedSize(head, width, height)) return kHeaderBytes;
    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
    return kHeaderBytes + kScmhmGroupBytes * ((pixels + kScmhmRunsPerGroup - 1) / kScmhmRunsPerGroup);
}

}  // namespace

DepthOutcome decodeSchmRuns(DepthMap& map, std::span<const std::uint8_t> block) {
    ByteCursor cursor(block);
    const std::uint32_t runCount = cursor.le32();
    if (cursor.ranOut()) return failedOutcome(DepthStatus::BadHeader, "file is shorter than its header");
    if (runCount > cursor.remaining()) {
        return failedOutcome(DepthStatus::BadData, runCountBeyond(runCount, cursor.remaining()));
    }
    return fillFromRuns(map, cursor.rest().data(), runCount);
}

DepthOutcome decodeScmhmGroups(DepthMap& map, std::span<const std::uint8_t> block) {
    std::uint8_t* const pixels = map.pixels;
    const std::size_t count = pixelCount(map);
    std::size_t at = 0;
    std::size_t groupAt = 0;
    // No count: the map's size is the only stopping rule, so the zero run
    // bytes that pad the last group are never decoded.
    while (at < count) {
        if (block.size() - groupAt < kScmhmGroupBytes) {
            return failedOutcome(DepthStatus::BadData, endsEarlyMessage(map.area.w, map.area.h));
        }
        const std::uint8_t* group = block.data() + groupAt;
        const std::uint8_t extension = group[4];
        for (std::size_t k = 0; k < kScmhmRunsPerGroup && at < count; ++k) {
            const std::uint8_t run = group[k];
            const std::size_t length =
                (std::size_t((extension >> (2 * k)) & 3) << 3 | std::size_t(run >> 5)) + 1;
            if (length > count - at) return failedOutcome(DepthStatus::BadData, runsPastMessage(map));
            fillRun<kScmhmLongestRun>(pixels + at, length, count - at, run & kLargestDepth);
            at += length;
        }
        groupAt += kScmhmGroupBytes;
    }
    return {};
}

std::vector<std::uint8_t> encodeSchm(const DepthMap& map) {
    const auto header = sizeHeader(map);
    std::vector<std::uint8_t> bytes(header.begin(), header.end());
    encodeSchmRuns(map, bytes);
    return bytes;
}

std::vector<std::uint8_t> encodeScmhm(const DepthMap& map) {
    const auto header = sizeHeader(map);
    std::vector<std::uint8_t> bytes(header.begin(), header.end());
    encodeScmhmGroups(map, bytes);
    return bytes;
}

DepthResult peekCompressedSize(std::span<const std::uint8_t> header, std::int64_t& width,
                               std::int64_t& height) {
    ByteCursor cursor(header);
    width = static_cast<std::int32_t>(cursor.le32());
    height = static_cast<std::int32_t>(cursor.le32());
    if (cursor.ranOut()) return shortHeader();
    return checkDepthFileSize(width, height);
}

DepthResult decodeSchm(std::span<const std::uint8_t> bytes) { return decodeSchmStart(bytes, bytes.size()); }

DepthResult decodeScmhm(std::span<const std::uint8_t> bytes) {
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (DepthResult size = peekCompressedSize(bytes, width, height); !size) return size;
    const std::uint64_t groups = (bytes.size() - kHeaderBytes) / kScmhmGroupBytes;
    if (std::uint64_t(width) * std::uint64_t(height) >
        kScmhmLongestRun * kScmhmRunsPerGroup * groups) {
        return depthFailure(DepthStatus::BadData, endsEarlyMessage(width, height));
    }
    DepthResult result = createDepthMapForFile(width, height);
    if (!result) return result;
    if (DepthOutcome runs = decodeScmhmGroups(*result.map, bytes.subspan(kHeaderBytes)); !runs) {
        return depthFailure(runs.status, std::move(runs.detail));
    }
    return result;
}

DepthOutcome writeSchm(const DepthMap& map, StagedFile& file) {
    const std::array<std::uint8_t, 4> placeholder{};
    DepthOutcome result = file.write(sizeHeader(map));
    if (result) result = file.write(placeholder);
    if (!result) return result;
    const std::size_t runCount = streamSchmRuns(map, [&](std::span<const std::uint8_t> runs) {
        result = file.write(runs);
        return bool(result);
    });
    if (!result) return result;
    std::array<std::uint8_t, 4> count{};
    storeLe32(count.data(), static_cast<std::uint32_t>(runCount));
    return file.writeAt(kHeaderBytes, count);
}

DepthOutcome writeScmhm(const DepthMap& map, StagedFile& file) {
    DepthOutcome result = file.write(sizeHeader(map));
    if (!result) return result;
    streamScmhmGroups(map, [&](std::span<const std::uint8_t> groups) {
        result = file.write(groups);
        return bool(result);
    });
    return result;
}

namespace {

DepthOutcome saveWith(DepthOutcome (*write)(const DepthMap&, StagedFile&), const DepthMap& map,
                      const char* fileName) {
    StagedFile file;
    DepthOutcome result = file.open(fileName);
    if (result) result = write(map, file);
    if (result) result = file.finish();
    if (result) result = file.commit();
    return result;
}

}  // namespace

DepthOutcome saveSchm(const DepthMap& map, const char* fileName) { return saveWith(writeSchm, map, fileName); }

DepthOutcome saveScmhm(const DepthMap& map, const char* fileName) { return saveWith(writeScmhm, map, fileName); }

// Only what the header says the map can use is read: a small map padded
// out to a huge file costs a small read.
DepthResult loadSchm(const char* fileName) {
    const FileBytes file = readUsableBytes(fileName, kLargestSchmFile, usableSchmBytes);
    return file ? decodeSchmStart(file.bytes, file.fileSize) : fileReadFailure(file);
}

DepthResult loadScmhm(const char* fileName) {
    const FileBytes file = readUsableBytes(fileName, kLargestScmhmFile, usableScmhmBytes);
    return file ? decodeScmhm(file.bytes) : fileReadFailure(file);
}

}  // namespace tolvane
