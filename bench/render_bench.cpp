// The headless renderer's cost: 100 stereogram frames of the sample world
// turned into PNG files in memory, and the PNG encoder alone at each zlib
// level with and without row filters, to show where the time goes and what
// the chosen settings buy.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "depth/png_file.hpp"
#include "stereo/random.hpp"
#include "stereo/stereogram.hpp"
#include "world/world.hpp"
#include "world/world_file.hpp"

using namespace tolvane;

namespace {

constexpr std::int32_t kScreenW = 640;
constexpr std::int32_t kScreenH = 480;
constexpr int kFramesPerRun = 100;
constexpr float kFrameDt = 1.0f / 30.0f;

const std::string kSampleWorld = std::string(TOLVANE_SOURCE_DIR) + "/assets/world.xml";

// A palette like the renderer's: the grey ramp, then random colours.
RgbPalette greyRampPalette() {
    RgbPalette palette;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const auto grey = static_cast<std::uint8_t>(i * 8);
        palette[i] = i < 32 ? RgbColor{grey, grey, grey}
                            : RgbColor{nextRandomByte(), nextRandomByte(), nextRandomByte()};
    }
    return palette;
}

// One stereogram frame of the sample world in `screen`.
void drawStereogramFrame(World& world, DepthMap& screen) {
    fillDepthMap(screen, 0);
    world.update(kFrameDt);
    world.draw(screen);
    renderStereogram(screen, PatternSettings{});
}

// What --render --frames 100 does per run, files aside: world, stereogram,
// PNG. Arguments: zlib level, row filters on (1) or off (0).
void BM_Render100StereogramFramesToPng(benchmark::State& state) {
    World world;
    WorldProblems problems;
    loadWorld(world, kSampleWorld.c_str(), problems);
    if (world.elements.empty()) state.SkipWithError("sample world did not load");
    seedRandom(1);
    const RgbPalette palette = greyRampPalette();
    const PngSettings settings{static_cast<int>(state.range(0)), state.range(1) != 0};
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    std::vector<std::uint8_t> bytes;
    std::size_t lastSize = 0;
    for (auto _ : state) {
        for (int frame = 0; frame < kFramesPerRun; ++frame) {
            drawStereogramFrame(world, *screen);
            if (!encodeIndexedPng(*screen, palette, bytes, settings)) state.SkipWithError("encoding failed");
            lastSize = bytes.size();
            benchmark::DoNotOptimize(bytes.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kFramesPerRun);  // items/s: frames a second
    state.counters["png_bytes"] = static_cast<double>(lastSize);
    releasePattern();
}
BENCHMARK(BM_Render100StereogramFramesToPng)
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({6, 0})
    ->Args({0, 0})
    ->Unit(benchmark::kMillisecond);

// The same frames without the PNG: what the world and the stereogram cost.
void BM_Render100StereogramFramesNoPng(benchmark::State& state) {
    World world;
    WorldProblems problems;
    loadWorld(world, kSampleWorld.c_str(), problems);
    if (world.elements.empty()) state.SkipWithError("sample world did not load");
    seedRandom(1);
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    for (auto _ : state) {
        for (int frame = 0; frame < kFramesPerRun; ++frame) {
            drawStereogramFrame(world, *screen);
            benchmark::DoNotOptimize(screen->pixels);
        }
    }
    state.SetItemsProcessed(state.iterations() * kFramesPerRun);
    releasePattern();
}
BENCHMARK(BM_Render100StereogramFramesNoPng)->Unit(benchmark::kMillisecond);

// The encoder alone on one stereogram frame, at each setting.
void BM_EncodeStereogramPng(benchmark::State& state) {
    World world;
    WorldProblems problems;
    loadWorld(world, kSampleWorld.c_str(), problems);
    seedRandom(1);
    const RgbPalette palette = greyRampPalette();
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    drawStereogramFrame(world, *screen);
    releasePattern();
    const PngSettings settings{static_cast<int>(state.range(0)), state.range(1) != 0};
    std::vector<std::uint8_t> bytes;
    for (auto _ : state) {
        encodeIndexedPng(*screen, palette, bytes, settings);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["png_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_EncodeStereogramPng)
    ->ArgsProduct({{0, 1, 3, 6, 9}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
