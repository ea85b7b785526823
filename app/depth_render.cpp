#include "app/depth_render.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <ostream>
#include <thread>
#include <vector>

#include "depth/depth_file.hpp"
#include "depth/file_io.hpp"
#include "depth/png_file.hpp"
#include "display/display.hpp"
#include "display/options.hpp"
#include "markup/text.hpp"
#include "stereo/echo_free.hpp"
#include "stereo/random.hpp"
#include "stereo/stereogram.hpp"

namespace tolvane {

namespace {

constexpr int kRenderFailed = 2;
constexpr int kWidestFrameNumber = 20;

// Grey ramp entries of the demo's palette: 0 is black, 31 the lightest grey.
constexpr std::uint8_t kBlackIndex = 0;
constexpr std::uint8_t kWhiteIndex = 31;

// One failure of a depth render: the line to print, file or option first.
struct Failure {
    std::string line;
};

std::string nameOf(const std::string& file) { return escapeForDisplay(file); }

// The random-dot palette and generator exactly as the world renderer sets
// them up, so that a seeded render draws the dots the demo would.
RgbPalette prepareDots(const RenderOptions& options, DisplayState& display) {
    seedRandom(display.random, options.seeded ? options.seed : static_cast<std::uint32_t>(std::time(nullptr)));
    buildPalette(display, getOption(display, OptionSlot::PaletteFlags));
    setOption(display, OptionSlot::PaletteFlags,
              options.greyDots ? paletteBits(PaletteFlag::GreyRamp | PaletteFlag::GreyDots)
                               : paletteBits(PaletteFlag::GreyRamp));
    return currentPalette(display);
}

// Depth d drawn as L - 1 - d: crossing the eyes swaps near and far.
void mirrorLevels(DepthMap& map, int levels) {
    const auto nearest = static_cast<std::uint8_t>(levels - 1);
    std::uint8_t* pixels = map.pixels;
    for (std::size_t i = 0, n = pixelCount(map); i < n; ++i) {
        pixels[i] = static_cast<std::uint8_t>(nearest - std::min(pixels[i], nearest));
    }
}

// The picture of one frame, read with the options' levels.
bool loadFrame(const std::string& name, const RenderOptions& options, DepthMapPtr& map, Failure& failure) {
    DepthResult loaded = loadDepthLevels(name.c_str(), options.depthLevels);
    if (!loaded) {
        failure.line = nameOf(name) + ": cannot read: " + escapeForDisplay(loaded.detail);
        return false;
    }
    if (pixelCount(*loaded.map) == 0) {
        failure.line = nameOf(name) + ": the picture has no pixels";
        return false;
    }
    map = std::move(loaded.map);
    return true;
}

// Frames 1 and on, looked at before anything is written: each must exist,
// start as its format does and have frame 0's size. A file whose size its
// header does not tell cheaply is read whole here, unless it is a pipe,
// which cannot be read twice; the render loop checks those.
bool checkSequence(const RenderOptions& options, std::int32_t width, std::int32_t height, Failure& failure) {
    for (int index = 1; index < options.frames; ++index) {
        std::string name;
        std::string error;
        depthFrameName(options.depthFile, index, name, error);
        std::int64_t w = 0;
        std::int64_t h = 0;
        if (!peekDepthFileSize(name.c_str(), w, h)) {
            struct stat info {};
            if (::stat(name.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) continue;
            DepthMapPtr map;
            if (!loadFrame(name, options, map, failure)) return false;
            w = map->area.w;
            h = map->area.h;
        }
        if (w != width || h != height) {
            failure.line = nameOf(name) + ": the picture is " + sizeText(w, h) + ", not " + sizeText(width, height) +
                           " as the first of the sequence";
            return false;
        }
    }
    return true;
}

// A file as the system knows it, whatever name or link leads to it.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    auto operator<=>(const FileId&) const = default;
};

bool identify(const std::string& name, FileId& id) {
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) return false;
    id = FileId{info.st_dev, info.st_ino};
    return true;
}

// No output may be one of the inputs: "--render d-%04d.png --depth
// d-%04d.png" would otherwise replace each picture of the sequence.
bool checkOutputsAreNotInputs(const RenderOptions& options, Failure& failure) {
    std::vector<std::pair<FileId, std::string>> inputs;
    FileId id;
    for (int index = 0; index < options.frames; ++index) {
        std::string name;
        std::string error;
        depthFrameName(options.depthFile, index, name, error);
        if (identify(name, id)) inputs.emplace_back(id, name);
    }
    if (!options.textureFile.empty() && identify(options.textureFile, id)) inputs.emplace_back(id, options.textureFile);
    std::sort(inputs.begin(), inputs.end());
    for (int index = 0; index < options.frames; ++index) {
        const std::string output = renderFileName(options.output, index, options.frames > 1);
        if (!identify(output, id)) continue;
        const auto found = std::lower_bound(inputs.begin(), inputs.end(), std::make_pair(id, std::string()));
        if (found != inputs.end() && found->first == id) {
            failure.line = nameOf(output) + ": cannot replace: it is the input picture " + nameOf(found->second);
            return false;
        }
    }
    return true;
}

// The options that depend on the picture: the pattern no wider than it, the
// levels below the pattern width.
bool checkFit(const RenderOptions& options, std::int32_t width, std::int32_t patternWidth,
              const std::string& patternName, Failure& failure) {
    if (patternWidth > width) {
        failure.line = patternName + " " + std::to_string(patternWidth) + " is wider than the picture (" +
                       std::to_string(width) + " pixels)";
        return false;
    }
    if (options.depthLevels >= patternWidth) {
        failure.line = "--depth-levels " + std::to_string(options.depthLevels) + " is not below the pattern width " +
                       std::to_string(patternWidth);
        return false;
    }
    return true;
}

// Two marks P apart (see placeGuideMarks): a dark disc in a light ring,
// `dark` and `light` being the values written into `plane`.
void drawGuideMarks(DepthMap& plane, std::int32_t patternWidth, std::uint8_t dark, std::uint8_t light) {
    GuideMarks marks;
    if (!placeGuideMarks(plane.area.w, plane.area.h, patternWidth, marks)) return;
    const std::int32_t ring = marks.radius + 2;
    for (const std::int32_t cx : {marks.leftX, marks.leftX + patternWidth}) {
        for (std::int32_t dy = -ring; dy <= ring; ++dy) {
            for (std::int32_t dx = -ring; dx <= ring; ++dx) {
                const std::int32_t x = cx + dx;
                const std::int32_t y = marks.y + dy;
                const std::int32_t d2 = dx * dx + dy * dy;
                if (x < 0 || x >= plane.area.w || y < 0 || y >= plane.area.h || d2 > ring * ring) continue;
                *pixelAddress(plane, x, y) = d2 <= marks.radius * marks.radius ? dark : light;
            }
        }
    }
}

std::array<DepthMapPtr, 3> copiesOf(const DepthMap& map) {
    std::array<DepthMapPtr, 3> planes;
    for (int c = 1; c < 3; ++c) {
        planes[c] = createDepthMap(map.area.w, map.area.h);
        if (!planes[c]) throw std::bad_alloc();
        std::memcpy(planes[c]->pixels, map.pixels, pixelCount(map));
    }
    return planes;
}

// The rows [first, last) of `map` as a map of their own, sharing its bytes.
DepthMap rowsOf(const DepthMap& map, std::int32_t first, std::int32_t last) {
    DepthMap rows;
    rows.pixels = map.pixels + std::size_t(first) * std::size_t(map.area.w);
    rows.area = Rect{0, 0, map.area.w, last - first};
    return rows;
}

// How random dots are drawn over a picture while it is still being read:
// the reading thread turns each band of whole pattern periods into dots as
// soon as it is decoded, and the compressing thread takes the rows that are
// final. On two cores reading and compressing, the two long steps, overlap.
// The reading thread waits for the other only when the file fails part way,
// until the compressing thread lets go of the map, which it does at its next
// row; the compressing thread waits only for rows, or the reader's end.
class DotsWhileReading final : public PngRowListener, public PngRowGate {
public:
    struct Plan {
        std::int32_t width = 0;   // the size the picture must have
        std::int32_t height = 0;
        const DepthMap* pattern = nullptr;
        bool echoFree = false;
        int mirrorLevels = 0;     // above 0: depths mirrored over this many levels
        bool guideMarks = false;
    };

