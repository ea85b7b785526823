// The headless renderer's cost: 100 stereogram frames of the sample world
// turned into PNG files in memory, and the PNG encoder alone at each zlib
// level with and without row filters, to show where the time goes and what
// the chosen settings buy; whole renders on one and two cores, and the cost
// of starting a render far into its sequence.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/engine.hpp"
#include "app/render.hpp"
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
RgbPalette greyRampPalette(RandomGenerator& random) {
    RgbPalette palette;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const auto grey = static_cast<std::uint8_t>(i * 8);
        palette[i] = i < 32 ? RgbColor{grey, grey, grey}
                            : RgbColor{nextRandomByte(random), nextRandomByte(random), nextRandomByte(random)};
    }
    return palette;
}

// What a frame draws with besides the world.
struct FrameState {
    RandomGenerator random{1};
    StereogramState stereogram;
};

// One stereogram frame of the sample world in `screen`.
void drawStereogramFrame(World& world, FrameState& frame, DepthMap& screen) {
    fillDepthMap(screen, 0);
    world.update(kFrameDt);
    world.draw(screen);
    renderStereogram(frame.stereogram, frame.random, screen, PatternSettings{});
}

// What --render --frames 100 does per run, files aside: world, stereogram,
// PNG. Arguments: zlib level, row filters on (1) or off (0).
void BM_Render100StereogramFramesToPng(benchmark::State& state) {
    World world;
    WorldProblems problems;
    loadWorld(world, kSampleWorld.c_str(), problems);
    if (world.elements.empty()) state.SkipWithError("sample world did not load");
    FrameState frameState;
    const RgbPalette palette = greyRampPalette(frameState.random);
    const PngSettings settings{static_cast<int>(state.range(0)), state.range(1) != 0};
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    std::vector<std::uint8_t> bytes;
    std::size_t lastSize = 0;
    for (auto _ : state) {
        for (int frame = 0; frame < kFramesPerRun; ++frame) {
            drawStereogramFrame(world, frameState, *screen);
            if (!encodeIndexedPng(*screen, palette, bytes, settings)) state.SkipWithError("encoding failed");
            lastSize = bytes.size();
            benchmark::DoNotOptimize(bytes.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kFramesPerRun);  // items/s: frames a second
    state.counters["png_bytes"] = static_cast<double>(lastSize);
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
    FrameState frameState;
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    for (auto _ : state) {
        for (int frame = 0; frame < kFramesPerRun; ++frame) {
            drawStereogramFrame(world, frameState, *screen);
            benchmark::DoNotOptimize(screen->pixels);
        }
    }
    state.SetItemsProcessed(state.iterations() * kFramesPerRun);
}
BENCHMARK(BM_Render100StereogramFramesNoPng)->Unit(benchmark::kMillisecond);

// The encoder alone on one stereogram frame, at each setting.
void BM_EncodeStereogramPng(benchmark::State& state) {
    World world;
    WorldProblems problems;
    loadWorld(world, kSampleWorld.c_str(), problems);
    FrameState frameState;
    const RgbPalette palette = greyRampPalette(frameState.random);
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    drawStereogramFrame(world, frameState, *screen);
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

// The whole of `tolvane --render` for 200 stereogram frames of the sample
// world into PNG files, with 1 and 2 jobs: wall time, as a user waits for
// it. On a machine with two free cores two jobs should take well under
// two thirds of one job's time.
void BM_Render200FramesWithJobs(benchmark::State& state) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tolvane_bench_jobs_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    RenderOptions options;
    options.output = (folder / "frame.png").string();
    options.worldFile = kSampleWorld;
    options.frames = 200;
    options.seeded = true;
    options.seed = 1;
    options.jobs = static_cast<int>(state.range(0));
    std::ostringstream err;
    for (auto _ : state) {
        if (runRenderer(options, err) != 0) state.SkipWithError("render failed");
    }
    state.SetItemsProcessed(state.iterations() * options.frames);
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_Render200FramesWithJobs)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// An engine passing over the first 100,000 frames of a stereogram render of
// the sample world and drawing frame 100,000: what --first-frame 100000
// costs beyond its own frames.
void BM_FirstFrame100000(benchmark::State& state) {
    RenderOptions options;
    options.worldFile = kSampleWorld;
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    constexpr int kFirst = 100000;
    for (auto _ : state) {
        Engine engine;
        engine.worldFile = options.worldFile;
        startEngine(engine, 1);
        const FrameCommand setup = renderCommand(options);
        const FrameCommand none;
        for (int index = 0; index < kFirst; ++index) {
            stepEngine(engine, index == 0 ? setup : none, nullptr, FrameTime::after(kFrameDt));
        }
        stepEngine(engine, none, screen.get(), FrameTime::after(kFrameDt));
        benchmark::DoNotOptimize(screen->pixels);
    }
}
BENCHMARK(BM_FirstFrame100000)->Unit(benchmark::kMillisecond);

}  // namespace
