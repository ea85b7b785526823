#include "depth/depth_file.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "depth/bitmap_file.hpp"
#include "depth/compressed_file.hpp"
#include "depth/file_io.hpp"
#include "depth/png_file.hpp"
#include "depth/text_file.hpp"
#include "markup/text.hpp"

namespace tolvane {

namespace {

using Reader = DepthResult (*)(const char*);

DepthResult loadPngDepths(const char* fileName) { return loadPngDepthMap(fileName); }

struct Format {
    const char* extension;
    Reader read;
};

// Loading tries bitmaps first, the conversion compressed files first: a
// name such as "a.bmp.schm" loads as a bitmap but converts as ".schm".
constexpr std::array<Format, 5> kLoadOrder{{
    {".bmp", loadBitmapDepthMap},
    {".png", loadPngDepths},
    {".schm", loadSchm},
    {".scmhm", loadScmhm},
    {".txt", loadTextDepthMap},
}};
constexpr std::array<Format, 5> kConvertOrder{{
    {".scmhm", loadScmhm},
    {".schm", loadSchm},
    {".bmp", loadBitmapDepthMap},
    {".png", loadPngDepths},
    {".txt", loadTextDepthMap},
}};

constexpr const char* kNoExtension =
    "the file's own name (after any folder) contains none of \".bmp\", \".png\", \".schm\", \".scmhm\", \".txt\"";

// Where the file's own name starts: after the last "/". Extensions are
// looked for there only, so a folder such as "v1.bmp-exports/" neither
// chooses the reader nor loses its ".bmp" to an output name.
std::size_t baseNameStart(const char* fileName) {
    const char* slash = std::strrchr(fileName, '/');
    return slash != nullptr ? std::size_t(slash - fileName) + 1 : 0;
}

template <std::size_t n>
const Format* matchExtension(const char* fileName, const std::array<Format, n>& order) {
    const TextBuffer name(fileName + baseNameStart(fileName));
    for (const Format& format : order) {
        if (name.find(format.extension) >= 0) return &format;
    }
    return nullptr;
}

using Writer = DepthOutcome (*)(const DepthMap&, StagedFile&);

struct Output {
    std::string name;
    Writer write;
    StagedFile file;
};

// Swaps the first occurrence of `from` in `name` for `to` at the end.
void renameExtension(TextBuffer& name, const char* from, const char* to) {
    name.removeFirst(from);
    name.append(to);
}

// The outputs land in the input's folder; only the file's own name changes.
std::vector<Output> plannedOutputs(const char* fileName, const char* extension) {
    std::vector<Output> outputs;
    const std::size_t base = baseNameStart(fileName);
    const std::string folder(fileName, base);
    TextBuffer name(fileName + base);
    // A PNG converts as a bitmap does: to both compressed forms.
    if (std::strcmp(extension, ".bmp") == 0 || std::strcmp(extension, ".png") == 0) {
        renameExtension(name, extension, ".schm");
        outputs.push_back({folder + name.data(), writeSchm, {}});
        // The second name is made from the first: ".schm" comes off again
        // and ".scmhm" goes on.
        renameExtension(name, ".schm", ".scmhm");
        outputs.push_back({folder + name.data(), writeScmhm, {}});
    } else if (std::strcmp(extension, ".txt") == 0) {
        renameExtension(name, ".txt", ".schm");
        outputs.push_back({folder + name.data(), writeSchm, {}});
    } else {
        renameExtension(name, extension, ".bmp");
        outputs.push_back({folder + name.data(), writeDepthMapBitmap, {}});
    }
    return outputs;
}

// The detail of a failed conversion starts with the file concerned, printed
// safely whatever its name holds.
DepthOutcome named(const std::string& name, DepthOutcome outcome) {
    outcome.detail = escapeForDisplay(name) + ": " + outcome.detail;
    return outcome;
}

// Writes the outputs for `map`, read from `fileName` as `extension`.
DepthOutcome writeOutputs(const char* fileName, const char* extension, const DepthMap& map) {
    std::vector<Output> outputs = plannedOutputs(fileName, extension);
    // Every output is opened before any is written and written before any
    // is renamed into place: a bitmap's ".scmhm" that cannot be written must
    // not leave a fresh ".schm" beside an old ".scmhm".
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        Output& output = outputs[i];
        if (DepthOutcome opened = output.file.open(output.name.c_str()); !opened) {
            return named(output.name, std::move(opened));
        }
        // Through a link an output can be the input itself or the other
        // output: the rename would destroy the one or cross the two.
        if (output.file.replaces(fileName)) {
            return named(output.name, failedOutcome(DepthStatus::CannotReplace,
                                                    "cannot replace: it is the input file " +
                                                        escapeForDisplay(fileName)));
        }
        for (std::size_t earlier = 0; earlier < i; ++earlier) {
            if (output.file.sameTarget(outputs[earlier].file)) {
                return named(output.name, failedOutcome(DepthStatus::CannotReplace,
                                                        "cannot replace: it is the same file as the output " +
                                                            escapeForDisplay(outputs[earlier].name)));
            }
        }
    }
    for (Output& output : outputs) {
        DepthOutcome written = output.write(map, output.file);
        if (written) written = output.file.finish();
        if (!written) return named(output.name, std::move(written));
    }
    // A signal between two renames would leave a half pair: it waits until
    // the last is done.
    const InterruptsHeld held;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (DepthOutcome committed = outputs[i].file.commit(); !committed) {
            // Only a rename can fail here, and only for the rarest causes;
            // say plainly what was already replaced.
            committed = named(outputs[i].name, std::move(committed));
            for (std::size_t done = 0; done < i; ++done) {
                committed.detail += "; " + escapeForDisplay(outputs[done].name) + " was already written";
            }
            return committed;
        }
    }
    return {};
}

