// Encoding and decoding the compressed depth formats on a screen-sized map
// of typical content. Throughput is in pixels (bytes of the map) per second.

#include <benchmark/benchmark.h>

#include <random>

#include "depth/compressed_file.hpp"

using namespace tolvane;

namespace {

constexpr std::int32_t kWidth = 640;
constexpr std::int32_t kHeight = 480;

// A floor rising a level every 15 rows, a few broad shapes standing on it,
// and one pixel in fifty of noise: long runs with short ones between.
DepthMapPtr typicalMap() {
    DepthMapPtr map = createDepthMap(kWidth, kHeight);
    std::mt19937 random(42);
    for (std::int32_t y = 0; y < kHeight; ++y) {
        std::uint8_t* row = pixelAddress(*map, 0, y);
        for (std::int32_t x = 0; x < kWidth; ++x) {
            std::uint8_t depth = std::uint8_t(y / 15);
            if ((x - 160) * (x - 160) + (y - 200) * (y - 200) < 90 * 90) depth = 24;
            if (x >= 380 && x < 560 && y >= 120 && y < 300) depth = 18;
            if (x >= 40 && x < 120 && y >= 330 && y < 450) depth = 31;
            if (random() % 50 == 0) depth = std::uint8_t(random() % 32);
            row[x] = depth;
        }
    }
    return map;
}

void setPixelsProcessed(benchmark::State& state) {
    state.SetBytesProcessed(std::int64_t(state.iterations()) * kWidth * kHeight);
}

void BM_EncodeSchm(benchmark::State& state) {
    const DepthMapPtr map = typicalMap();
    for (auto _ : state) benchmark::DoNotOptimize(encodeSchm(*map));
    setPixelsProcessed(state);
    state.counters["file_bytes"] = double(encodeSchm(*map).size());
}
BENCHMARK(BM_EncodeSchm);

void BM_EncodeScmhm(benchmark::State& state) {
    const DepthMapPtr map = typicalMap();
    for (auto _ : state) benchmark::DoNotOptimize(encodeScmhm(*map));
    setPixelsProcessed(state);
    state.counters["file_bytes"] = double(encodeScmhm(*map).size());
}
BENCHMARK(BM_EncodeScmhm);

// The whole reader on the file's bytes, the new map's allocation included.
void BM_DecodeSchm(benchmark::State& state) {
    const std::vector<std::uint8_t> file = encodeSchm(*typicalMap());
    for (auto _ : state) benchmark::DoNotOptimize(decodeSchm(file));
    setPixelsProcessed(state);
}
BENCHMARK(BM_DecodeSchm);

void BM_DecodeScmhm(benchmark::State& state) {
    const std::vector<std::uint8_t> file = encodeScmhm(*typicalMap());
    for (auto _ : state) benchmark::DoNotOptimize(decodeScmhm(file));
    setPixelsProcessed(state);
}
BENCHMARK(BM_DecodeScmhm);

// The run decoding alone, into a map that already exists.
void BM_DecodeSchmRuns(benchmark::State& state) {
    const std::vector<std::uint8_t> file = encodeSchm(*typicalMap());
    const DepthMapPtr map = createDepthMap(kWidth, kHeight);
    const std::span<const std::uint8_t> runs(file.data() + 8, file.size() - 8);
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeSchmRuns(*map, runs));
        benchmark::ClobberMemory();
    }
    setPixelsProcessed(state);
}
BENCHMARK(BM_DecodeSchmRuns);

void BM_DecodeScmhmGroups(benchmark::State& state) {
    const std::vector<std::uint8_t> file = encodeScmhm(*typicalMap());
    const DepthMapPtr map = createDepthMap(kWidth, kHeight);
    const std::span<const std::uint8_t> groups(file.data() + 8, file.size() - 8);
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeScmhmGroups(*map, groups));
        benchmark::ClobberMemory();
    }
    setPixelsProcessed(state);
}
BENCHMARK(BM_DecodeScmhmGroups);

}  // namespace