    DotsWhileReading(const Plan& plan, StereogramState& state) : plan_(plan), state_(state) {
        GuideMarks marks;
        marksPending_ = plan.guideMarks &&
                        placeGuideMarks(plan.width, plan.height, plan.pattern->area.w, marks);
        if (marksPending_) {
            marksTop_ = marks.y - marks.radius - 2;
            marksBottom_ = marks.y + marks.radius + 2;
        }
    }

    bool begin(DepthMap& map) override {
        if (map.area.w != plan_.width || map.area.h != plan_.height) {
            otherSize_ = map.area;
            return false;
        }
        const std::lock_guard lock(mutex_);
        map_ = &map;
        changed_.notify_all();
        return true;
    }

    void rowsDecoded(std::int32_t rows) override {
        if (failed_) return;
        // Bands start on whole pattern periods, so each draws exactly what
        // the whole picture would.
        const std::int32_t period = plan_.pattern->area.h;
        const std::int32_t end = rows == plan_.height ? rows : rows - rows % period;
        if (end <= drawn_) return;
        DepthMap band = rowsOf(*map_, drawn_, end);
        if (plan_.mirrorLevels > 0) mirrorLevels(band, plan_.mirrorLevels);
        const bool made = plan_.echoFree ? transformStereogramEchoFree(band, *plan_.pattern, state_.echoFree)
                                         : transformStereogram(band, *plan_.pattern, state_.doubledRows);
        if (!made) {
            failed_ = true;
            publish(drawn_);
            return;
        }
        drawn_ = end;
        std::int32_t final = end;
        if (marksPending_) {
            // The marks go over dots already drawn, so the rows they cross
            // are final only once every one of them is.
            if (end > marksBottom_) {
                drawGuideMarks(*map_, plan_.pattern->area.w, kBlackIndex, kWhiteIndex);
                marksPending_ = false;
            } else {
                final = std::min(end, marksTop_);
            }
        }
        publish(final);
    }

