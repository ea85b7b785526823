#include "app/render.hpp"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <ostream>
#include <system_error>
#include <thread>

#include "app/depth_render.hpp"
#include "app/engine.hpp"
#include "depth/file_io.hpp"
#include "depth/indexed_bitmap.hpp"
#include "display/display.hpp"
#include "markup/text.hpp"
#include "world/world.hpp"

namespace tolvane {

namespace {

constexpr std::int32_t kFrameWidth = 640;
constexpr std::int32_t kFrameHeight = 480;
constexpr int kRenderFailed = 2;
constexpr int kMaxPictureNumber = 9999;

DepthOutcome encodePicture(const DepthMap& image, const RgbPalette& palette, PictureFormat format,
                           std::vector<std::uint8_t>& bytes) {
    return format == PictureFormat::Bmp ? encodeIndexedBitmap(image, palette, bytes)
                                        : encodeIndexedPng(image, palette, bytes);
}

// The one place pictures reach the disk.
DepthOutcome writePictureFile(const char* fileName, const std::vector<std::uint8_t>& bytes) {
    return writeFileSafely(fileName, bytes);
}

}  // namespace

std::string renderFileName(const std::string& output, int index, bool numbered) {
    if (!numbered) return output;
    // The extension is one of the two four-byte ones the command line
    // accepts.
    const std::size_t stem = output.size() >= 4 ? output.size() - 4 : output.size();
    char number[16];
    std::snprintf(number, sizeof number, "-%04d", index);
    return output.substr(0, stem) + number + output.substr(stem);
}

RgbPalette currentPalette(const DisplayState& display) {
    RgbPalette palette;
    const SDL_Color* table = paletteTable(display);
    for (std::size_t i = 0; i < palette.size(); ++i) {
        palette[i] = RgbColor{table[i].r, table[i].g, table[i].b};
    }
    return palette;
}

DepthOutcome savePicture(const DepthMap& image, const RgbPalette& palette, PictureFormat format,
                         const char* fileName) {
    std::vector<std::uint8_t> bytes;
    return savePicture(image, palette, format, fileName, bytes);
}

DepthOutcome savePicture(const DepthMap& image, const RgbPalette& palette, PictureFormat format,
                         const char* fileName, std::vector<std::uint8_t>& buffer) {
    if (DepthOutcome encoded = encodePicture(image, palette, format, buffer); !encoded) return encoded;
    return writePictureFile(fileName, buffer);
}

DepthOutcome saveNumberedPicture(const DepthMap& image, const RgbPalette& palette, std::string& name) {
    name.clear();
    std::vector<std::uint8_t> bytes;
    if (DepthOutcome encoded = encodePicture(image, palette, PictureFormat::Png, bytes); !encoded) return encoded;
    // The complete picture waits under a temporary name and then takes the
    // first free number in one step, never replacing a file: an interrupted
    // save leaves no empty picture behind to hold a number for good.
    StagedFile file;
    DepthOutcome staged = file.openNew("stereogram-0001.png");
    if (staged) staged = file.write(bytes);
    if (staged) staged = file.finish();
    if (!staged) {
        name = "stereogram-0001.png";
        return staged;
    }
    for (int number = 1; number <= kMaxPictureNumber; ++number) {
        char candidate[32];
        std::snprintf(candidate, sizeof candidate, "stereogram-%04d.png", number);
        name = candidate;
        bool taken = false;
        DepthOutcome written = file.commitNew(candidate, taken);
        if (!taken) return written;
    }
    name.clear();
    return failedOutcome(DepthStatus::CannotWrite, "stereogram-0001.png to stereogram-9999.png all exist");
}

namespace {

// The frames of the sequence one job draws, [first, end), and how its
// first failure went.
struct RenderJob {
    int first = 0;
    int end = 0;
    bool reportWorld = false;  // one job tells the world's problems
    int failedFrame = -1;
    std::string failure;  // the line for it, without its end
};

// The time of frame `index` of the sequence, from its number each time: a
// sum of float steps drifts off the frames of the animations and, late in
// a long run, stops moving.
FrameTime renderFrameTime(const RenderOptions& options, int index) {
    return FrameTime::sinceStart(options.startTime + static_cast<double>(index) / options.fps);
}

// One job on an engine of its own: passes over the frames before its
// first as the step does, then draws and writes its own, stopping at the
// first failure or once an earlier frame of another job has failed.
void runRenderJob(const RenderOptions& options, std::uint32_t seed, RenderJob& job, std::atomic<int>& stopAfter,
                  std::ostream& err) {
    Engine engine;
    engine.worldFile = options.worldFile;
    engine.world.reportProblems = false;
    engine.world.sampleWorld = installedSampleWorld();
    startEngine(engine, seed);
    // Read before any file is written: a picture of an empty world would
    // only hide the mistake in a script. Every job finds the same.
    loadWorldOnce(engine.world, options.worldFile.c_str());
    const std::string label = escapeForDisplay(options.worldFile) + ": ";
    if (!engine.world.readable) {
        // The last line says why.
        job.failedFrame = -1;
        job.failure = label + problemLine(engine.world.problems.back());
        int stop = stopAfter.load();
        while (job.failedFrame < stop && !stopAfter.compare_exchange_weak(stop, job.failedFrame)) {
        }
        return;
    }
    if (job.reportWorld) {
        for (const WorldProblem& problem : engine.world.problems) err << label << problemLine(problem) << '\n';
    }
    const FrameCommand setup = renderCommand(options);
    const FrameCommand none;
    DepthMapPtr frame = createDepthMap(kFrameWidth, kFrameHeight);
    const bool numbered = options.frames > 1 || options.firstFrameGiven;
    // One buffer for every frame's file: a fresh one each time would cost
    // more in page faults than the world and the stereogram together.
    std::vector<std::uint8_t> bytes;
    for (int index = 0; index < job.end && index <= stopAfter.load(std::memory_order_relaxed); ++index) {
        const FrameCommand& command = index == 0 ? setup : none;
        if (index < job.first) {
            stepEngine(engine, command, nullptr, renderFrameTime(options, index));
            continue;
        }
        const std::string name = renderFileName(options.output, index, numbered);
        if (!frame) {
            job.failedFrame = index;
            job.failure = escapeForDisplay(options.output) + ": cannot render: out of memory";
            break;
        }
        stepEngine(engine, command, frame.get(), renderFrameTime(options, index));
        if (const DepthOutcome saved = savePicture(*frame, currentPalette(engine.display), options.format,
                                                   name.c_str(), bytes);
            !saved) {
            job.failedFrame = index;
            // The writer's own details already say what failed.
            const bool said = saved.detail.starts_with("cannot ");
            job.failure = escapeForDisplay(name) + (said ? ": " : ": cannot write: ") + escapeForDisplay(saved.detail);
            break;
        }
    }
    if (job.failedFrame >= 0) {
        int stop = stopAfter.load();
        while (job.failedFrame < stop && !stopAfter.compare_exchange_weak(stop, job.failedFrame)) {
        }
    }
}

}  // namespace

int runRenderer(const RenderOptions& options, std::ostream& err) {
    if (!options.depthFile.empty()) return runDepthRenderer(options, err);
    const std::uint32_t seed = options.seeded ? options.seed : static_cast<std::uint32_t>(std::time(nullptr));
    int jobs = options.jobs > 0 ? options.jobs : static_cast<int>(std::thread::hardware_concurrency());
    jobs = std::clamp(jobs, 1, options.frames);
    // Equal runs of frames, one after another: each engine passes over the
    // frames before its run once, then draws its run in order.
    std::vector<RenderJob> plan(static_cast<std::size_t>(jobs));
    const int begin = options.firstFrame;
    for (int j = 0; j < jobs; ++j) {
        RenderJob& job = plan[static_cast<std::size_t>(j)];
        job.first = begin + static_cast<int>(static_cast<std::int64_t>(options.frames) * j / jobs);
        job.end = begin + static_cast<int>(static_cast<std::int64_t>(options.frames) * (j + 1) / jobs);
        job.reportWorld = j == 0;
    }
    std::atomic<int> stopAfter{INT_MAX};
    {
        // Joined on the way out, as std::jthread would, which Emscripten's
        // C++ library does not have.
        std::vector<std::thread> threads;
        struct JoinAll {
            std::vector<std::thread>& threads;
            ~JoinAll() {
                for (std::thread& thread : threads) thread.join();
            }
        } joinAll{threads};
        // A job whose thread cannot be had runs here after the first: the
        // files are the same, only later.
        std::vector<RenderJob*> here{&plan[0]};
        for (int j = 1; j < jobs; ++j) {
            RenderJob& job = plan[static_cast<std::size_t>(j)];
            try {
                threads.emplace_back(
                    [&options, seed, &job, &stopAfter, &err] { runRenderJob(options, seed, job, stopAfter, err); });
            } catch (const std::system_error&) {
                here.push_back(&job);
            }
        }
        for (RenderJob* job : here) runRenderJob(options, seed, *job, stopAfter, err);
    }
    // The earliest failure is the one told, as a render on one core would.
    for (const RenderJob& job : plan) {
        if (!job.failure.empty() && job.failedFrame == stopAfter.load()) {
            err << job.failure << '\n';
            return kRenderFailed;
        }
    }
    return 0;
}

}  // namespace tolvane
