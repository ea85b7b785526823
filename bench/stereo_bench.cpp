// The stereogram transform at the demo's size beside its plain form, the
// pattern renewal (each generator loop, and the C library's rand() it
// replaces), and a byte-per-pixel pass as a floor.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>

#include "bench/stereo_oracle.hpp"
#include "depth/cpu_level_testing.hpp"
#include "stereo/echo_free.hpp"
#include "stereo/random.hpp"
#include "stereo/stereogram.hpp"

using namespace tolvane;

namespace {

constexpr std::int32_t kScreenW = 640;
constexpr std::int32_t kScreenH = 480;
constexpr std::size_t kScreenBytes = std::size_t{kScreenW} * kScreenH;

// What the world step leaves: the floor's slope, a few broad near shapes, and
// a sprinkling of noise so that no row is uniform.
DepthMapPtr sceneDepths() {
    std::mt19937 random(11);
    DepthMapPtr map = createDepthMap(kScreenW, kScreenH);
    for (std::int32_t y = 0; y < kScreenH; ++y) {
        for (std::int32_t x = 0; x < kScreenW; ++x) {
            std::int32_t d = y / 15;
            const std::int32_t dx = x - 320;
            const std::int32_t dy = y - 240;
            if (dx * dx + dy * dy < 120 * 120) {
                d = 24 + (120 * 120 - dx * dx - dy * dy) / 2000;
            } else if (x > 40 && x < 200 && y > 60 && y < 300) {
                d = 18;
            } else if (x > 460 && x < 600 && y > 200 && y < 420) {
                d = 12 + (x - 460) / 20;
            }
            if (random() % 8 == 0) {
                d += static_cast<std::int32_t>(random() % 3) - 1;
            }
            *pixelAddress(*map, x, y) = static_cast<std::uint8_t>(d < 0 ? 0 : (d > 31 ? 31 : d));
        }
    }
    return map;
}

DepthMapPtr fixedPattern() {
    std::mt19937 random(12);
    DepthMapPtr pattern = createDepthMap(128, 60);
    for (std::int32_t i = 0; i < 128 * 60; ++i) {
        pattern->pixels[i] = static_cast<std::uint8_t>(random());
    }
    return pattern;
}

template <class Transform>
void runTransform(benchmark::State& state, Transform transform) {
    const DepthMapPtr depths = sceneDepths();
    const DepthMapPtr pattern = fixedPattern();
    DepthMapPtr frame = createDepthMap(kScreenW, kScreenH);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(frame->pixels, depths->pixels, kScreenBytes);
        state.ResumeTiming();
        transform(*frame, *pattern);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kScreenBytes));
}

void BM_StereoOracle(benchmark::State& state) { runTransform(state, oracleTransform); }
BENCHMARK(BM_StereoOracle);

// The transforms as an engine runs them: their working memory kept from
// frame to frame.
StereogramState kept;

void transform(DepthMap& map, const DepthMap& pattern) { transformStereogram(map, pattern, kept.doubledRows); }

void BM_StereoTransform(benchmark::State& state) { runTransform(state, transform); }
BENCHMARK(BM_StereoTransform);

// The same on the kernels of one level.
void transformAt(benchmark::State& state, CpuLevel level) {
    const ForcedCpuLevel forced(level);
    if (!forced.active()) {
        state.SkipWithError("level not supported here");
        return;
    }
    runTransform(state, transform);
}

void BM_StereoTransformAvx512(benchmark::State& state) { transformAt(state, CpuLevel::Avx512); }
BENCHMARK(BM_StereoTransformAvx512);
void BM_StereoTransformAvx2(benchmark::State& state) { transformAt(state, CpuLevel::Avx2); }
BENCHMARK(BM_StereoTransformAvx2);
void BM_StereoTransformSsse3(benchmark::State& state) { transformAt(state, CpuLevel::Ssse3); }
BENCHMARK(BM_StereoTransformSsse3);
void BM_StereoTransformScalar(benchmark::State& state) { transformAt(state, CpuLevel::Scalar); }
BENCHMARK(BM_StereoTransformScalar);