    // The reader failed part way: the map goes once the compressing thread
    // has let go of it.
    void failing() override {
        std::unique_lock lock(mutex_);
        abandoned_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return compressorDone_; });
    }

    bool waitForRows(std::int32_t rows) override {
        if (rows <= known_) return true;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return ready_ >= rows || finished_ || abandoned_; });
        known_ = ready_;
        if (ready_ >= rows && !failed_ && !abandoned_) return true;
        compressorDone_ = true;
        changed_.notify_all();
        return false;
    }

    // From the compressing thread once it no longer reads the map.
    void compressorDone() {
        const std::lock_guard lock(mutex_);
        compressorDone_ = true;
        changed_.notify_all();
    }

    // The picture, once its size is known; null when the reading ended first.
    DepthMap* waitForMap() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return map_ != nullptr || finished_; });
        return map_;
    }

    // From the reading thread, when the reader has returned.
    void finish(DepthResult result) {
        const std::lock_guard lock(mutex_);
        result_ = std::move(result);
        finished_ = true;
        changed_.notify_all();
    }

    DepthResult& result() { return result_; }
    bool transformFailed() const { return failed_; }
    // The size a picture had when it was not the size planned; 0 x 0 if not.
    Rect otherSize() const { return otherSize_; }

private:
    void publish(std::int32_t rows) {
        const std::lock_guard lock(mutex_);
        ready_ = rows;
        changed_.notify_all();
    }

    const Plan plan_;
    StereogramState& state_;
    // Reading thread only.
    std::int32_t drawn_ = 0;
    bool marksPending_ = false;
    std::int32_t marksTop_ = 0;
    std::int32_t marksBottom_ = 0;
    Rect otherSize_{};
    // Compressing thread only.
    std::int32_t known_ = 0;
    // Shared, under the lock. failed_ is written before the publish that
    // tells the compressing thread.
    std::mutex mutex_;
    std::condition_variable changed_;
    DepthMap* map_ = nullptr;
    std::int32_t ready_ = 0;
    bool failed_ = false;
    bool finished_ = false;
    bool abandoned_ = false;
    bool compressorDone_ = false;
    DepthResult result_;
};

