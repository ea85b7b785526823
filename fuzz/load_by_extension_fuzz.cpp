// Loading by extension, and the conversion mode, on real files. The first
// byte picks a file name (low four bits) and whether to convert it too (top
// bit); the rest is the file. Loading must pick the reader the name's
// extensions call for and give exactly what that reader gives for the bytes.
// A conversion must write outputs that load back as the same map, and leave
// nothing else behind: no output at all when it fails.

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "depth/bitmap_file.hpp"
#include "depth/compressed_file.hpp"
#include "depth/depth_file.hpp"
#include "depth/file_io.hpp"
#include "depth/text_file.hpp"
#include "fuzz/fuzz_support.hpp"

using namespace tolvane;

namespace {

// Names with one, two or none of the extensions, in every position.
constexpr std::array<const char*, 16> kNames{{
    "d.bmp", "d.schm", "d.scmhm", "d.txt", "a.bmp.schm", "x.txt.txt", "hill.txt.bak", "HILL.BMP",
    "plain", "m.scmhm.txt", "e.schm.scmhm", "t.txt.bmp", "s.schm.txt", "b.bmp.txt", "w.txt.schm", ".bmp",
}};

constexpr std::int64_t kLargestConvertedPixels = std::int64_t(1) << 16;


const fuzz::ScratchFolder& folder() {
    static const fuzz::ScratchFolder scratch("extension");
    return scratch;
}

// The first of `order` found anywhere in `name`, or "".
std::string firstExtension(const std::string& name, std::initializer_list<const char*> order) {
    for (const char* extension : order) {
        if (name.find(extension) != std::string::npos) return extension;
    }
    return "";
}

DepthResult decodeAs(const std::string& extension, std::span<const std::uint8_t> bytes) {
    if (extension == ".bmp") return decodeBitmapDepthMap(bytes);
    if (extension == ".schm") return decodeSchm(bytes);
    if (extension == ".scmhm") return decodeScmhm(bytes);
    return decodeTextDepthMap(bytes);
}

bool costly(const std::string& extension, std::span<const std::uint8_t> bytes) {
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (extension == ".bmp") return fuzz::peekBitmapSize(bytes, width, height) && fuzz::tooCostly(width, height);
    if (extension == ".txt") return fuzz::peekTextSize(bytes, width, height) && fuzz::tooCostly(width, height);
    return false;  // the compressed readers never allocate more than their runs fill
}

std::string replaced(std::string name, const std::string& from, const std::string& to) {
    name.erase(name.find(from), from.size());
    return name + to;
}

std::vector<std::uint8_t> readBack(const std::string& name) {
    FileBytes file = readFileBytes(name.c_str(), std::uint64_t(1) << 30);
    FUZZ_CHECK(bool(file));
    return std::move(file.bytes);
}

void checkOutput(const std::string& name, const std::string& extension, const DepthMap& map) {
    const DepthMapPtr loaded = decodeAs(extension, readBack(name)).map;
    FUZZ_CHECK(loaded != nullptr);
    // A text grid may hold depths above 31; the compressed forms keep 31.
    const auto pixels = fuzz::pixelsOf(map);
    std::vector<std::uint8_t> expected(pixels.begin(), pixels.end());
    for (std::uint8_t& v : expected) v = std::min<std::uint8_t>(v, 31);
    FUZZ_CHECK(fuzz::samePixels(*loaded, map.area.w, map.area.h, expected));
}

void checkConversion(const std::string& name, std::span<const std::uint8_t> bytes) {
    const std::string extension = firstExtension(name, {".scmhm", ".schm", ".bmp", ".txt"});
    if (costly(extension, bytes)) return;
    const DepthMapPtr map = extension.empty() ? nullptr : decodeAs(extension, bytes).map;
    if (map && std::int64_t(pixelCount(*map)) > kLargestConvertedPixels) return;

    const DepthOutcome result = convertDepthFile(name.c_str());
    std::vector<std::string> outputs;
    if (extension.empty()) {
        FUZZ_CHECK(result.status == DepthStatus::UnknownExtension);
    } else if (!map) {
        FUZZ_CHECK(!result && !result.detail.empty());
    } else if (extension != ".bmp" && extension != ".txt" &&
               (map->area.w > kWidestBitmapMap || map->area.h > kTallestBitmapMap)) {
        // SDL makes no surface this wide, so no bitmap can be written; the
        // conversion must say so and leave nothing behind.
        FUZZ_CHECK(result.status == DepthStatus::TooLargeToWrite);
    } else if (extension != ".bmp" && extension != ".txt" && pixelCount(*map) == 0) {
        // No bitmap is read back without pixels, so none is written.
        FUZZ_CHECK(result.status == DepthStatus::BadSize);
    } else {
        FUZZ_CHECK(bool(result));
        if (extension == ".bmp") {
            const std::string schm = replaced(name, ".bmp", ".schm");
            const std::string scmhm = replaced(schm, ".schm", ".scmhm");
            checkOutput(schm, ".schm", *map);
            checkOutput(scmhm, ".scmhm", *map);
            outputs = {schm, scmhm};
        } else if (extension == ".txt") {
            const std::string schm = replaced(name, ".txt", ".schm");
            checkOutput(schm, ".schm", *map);
            outputs = {schm};
        } else {
            const std::string bmp = replaced(name, extension, ".bmp");
            checkOutput(bmp, ".bmp", *map);
            outputs = {bmp};
        }
    }
    // Nothing but the input and the outputs: no temporaries, no strays.
    outputs.push_back(name);
    std::sort(outputs.begin(), outputs.end());
    outputs.erase(std::unique(outputs.begin(), outputs.end()), outputs.end());
    FUZZ_CHECK(folder().list() == outputs);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Bare names, so no folder above can lend a name an extension.
    FUZZ_CHECK(::chdir(folder().path().c_str()) == 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string name = kNames[data[0] & 0x0f];
    const bool convert = (data[0] & 0x80) != 0;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);

    folder().empty();
    folder().write(name, bytes);

    const std::string extension = firstExtension(name, {".bmp", ".schm", ".scmhm", ".txt"});
    if (costly(extension, bytes)) return 0;
    const DepthResult loaded = loadDepthMap(name.c_str());
    const DepthMapPtr& map = loaded.map;
    if (extension.empty()) {
        FUZZ_CHECK(map == nullptr && loaded.status == DepthStatus::UnknownExtension);
    } else {
        const DepthResult direct = decodeAs(extension, bytes);
        FUZZ_CHECK(loaded.status == direct.status);
        FUZZ_CHECK(map ? fuzz::samePixels(*map, *direct.map) : !loaded.detail.empty());
        if (map) fuzz::checkWellFormed(*map);
        if (map && extension != ".txt") fuzz::checkDepthsInRange(*map);
    }
    if (convert) checkConversion(name, bytes);
    return 0;
}
