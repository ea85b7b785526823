// A whole frame of the sample world beside the plain stereogram transform
// alone, and the world's drawing cost for many sprites: per element turned
// away off screen, and per pixel drawn.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/stereo_oracle.hpp"
#include "depth/cpu_level.hpp"
#include "depth/cpu_level_testing.hpp"
#include "markup/xml.hpp"
#include "stereo/echo_free.hpp"
#include "stereo/stereogram.hpp"
#include "world/elements.hpp"
#include "world/images.hpp"
#include "world/world.hpp"

using namespace tolvane;

namespace {

constexpr std::int32_t kScreenW = 640;
constexpr std::int32_t kScreenH = 480;
constexpr float kFrameDt = 1.0f / 60.0f;

// The checked-in sample world, read from its own folder as the demo does.
std::unique_ptr<World> sampleWorld() {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(TOLVANE_SOURCE_DIR) / "assets");
    auto world = std::make_unique<World>();
    XmlNode root;
    root.loadFile("world.xml");
    world->build(root.findFirst("World"));
    std::filesystem::current_path(previous);
    return world;
}

// Clear, update, draw, renew the dots and transform: everything a stereogram
// frame of the demo does to its depth map.
void runSampleWorldFrame(benchmark::State& state) {
    auto world = sampleWorld();
    if (world->elements.empty()) state.SkipWithError("sample world did not load");
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    StereogramState stereogram;
    RandomGenerator random;
    for (auto _ : state) {
        fillDepthMap(*screen, 0);
        world->update(kFrameDt);
        world->draw(*screen);
        renderStereogram(stereogram, random, *screen, PatternSettings{});  // the defaults: dots renewed
        benchmark::DoNotOptimize(screen->pixels);
        benchmark::ClobberMemory();
    }
}

void BM_SampleWorldFrame(benchmark::State& state) { runSampleWorldFrame(state); }
BENCHMARK(BM_SampleWorldFrame)->Unit(benchmark::kMicrosecond);

// The same frame on the plain path, which is what the WebAssembly build
// runs: the figure its frame step in the browser compares with.
void BM_SampleWorldFrameScalar(benchmark::State& state) {
    const ForcedCpuLevel scalar(CpuLevel::Scalar);
    runSampleWorldFrame(state);
}
BENCHMARK(BM_SampleWorldFrameScalar)->Unit(benchmark::kMicrosecond);

// The world's share of that frame: clear, update, draw.
void BM_SampleWorldDraw(benchmark::State& state) {
    auto world = sampleWorld();
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    for (auto _ : state) {
        fillDepthMap(*screen, 0);
        world->update(kFrameDt);
        world->draw(*screen);
        benchmark::DoNotOptimize(screen->pixels);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SampleWorldDraw)->Unit(benchmark::kMicrosecond);

// The plain scalar transform alone over the sample world's depth map; the
// depths are put back outside the timing.
// A stereogram transform over the sample world's first frame, the depths
// copied back before each run (not timed).
template <typename Transform>
void runOnSampleWorld(benchmark::State& state, Transform transform) {
    auto world = sampleWorld();
    DepthMapPtr depths = createDepthMap(kScreenW, kScreenH);
    fillDepthMap(*depths, 0);
    world->draw(*depths);
    DepthMapPtr pattern = createDepthMap(128, 60);
    for (std::int32_t i = 0; i < 128 * 60; ++i) pattern->pixels[i] = static_cast<std::uint8_t>(i * 73 + 11);
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    const std::size_t bytes = std::size_t{kScreenW} * kScreenH;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(screen->pixels, depths->pixels, bytes);
        state.ResumeTiming();
        transform(*screen, *pattern);
        benchmark::DoNotOptimize(screen->pixels);
        benchmark::ClobberMemory();
    }
}

void BM_SampleWorldOracleTransform(benchmark::State& state) { runOnSampleWorld(state, oracleTransform); }
BENCHMARK(BM_SampleWorldOracleTransform)->Unit(benchmark::kMicrosecond);