class DepthRender {
public:
    DepthRender(const RenderOptions& options, std::ostream& err) : options_(options), err_(err) {}

    int run() {
        Failure failure;
        if (!prepare(failure) || !drawAll(failure)) {
            err_ << failure.line << '\n';
            return kRenderFailed;
        }
        return 0;
    }

private:
    bool prepare(Failure& failure) {
        std::string error;
        if (!depthFrameName(options_.depthFile, 0, firstName_, error)) {
            failure.line = "--depth " + nameOf(options_.depthFile) + ": " + error;
            return false;
        }
        std::int32_t patternWidth = options_.patternWidth;
        std::string patternName = "--pattern-width";
        if (!options_.textureFile.empty()) {
            RgbPlanes texture = loadPngPicture(options_.textureFile.c_str());
            if (!texture) {
                failure.line = nameOf(options_.textureFile) + ": cannot read: " + escapeForDisplay(texture.detail);
                return false;
            }
            texture_ = std::move(texture.planes);
            patternWidth = texture_[0]->area.w;
            patternName = "--texture " + nameOf(options_.textureFile) + ": its width";
        }
        // Dots into a PNG are drawn while each picture is read, so the
        // first is only looked at here when its header tells its size.
        std::int64_t width = 0;
        std::int64_t height = 0;
        whileReading_ = texture_[0] == nullptr && options_.format == PictureFormat::Png &&
                        peekDepthFileSize(firstName_.c_str(), width, height) && width > 0 && height > 0;
        if (!whileReading_) {
            if (!loadFrame(firstName_, options_, first_, failure)) return false;
            width = first_->area.w;
            height = first_->area.h;
        }
        width_ = static_cast<std::int32_t>(width);
        height_ = static_cast<std::int32_t>(height);
        if (!checkFit(options_, width_, patternWidth, patternName, failure)) return false;
        if (!checkSequence(options_, width_, height_, failure)) return false;
        if (!checkOutputsAreNotInputs(options_, failure)) return false;
        patternWidth_ = patternWidth;
        if (texture_[0] == nullptr) palette_ = prepareDots(options_, display_);
        return true;
    }

    bool drawAll(Failure& failure) {
        std::vector<std::uint8_t> bytes;
        for (int index = 0; index < options_.frames; ++index) {
            DepthMapPtr map = std::move(first_);
            std::string name = firstName_;
            if (index > 0) {
                std::string error;
                depthFrameName(options_.depthFile, index, name, error);
            }
            const std::string output = renderFileName(options_.output, index, options_.frames > 1);
            if (whileReading_) {
                if (!drawDotsWhileReading(name, output, bytes, failure)) return false;
                continue;
            }
            if (index > 0) {
                if (!loadFrame(name, options_, map, failure)) return false;
                if (map->area.w != width() || map->area.h != height()) {
                    failure.line = nameOf(name) + ": the picture is " + sizeText(map->area.w, map->area.h) +
                                   ", not " + sizeText(width(), height()) + " as the first of the sequence";
                    return false;
                }
            }
            if (options_.crossEyed) mirrorLevels(*map, options_.depthLevels);
            const DepthOutcome saved = texture_[0] ? drawTextured(std::move(map), output, bytes)
                                                   : drawDots(*map, output, bytes);
            if (!saved) {
                failure.line = writeFailure(output, saved);
                return false;
            }
        }
        return true;
    }

    static std::string writeFailure(const std::string& output, const DepthOutcome& saved) {
        // The writer's own details may already say what failed.
        const bool said = saved.detail.starts_with("cannot ");
        return nameOf(output) + (said ? ": " : ": cannot write: ") + escapeForDisplay(saved.detail);
    }