// 7,680 random draws: what PatternEveryFrame costs per frame.
void BM_PatternRenewal(benchmark::State& state) {
    DepthMapPtr pattern = createDepthMap(128, 60);
    RandomGenerator random;
    for (auto _ : state) {
        fillRandom(random, *pattern);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 128 * 60);
}
// Passing over 100,000 stereogram frames' renewals of the 128 x 60 pattern
// and drawing the next value: what a render starting at frame 100,000 costs
// the generator.
void BM_SkipRandom100000Frames(benchmark::State& state) {
    RandomGenerator random(1);
    for (auto _ : state) {
        skipRandom(random, std::uint64_t{100000} * 128 * 60);
        benchmark::DoNotOptimize(nextRandom(random));
    }
}
BENCHMARK(BM_SkipRandom100000Frames)->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_PatternRenewal);

void renewalWith(benchmark::State& state, CpuLevel level) {
    const ForcedCpuLevel forced(level);
    if (!forced.active()) {
        state.SkipWithError("level not supported here");
        return;
    }
    BM_PatternRenewal(state);
}

void BM_PatternRenewalAvx512(benchmark::State& state) { renewalWith(state, CpuLevel::Avx512); }
BENCHMARK(BM_PatternRenewalAvx512);
void BM_PatternRenewalScalar(benchmark::State& state) { renewalWith(state, CpuLevel::Scalar); }
BENCHMARK(BM_PatternRenewalScalar);

// The same draws from the C library's rand(), which takes a lock per call.
void BM_PatternRenewalLibcRand(benchmark::State& state) {
    DepthMapPtr pattern = createDepthMap(128, 60);
    for (auto _ : state) {
        for (std::int32_t i = 0; i < 128 * 60; ++i) {
            pattern->pixels[i] = static_cast<std::uint8_t>(std::rand() & 0xFF);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 128 * 60);
}
BENCHMARK(BM_PatternRenewalLibcRand);

// The least any per-pixel transform can do: read each depth byte and write
// one byte that depends on it, in place, as the transform does. The compiler
// vectorises it, so it runs at the memory's pace.
void BM_DepthReadWritePass(benchmark::State& state) {
    const DepthMapPtr depths = sceneDepths();
    DepthMapPtr frame = createDepthMap(kScreenW, kScreenH);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(frame->pixels, depths->pixels, kScreenBytes);
        state.ResumeTiming();
        std::uint8_t* p = frame->pixels;
        for (std::size_t i = 0; i < kScreenBytes; ++i) {
            p[i] = static_cast<std::uint8_t>(p[i] * 37 + 5);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kScreenBytes));
}
BENCHMARK(BM_DepthReadWritePass);

// The echo-free transform on BM_StereoOracle's frame: the figure to hold
// within twice the oracle's.
void BM_StereoEchoFree(benchmark::State& state) {
    runTransform(state,
                 [](DepthMap& map, const DepthMap& pattern) { transformStereogramEchoFree(map, pattern, kept.echoFree); });
}
BENCHMARK(BM_StereoEchoFree);

// The same on the loops of one level.
void echoFreeAt(benchmark::State& state, CpuLevel level) {
    const ForcedCpuLevel forced(level);
    if (!forced.active()) {
        state.SkipWithError("level not supported here");
        return;
    }
    BM_StereoEchoFree(state);
}

void BM_StereoEchoFreeAvx512(benchmark::State& state) { echoFreeAt(state, CpuLevel::Avx512); }
BENCHMARK(BM_StereoEchoFreeAvx512);
void BM_StereoEchoFreeAvx2(benchmark::State& state) { echoFreeAt(state, CpuLevel::Avx2); }
BENCHMARK(BM_StereoEchoFreeAvx2);
void BM_StereoEchoFreeScalar(benchmark::State& state) { echoFreeAt(state, CpuLevel::Scalar); }
BENCHMARK(BM_StereoEchoFreeScalar);

}  // namespace