// The echo-free transform over the same depths, to hold within twice
// BM_StereoOracle.
void BM_SampleWorldEchoFree(benchmark::State& state) {
    EchoFreeScratch scratch;
    runOnSampleWorld(state, [&scratch](DepthMap& map, const DepthMap& pattern) {
        transformStereogramEchoFree(map, pattern, scratch);
    });
}
BENCHMARK(BM_SampleWorldEchoFree)->Unit(benchmark::kMicrosecond);

// A world of one sprite sheet (four 32 x 32 frames) and `count` ani elements;
// `onScreen` of them stand where they are wholly visible, the rest far off.
std::unique_ptr<World> spriteWorld(std::int32_t count, std::int32_t onScreen, std::int32_t side) {
    auto world = std::make_unique<World>();
    auto sheet = std::make_unique<SpriteImage>();
    sheet->name.assign("dot");
    sheet->map = createDepthMap(side * 4, side);
    for (std::int32_t i = 0; i < side * 4 * side; ++i) sheet->map->pixels[i] = static_cast<std::uint8_t>(1 + i % 7);
    sheet->sizeX = side;
    sheet->sizeY = side;
    sheet->framesAcross = 4;
    sheet->framesDown = 1;
    SpriteImage* image = sheet.get();
    world->addImage(std::move(sheet));
    for (std::int32_t i = 0; i < count; ++i) {
        auto element = std::make_unique<AniElement>();
        element->world = world.get();
        element->image = image;
        ++image->useCount;
        const bool visible = i < onScreen;
        // Visible ones spread over the screen; the others to the left, right,
        // above and below it in turn.
        const std::int32_t spreadX = side + (i * 37) % (kScreenW - 2 * side);
        const std::int32_t spreadY = side + (i * 53) % (kScreenH - 2 * side);
        const std::int32_t far[4][2] = {{-5000, spreadY}, {9000, spreadY}, {spreadX, -4000}, {spreadX, 7000}};
        element->x = visible ? spreadX : far[i % 4][0];
        element->y = visible ? spreadY : far[i % 4][1];
        element->fps = 10.0f;
        element->time = static_cast<float>(i % 4) / 10.0f;
        world->addElement(std::move(element));
    }
    return world;
}

void drawLoop(benchmark::State& state, World& world) {
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    for (auto _ : state) {
        fillDepthMap(*screen, 0);
        world.update(kFrameDt);
        world.draw(*screen);
        benchmark::DoNotOptimize(screen->pixels);
        benchmark::ClobberMemory();
    }
}

// Update and draw of off-screen elements only (no clear): the cost of one
// element that is turned away, per element.
void BM_OffScreenElement(benchmark::State& state) {
    auto world = spriteWorld(1000, 0, 32);
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    for (auto _ : state) {
        world->update(kFrameDt);
        world->draw(*screen);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_OffScreenElement)->Unit(benchmark::kMicrosecond);

// 1,000 sprites of 32 x 32, half of them off screen.
void BM_ThousandSpritesHalfOffScreen(benchmark::State& state) {
    auto world = spriteWorld(1000, 500, 32);
    drawLoop(state, *world);
}
BENCHMARK(BM_ThousandSpritesHalfOffScreen)->Unit(benchmark::kMicrosecond);

// 200 visible sprites of side x side: the cost per drawn pixel should stay
// flat as the side grows. Counts pixels as items.
void BM_SpriteArea(benchmark::State& state) {
    const auto side = static_cast<std::int32_t>(state.range(0));
    auto world = spriteWorld(200, 200, side);
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    for (auto _ : state) {
        world->update(kFrameDt);
        world->draw(*screen);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 200 * side * side);
}
BENCHMARK(BM_SpriteArea)->Arg(8)->Arg(16)->Arg(32)->Arg(64)->Arg(128)->Unit(benchmark::kMicrosecond);

// Building from a large description: images and elements of types the
// builder skips, so the figure is the walk over the tree alone. Doubling the
// count should double the time.
void BM_BuildLargeDescription(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::string text = "<World>";
    for (std::size_t i = 0; i < count; ++i) text += "<image type=\"note\" /><element type=\"note\" />";
    text += "</World>";
    XmlNode root;
    root.parse(text, 0);
    for (auto _ : state) {
        World world;
        world.build(&root);
        benchmark::DoNotOptimize(world.images.count());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(2 * count));
}
BENCHMARK(BM_BuildLargeDescription)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);

}  // namespace