    PatternSettings dotSettings() const {
        PatternSettings settings;
        settings.width = patternWidth_;
        settings.height = kDepthPatternRows;
        settings.echoFree = options_.echoFree;
        return settings;
    }

    // One frame read on a thread of its own, its dots drawn and compressed
    // here as its rows come (see DotsWhileReading); the same bytes as
    // drawDots over the whole picture.
    bool drawDotsWhileReading(const std::string& name, const std::string& output, std::vector<std::uint8_t>& bytes,
                              Failure& failure) {
        const DepthMap* pattern = preparePattern(display_.stereogram, display_.random, dotSettings());
        if (pattern == nullptr) {
            failure.line = nameOf(output) + ": cannot render: out of memory";
            return false;
        }
        DotsWhileReading::Plan plan;
        plan.width = width_;
        plan.height = height_;
        plan.pattern = pattern;
        plan.echoFree = options_.echoFree;
        plan.mirrorLevels = options_.crossEyed ? options_.depthLevels : 0;
        plan.guideMarks = options_.guideDots;
        DotsWhileReading dots(plan, display_.stereogram);
        const int levels = options_.depthLevels;
        std::thread reader([&dots, &name, levels] {
            DepthResult loaded;
            try {
                loaded = loadDepthLevels(name.c_str(), levels, &dots);
            } catch (const std::bad_alloc&) {
                loaded = depthFailure(DepthStatus::OutOfMemory, "not enough memory to read the file");
            }
            dots.finish(std::move(loaded));
        });
        // Joined however this frame ends, letting go of the map first: a
        // reader that failed part way waits for that.
        struct Join {
            DotsWhileReading& dots;
            std::thread& thread;
            ~Join() {
                dots.compressorDone();
                if (thread.joinable()) thread.join();
            }
        } join{dots, reader};
        DepthOutcome encoded;
        if (DepthMap* map = dots.waitForMap()) {
            // Random dots hardly compress: room for the whole file at once.
            bytes.reserve(pixelCount(*map) + pixelCount(*map) / 64 + static_cast<std::size_t>(map->area.h) + 65536);
            encoded = encodeIndexedPng(*map, palette_, bytes, PngSettings{}, &dots);
        }
        dots.compressorDone();
        reader.join();
        return finishFrame(name, output, dots, encoded, bytes, failure);
    }

    bool finishFrame(const std::string& name, const std::string& output, DotsWhileReading& dots,
                     const DepthOutcome& encoded, const std::vector<std::uint8_t>& bytes, Failure& failure) {
        const Rect other = dots.otherSize();
        if (other.w != 0 || other.h != 0) {
            failure.line = nameOf(name) + ": the picture is " + sizeText(other.w, other.h) + ", not " +
                           sizeText(width_, height_) + " as the first of the sequence";
            return false;
        }
        const DepthResult& loaded = dots.result();
        if (!loaded) {
            failure.line = nameOf(name) + ": cannot read: " + escapeForDisplay(loaded.detail);
            return false;
        }
        if (dots.transformFailed()) {
            failure.line = nameOf(output) + ": cannot render: not enough memory for the stereogram";
            return false;
        }
        if (!encoded) {
            failure.line = writeFailure(output, encoded);
            return false;
        }
        if (const DepthOutcome saved = writeFileSafely(output.c_str(), bytes); !saved) {
            failure.line = writeFailure(output, saved);
            return false;
        }
        return true;
    }

    DepthOutcome drawDots(DepthMap& map, const std::string& output, std::vector<std::uint8_t>& bytes) {
        renderStereogram(display_.stereogram, display_.random, map, dotSettings());
        if (options_.guideDots) drawGuideMarks(map, patternWidth_, kBlackIndex, kWhiteIndex);
        // Random dots hardly compress: room for the whole file at once, so
        // the buffer never holds two copies of a large picture while it grows.
        bytes.reserve(pixelCount(map) + pixelCount(map) / 64 + static_cast<std::size_t>(map.area.h) + 65536);
        return savePicture(map, palette_, options_.format, output.c_str(), bytes);
    }

