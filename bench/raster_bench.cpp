// The per-frame raster work beside plain memory copies of the same size.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <random>

#include "depth/cpu_level_testing.hpp"
#include "depth/depth_map.hpp"

using namespace tolvane;

namespace {

constexpr std::int32_t kScreenW = 640;
constexpr std::int32_t kScreenH = 480;
constexpr std::int64_t kScreenBytes = std::int64_t{kScreenW} * kScreenH;
constexpr std::int32_t kSpriteSide = 64;

DepthMapPtr noiseMap(std::int32_t w, std::int32_t h, std::uint32_t seed) {
    std::mt19937 random(seed);
    DepthMapPtr map = createDepthMap(w, h);
    for (std::int64_t i = 0; i < std::int64_t{w} * h; ++i) {
        map->pixels[i] = static_cast<std::uint8_t>(random() % 32);
    }
    return map;
}

// A disc of depths on a transparent square, like a sprite frame.
DepthMapPtr discSprite() {
    DepthMapPtr sprite = createDepthMap(kSpriteSide, kSpriteSide);
    const std::int32_t c = kSpriteSide / 2;
    for (std::int32_t y = 0; y < kSpriteSide; ++y) {
        for (std::int32_t x = 0; x < kSpriteSide; ++x) {
            const std::int32_t r2 = (x - c) * (x - c) + (y - c) * (y - c);
            *pixelAddress(*sprite, x, y) = r2 < c * c ? static_cast<std::uint8_t>(1 + (c * c - r2) / 64) : 0;
        }
    }
    return sprite;
}

// The blit benchmarks run on the kernel level named by their argument: 0 the
// detected one, then 1 + its place in kCpuLevels (Scalar, Ssse3, Avx2,
// Avx512), held in `level` for the benchmark's run. False, reporting an
// error, when this processor lacks the level.
bool useLevel(benchmark::State& state, std::optional<ForcedCpuLevel>& level) {
    if (state.range(0) != 0) {
        level.emplace(kCpuLevels[state.range(0) - 1]);
        if (!level->active()) {
            state.SkipWithError("level not supported here");
            return false;
        }
    }
    state.SetLabel(cpuLevelName(detectedCpuLevel()));
    return true;
}

void BM_BlitSceneFullScreen(benchmark::State& state) {
    std::optional<ForcedCpuLevel> level;
    if (!useLevel(state, level)) {
        return;
    }
    DepthMapPtr image = noiseMap(kScreenW, kScreenH, 1);
    removeDepthSlope(*image);
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    const std::int32_t rowPhase = computeRowPhase(7);
    for (auto _ : state) {
        blitScene(*image, image->area, *screen, 0, 0, rowPhase);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kScreenBytes);
}
BENCHMARK(BM_BlitSceneFullScreen)->ArgName("level")->DenseRange(0, 4);

void BM_BlitSprite64(benchmark::State& state) {
    std::optional<ForcedCpuLevel> level;
    if (!useLevel(state, level)) {
        return;
    }
    DepthMapPtr sprite = discSprite();
    DepthMapPtr screen = noiseMap(kScreenW, kScreenH, 2);
    for (auto _ : state) {
        blitSprite(*sprite, sprite->area, *screen, 301, 207);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kSpriteSide * kSpriteSide);
}
BENCHMARK(BM_BlitSprite64)->ArgName("level")->DenseRange(0, 4);

void BM_FillDepthMap(benchmark::State& state) {
    DepthMapPtr screen = createDepthMap(kScreenW, kScreenH);
    for (auto _ : state) {
        fillDepthMap(*screen, 0);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kScreenBytes);
}
BENCHMARK(BM_FillDepthMap);

// The yardsticks: a plain copy of as many bytes as the blit or fill above.
void BM_MemcpyFrame(benchmark::State& state) {
    DepthMapPtr from = noiseMap(kScreenW, kScreenH, 3);
    DepthMapPtr to = createDepthMap(kScreenW, kScreenH);
    for (auto _ : state) {
        std::memcpy(to->pixels, from->pixels, static_cast<std::size_t>(kScreenBytes));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kScreenBytes);
}
BENCHMARK(BM_MemcpyFrame);

void BM_MemcpySprite64(benchmark::State& state) {
    DepthMapPtr from = noiseMap(kSpriteSide, kSpriteSide, 4);
    DepthMapPtr to = createDepthMap(kSpriteSide, kSpriteSide);
    for (auto _ : state) {
        std::memcpy(to->pixels, from->pixels, std::size_t{kSpriteSide} * kSpriteSide);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kSpriteSide * kSpriteSide);
}
BENCHMARK(BM_MemcpySprite64);

}  // namespace
