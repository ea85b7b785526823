// The markup reader on a large world description and on one very wide
// element (its cost must grow linearly), and the number writer and reader
// the caption and the world builder call.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "markup/text.hpp"
#include "markup/xml.hpp"

using namespace tolvane;

namespace {

// About 1 MiB: a World with `count` elements, each with attributes and a few
// words of text, and one nested child every tenth element.
std::string worldDescription(int count) {
    std::string text = "<World>\n";
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        text += "  <element type=\"ani\" imagename=\"bird" + n + "\" x=\"" + n + "\" y=\"-" + n +
                "\" fps=\"12.5\" startframe=\"0.75\">flies by";
        text += i % 10 == 0 ? "<frame index=" + n + " /></element>\n" : "</element>\n";
    }
    text += "</World>\n";
    return text;
}

void BM_ParseWorldDescription(benchmark::State& state) {
    const std::string text = worldDescription(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        XmlNode root;
        benchmark::DoNotOptimize(root.parse(text, 0));
        benchmark::DoNotOptimize(root.childCount());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
    state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ParseWorldDescription)->Arg(10000)->Unit(benchmark::kMillisecond);

// One element with n children, n attributes or n words: ten times the
// items should cost about ten times as much.
std::string wideElement(int kind, int n) {
    std::string text = "<wide";
    for (int i = 0; kind == 1 && i < n; ++i) {
        text += " a" + std::to_string(i) + "=\"v\"";
    }
    text += ">";
    for (int i = 0; i < n; ++i) {
        text += kind == 0 ? "<c />" : kind == 2 ? " word" : "";
    }
    return text + "</wide>";
}

void BM_ParseWideElement(benchmark::State& state) {
    const std::string text = wideElement(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        XmlNode root;
        benchmark::DoNotOptimize(root.parse(text, 0));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(1));
}
// First argument: 0 children, 1 attributes, 2 words.
BENCHMARK(BM_ParseWideElement)
    ->ArgNames({"kind", "n"})
    ->ArgsProduct({{0, 1, 2}, {1000, 10000}})
    ->Unit(benchmark::kMicrosecond);

void BM_FindNextOverWorld(benchmark::State& state) {
    XmlNode root;
    root.parse(worldDescription(1000), 0);
    for (auto _ : state) {
        int found = 0;
        for (const XmlNode* n = root.findNext("frame", nullptr); n != nullptr; n = root.findNext("frame", n)) {
            ++found;
        }
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_FindNextOverWorld)->Unit(benchmark::kMillisecond);

void BM_FormatFloatCaption(benchmark::State& state) {
    double rate = 59.99999;
    for (auto _ : state) {
        benchmark::DoNotOptimize(formatFloat(rate, FloatFormat{4}));
        rate += 0.001;
    }
}
BENCHMARK(BM_FormatFloatCaption);

void BM_FormatFloatUnlimited(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(formatFloat(1.0 / 3.0));
    }
}
BENCHMARK(BM_FormatFloatUnlimited);

void BM_ParseFloat(benchmark::State& state) {
    const char* text = "-123.456";
    for (auto _ : state) {
        benchmark::DoNotOptimize(text);
        benchmark::DoNotOptimize(parseFloat(text));
    }
}
BENCHMARK(BM_ParseFloat);

}  // namespace