    DepthOutcome drawTextured(DepthMapPtr map, const std::string& output, std::vector<std::uint8_t>& bytes) {
        // The same depths drive the same transform over each channel.
        std::array<DepthMapPtr, 3> planes = copiesOf(*map);
        planes[0] = std::move(map);
        for (int c = 0; c < 3; ++c) {
            StereogramState& kept = display_.stereogram;
            const bool made = options_.echoFree
                                  ? transformStereogramEchoFree(*planes[c], *texture_[c], kept.echoFree)
                                  : transformStereogram(*planes[c], *texture_[c], kept.doubledRows);
            if (!made) return failedOutcome(DepthStatus::OutOfMemory, "not enough memory for the stereogram");
        }
        if (options_.guideDots) {
            for (auto& plane : planes) drawGuideMarks(*plane, patternWidth_, 0, 255);
        }
        if (DepthOutcome encoded = encodeRgbPng(*planes[0], *planes[1], *planes[2], bytes); !encoded) return encoded;
        return writeFileSafely(output.c_str(), bytes);
    }

    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }

    const RenderOptions& options_;
    std::ostream& err_;
    std::string firstName_;
    DepthMapPtr first_;
    std::array<DepthMapPtr, 3> texture_;
    std::int32_t patternWidth_ = 0;
    bool whileReading_ = false;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    RgbPalette palette_{};
    DisplayState display_;  // the dots' generator, palette and pattern
};

}  // namespace

bool depthFrameName(const std::string& pattern, int index, std::string& name, std::string& error) {
    name.clear();
    bool numbered = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            name += pattern[i];
            continue;
        }
        const std::size_t start = i;
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            name += '%';
            ++i;
            continue;
        }
        // %d or %0Nd.
        std::size_t at = i + 1;
        int digits = 0;
        if (at < pattern.size() && pattern[at] == '0') {
            ++at;
            const std::size_t first = at;
            while (at < pattern.size() && pattern[at] >= '0' && pattern[at] <= '9' && at - first < 3) {
                digits = digits * 10 + (pattern[at] - '0');
                ++at;
            }
            if (at == first || digits < 1 || digits > kWidestFrameNumber) digits = -1;
        }
        if (digits < 0 || at >= pattern.size() || pattern[at] != 'd') {
            const std::size_t end = std::min(pattern.size(), at + 1);
            // Built by appending: GCC 12 warns wrongly about "..." + substr.
            error.assign(1, '"');
            error.append(pattern, start, end - start);
            error.append("\" is not a frame number: use %d or %0Nd (N from 1 to 20), and %% for a percent sign");
            return false;
        }
        if (numbered) {
            error = "more than one frame number in the name";
            return false;
        }
        numbered = true;
        std::string number = std::to_string(index);
        if (static_cast<int>(number.size()) < digits) number.insert(0, std::size_t(digits) - number.size(), '0');
        name += number;
        i = at;
    }
    return true;
}

bool placeGuideMarks(std::int32_t width, std::int32_t height, std::int32_t patternWidth, GuideMarks& marks) {
    // Large enough to find at a glance, small beside the pattern width.
    const std::int32_t radius = std::clamp(patternWidth / 24, 2, 12);
    const std::int32_t ring = radius + 2;
    // A little below the top edge, so the marks are not mistaken for it.
    const std::int32_t margin = std::clamp(height / 50, 1, 40);
    if (width < 1 || patternWidth < 1 || patternWidth > width || margin + 2 * ring >= height) return false;
    marks.radius = radius;
    marks.leftX = width / 2 - patternWidth / 2;
    marks.y = margin + ring;
    return true;
}

int runDepthRenderer(const RenderOptions& options, std::ostream& err) {
    try {
        return DepthRender(options, err).run();
    } catch (const std::bad_alloc&) {
        err << nameOf(options.output) << ": cannot render: out of memory\n";
        return kRenderFailed;
    }
}

}  // namespace tolvane
