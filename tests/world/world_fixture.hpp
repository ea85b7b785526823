#pragma once
// Shared by the world tests: a scratch folder to chdir into, tiny ".txt"
// depth files, and markup parsed from a literal.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "depth/depth_map.hpp"
#include "markup/xml.hpp"
#include "world/world.hpp"

using namespace tolvane;

// Makes a fresh folder, works inside it, and on the way out goes back and
// removes it.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tolvane-world-XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr);
        path_ = pattern;
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~ScratchFolder() {
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

inline void writeFile(const std::string& name, std::string_view text) {
    std::ofstream out(name, std::ios::binary);
    out << text;
}

// A ".txt" depth file of `rows`, each row a line of depth characters
// (" " 0, "1".."9", "0" 10, "A".."U" 11..31).
inline void writeDepthText(const std::string& name, const std::vector<std::string>& rows) {
    const std::size_t width = rows.empty() ? 0 : rows[0].size();
    std::string text = std::to_string(width) + " " + std::to_string(rows.size()) + "\n";
    for (const std::string& row : rows) text += row + "\n";
    writeFile(name, text);
}

// A ".txt" depth file of width x height pixels, all the same character.
inline void writeFlatDepthText(const std::string& name, int width, int height, char depth) {
    writeDepthText(name, std::vector<std::string>(static_cast<std::size_t>(height),
                                                  std::string(static_cast<std::size_t>(width), depth)));
}

inline std::unique_ptr<XmlNode> parseMarkup(std::string_view text) {
    auto node = std::make_unique<XmlNode>();
    node->parse(text, 0);
    return node;
}

// What tests assert of problems: their kinds in order, or, where the wording
// is the point, the lines as printed.
inline std::vector<WorldProblemKind> kindsOf(const WorldProblems& problems) {
    std::vector<WorldProblemKind> kinds;
    for (const WorldProblem& problem : problems) kinds.push_back(problem.kind);
    return kinds;
}

inline std::vector<std::string> linesOf(const WorldProblems& problems) {
    std::vector<std::string> lines;
    for (const WorldProblem& problem : problems) lines.push_back(problemLine(problem));
    return lines;
}

// Builds `world` from literal markup and returns its problems.
inline WorldProblems buildFrom(World& world, std::string_view markup) {
    WorldProblems problems;
    world.build(parseMarkup(markup).get(), &problems);
    return problems;
}

inline DepthMapPtr blankMap(int width, int height) {
    DepthMapPtr map = createDepthMap(width, height);
    fillDepthMap(*map, 0);
    return map;
}

inline std::uint8_t at(const DepthMap& map, int x, int y) {
    return map.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(map.area.w) +
                      static_cast<std::size_t>(x)];
}

// Smallest rectangle holding every non-zero pixel; w = 0 when there is none.
inline Rect nonZeroBox(const DepthMap& map) {
    int minX = map.area.w, minY = map.area.h, maxX = -1, maxY = -1;
    for (int y = 0; y < map.area.h; ++y) {
        for (int x = 0; x < map.area.w; ++x) {
            if (at(map, x, y) == 0) continue;
            minX = std::min(minX, x);
            minY = std::min(minY, y);
            maxX = std::max(maxX, x);
            maxY = std::max(maxY, y);
        }
    }
    if (maxX < 0) return Rect{};
    return Rect{minX, minY, maxX - minX + 1, maxY - minY + 1};
}

inline bool allZero(const DepthMap& map) { return nonZeroBox(map).w == 0; }
