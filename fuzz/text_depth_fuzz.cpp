// The text depth grid reader against a plain model of the format: the file
// is first turned into what a text-mode stream delivers (CR LF to LF), then
// read character by character with the format's line rule. Every input must
// give the model's answer: the same refusal, or the same size and pixels.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "depth/text_file.hpp"
#include "fuzz/fuzz_support.hpp"

using namespace tolvane;

namespace {

std::uint8_t modelDepth(std::uint8_t c) {
    if (c == ' ') return 0;
    if (c == '0') return 10;
    if (c >= '1' && c <= '9') return std::uint8_t(c - '0');
    return std::uint8_t(c - 54);
}

struct ModelMap {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::vector<std::uint8_t> pixels;
};

// A line: at most `limit` characters taken, the next left unread once the
// limit is reached; a line feed ends it and is consumed.
std::vector<std::uint8_t> modelLine(const std::vector<std::uint8_t>& text, std::size_t& at, std::int64_t limit) {
    std::vector<std::uint8_t> line;
    while (std::int64_t(line.size()) < limit && at < text.size()) {
        const std::uint8_t c = text[at++];
        if (c == '\n') break;
        line.push_back(c);
    }
    return line;
}

std::optional<ModelMap> modelDecode(std::span<const std::uint8_t> bytes) {
    const std::vector<std::uint8_t> text = fuzz::translateLineEnds(bytes);
    std::size_t at = 0;
    ModelMap map;
    if (!fuzz::readTextInteger(text, at, map.width) || !fuzz::readTextInteger(text, at, map.height) ||
        !fuzz::sidesValid(map.width, map.height)) {
        return std::nullopt;
    }
    const std::int64_t limit = map.width + 4;
    modelLine(text, at, limit);
    for (std::int64_t y = 0; y < map.height; ++y) {
        const std::vector<std::uint8_t> line = modelLine(text, at, limit);
        for (std::int64_t x = 0; x < map.width; ++x) {
            map.pixels.push_back(x < std::int64_t(line.size()) ? modelDepth(line[std::size_t(x)]) : 0);
        }
    }
    return map;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (fuzz::peekTextSize(bytes, width, height) && fuzz::tooCostly(width, height)) return 0;

    const DepthResult result = decodeTextDepthMap(bytes);
    const DepthMapPtr& map = result.map;
    const std::optional<ModelMap> expected = modelDecode(bytes);
    FUZZ_CHECK(bool(map) == expected.has_value());
    if (!map) {
        FUZZ_CHECK(!result && !result.detail.empty());
        return 0;
    }
    fuzz::checkWellFormed(*map);
    FUZZ_CHECK(fuzz::samePixels(*map, expected->width, expected->height, expected->pixels));
    return 0;
}