DepthOutcome convert(const char* fileName) {
    const Format* format = matchExtension(fileName, kConvertOrder);
    if (format == nullptr) {
        return named(fileName, failedOutcome(DepthStatus::UnknownExtension,
                                             std::string("nothing converted: ") + kNoExtension));
    }
    DepthResult input = format->read(fileName);
    if (!input) return named(fileName, failedOutcome(input.status, std::move(input.detail)));
    DepthOutcome outcome = writeOutputs(fileName, format->extension, *input.map);
    outcome.warnings = std::move(input.warnings);
    return outcome;
}

// Offset of the first byte of `fd` that is not blank space as the text
// reader skips it (the end when there is none); -1 when it cannot be read.
off_t firstNonBlank(int fd) {
    std::array<std::uint8_t, 64 * 1024> chunk{};
    for (off_t at = 0;;) {
        const ssize_t got = ::pread(fd, chunk.data(), chunk.size(), at);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got < 0 ? -1 : at;
        for (ssize_t i = 0; i < got; ++i) {
            const std::uint8_t c = chunk[std::size_t(i)];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\v' && c != '\f' && c != '\r') return at + i;
        }
        at += got;
    }
}

}  // namespace

DepthResult loadDepthMap(const char* fileName) {
    const Format* format = matchExtension(fileName, kLoadOrder);
    if (format == nullptr) return depthFailure(DepthStatus::UnknownExtension, kNoExtension);
    try {
        return format->read(fileName);
    } catch (const std::bad_alloc&) {
        return depthFailure(DepthStatus::OutOfMemory, "not enough memory to read the file");
    }
}

bool peekDepthFileSize(const char* fileName, std::int64_t& width, std::int64_t& height) {
    width = 0;
    height = 0;
    const Format* format = matchExtension(fileName, kLoadOrder);
    if (format == nullptr) return false;
    const int fd = ::open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const std::string extension = format->extension;
    // A text header may stand after any amount of blank space, which the
    // reader skips: so does the peek, a chunk at a time.
    const off_t start = regular && extension == ".txt" ? firstNonBlank(fd) : 0;
    // Enough for any bitmap header and any sensible text header.
    std::array<std::uint8_t, 4096> header{};
    const ssize_t got = regular && start >= 0 ? ::pread(fd, header.data(), header.size(), start) : -1;
    ::close(fd);
    if (got < 0) return false;
    const std::span<const std::uint8_t> bytes(header.data(), std::size_t(got));
    if (extension == ".bmp") return bool(peekBitmapSize(bytes, width, height));
    if (extension == ".png") return bool(peekPngSize(bytes, width, height));
    if (extension == ".txt") {
        const bool wholeFile = start + got == info.st_size;
        return bool(peekTextSize(bytes, wholeFile, width, height));
    }
    return bool(peekCompressedSize(bytes, width, height));
}

namespace {

// The listener hears of a picture read whole as of one decoded at once.
DepthResult toListener(DepthResult loaded, PngRowListener* listener) {
    if (!loaded || listener == nullptr) return loaded;
    if (!listener->begin(*loaded.map)) return depthFailure(DepthStatus::BadSize, "the decoding was stopped");
    listener->rowsDecoded(loaded.map->area.h);
    return loaded;
}

}  // namespace

DepthResult loadDepthLevels(const char* fileName, int levels, PngRowListener* listener) {
    levels = std::clamp(levels, kMinDepthLevels, kMaxDepthLevels);
    const Format* format = matchExtension(fileName, kLoadOrder);
    if (format != nullptr && std::strcmp(format->extension, ".png") == 0) {
        try {
            return loadPngDepthMap(fileName, levels, listener);
        } catch (const std::bad_alloc&) {
            return depthFailure(DepthStatus::OutOfMemory, "not enough memory to read the file");
        }
    }
    DepthResult loaded = loadDepthMap(fileName);
    if (!loaded || levels == kDefaultDepthLevels) return toListener(std::move(loaded), listener);
    // The own forms hold 32 levels: depth d stands for the range from d / 32
    // to (d + 1) / 32 of the picture's. Values above 31 (a text grid can
    // hold them) count as 31.
    std::array<std::uint8_t, 256> table{};
    for (std::size_t d = 0; d < table.size(); ++d) {
        table[d] = static_cast<std::uint8_t>(std::min<std::size_t>(d, 31) * std::size_t(levels) / 32);
    }
    std::uint8_t* pixels = loaded.map->pixels;
    for (std::size_t i = 0, n = pixelCount(*loaded.map); i < n; ++i) pixels[i] = table[pixels[i]];
    return toListener(std::move(loaded), listener);
}

DepthOutcome convertDepthFile(const char* fileName) {
    try {
        return convert(fileName);
    } catch (const std::bad_alloc&) {
        // Every temporary was removed as the outputs went out of scope.
        return failedOutcome(DepthStatus::OutOfMemory,
                             escapeForDisplay(fileName) + ": not enough memory to convert it");
    }
}

}  // namespace tolvane
