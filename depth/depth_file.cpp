#include "depth/depth_file.hpp"

#include <array>
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
#include "depth/text_file.hpp"
#include "markup/text.hpp"

namespace tolvane {

namespace {

using Reader = DepthResult (*)(const char*);

struct Format {
    const char* extension;
    Reader read;
};

// Loading tries bitmaps first, the conversion compressed files first: a
// name such as "a.bmp.schm" loads as a bitmap but converts as ".schm".
constexpr std::array<Format, 4> kLoadOrder{{
    {".bmp", loadBitmapDepthMap},
    {".schm", loadSchm},
    {".scmhm", loadScmhm},
    {".txt", loadTextDepthMap},
}};
constexpr std::array<Format, 4> kConvertOrder{{
    {".scmhm", loadScmhm},
    {".schm", loadSchm},
    {".bmp", loadBitmapDepthMap},
    {".txt", loadTextDepthMap},
}};

constexpr const char* kNoExtension = "the name contains none of \".bmp\", \".schm\", \".scmhm\", \".txt\"";

template <std::size_t n>
const Format* matchExtension(const char* fileName, const std::array<Format, n>& order) {
    const TextBuffer name(fileName);
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

std::vector<Output> plannedOutputs(const char* fileName, const char* extension) {
    std::vector<Output> outputs;
    TextBuffer name(fileName);
    if (std::strcmp(extension, ".bmp") == 0) {
        renameExtension(name, ".bmp", ".schm");
        outputs.push_back({name.data(), writeSchm, {}});
        // The second name is made from the first: ".schm" comes off again
        // and ".scmhm" goes on.
        renameExtension(name, ".schm", ".scmhm");
        outputs.push_back({name.data(), writeScmhm, {}});
    } else if (std::strcmp(extension, ".txt") == 0) {
        renameExtension(name, ".txt", ".schm");
        outputs.push_back({name.data(), writeSchm, {}});
    } else {
        renameExtension(name, extension, ".bmp");
        outputs.push_back({name.data(), writeDepthMapBitmap, {}});
    }
    return outputs;
}

DepthOutcome named(const std::string& name, DepthOutcome outcome) {
    outcome.detail = name + ": " + outcome.detail;
    return outcome;
}

DepthOutcome convert(const char* fileName) {
    const Format* format = matchExtension(fileName, kConvertOrder);
    if (format == nullptr) {
        return failedOutcome(DepthStatus::UnknownExtension,
                             std::string(fileName) + ": nothing converted: " + kNoExtension);
    }
    DepthResult input = format->read(fileName);
    if (!input) return named(fileName, failedOutcome(input.status, std::move(input.detail)));
    const DepthMap& map = *input.map;
    std::vector<Output> outputs = plannedOutputs(fileName, format->extension);
    // Every output is opened before any is written and written before any
    // is renamed into place: a bitmap's ".scmhm" that cannot be written must
    // not leave a fresh ".schm" beside an old ".scmhm".
    for (Output& output : outputs) {
        if (DepthOutcome opened = output.file.open(output.name.c_str()); !opened) {
            return named(output.name, std::move(opened));
        }
    }
    for (Output& output : outputs) {
        DepthOutcome written = output.write(map, output.file);
        if (written) written = output.file.finish();
        if (!written) return named(output.name, std::move(written));
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (DepthOutcome committed = outputs[i].file.commit(); !committed) {
            // Only a rename can fail here, and only for the rarest causes;
            // say plainly what was already replaced.
            committed = named(outputs[i].name, std::move(committed));
            for (std::size_t done = 0; done < i; ++done) {
                committed.detail += "; " + outputs[done].name + " was already written";
            }
            return committed;
        }
    }
    return {};
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
    // Enough for any bitmap header and any sensible text header.
    std::array<std::uint8_t, 4096> header{};
    const ssize_t got = regular ? ::pread(fd, header.data(), header.size(), 0) : -1;
    ::close(fd);
    if (got < 0) return false;
    const std::span<const std::uint8_t> bytes(header.data(), std::size_t(got));
    const std::string extension = format->extension;
    if (extension == ".bmp") return bool(peekBitmapSize(bytes, width, height));
    if (extension == ".txt") {
        const bool wholeFile = std::uint64_t(got) == std::uint64_t(info.st_size);
        return bool(peekTextSize(bytes, wholeFile, width, height));
    }
    return bool(peekCompressedSize(bytes, width, height));
}

DepthOutcome convertDepthFile(const char* fileName) {
    try {
        return convert(fileName);
    } catch (const std::bad_alloc&) {
        // Every temporary was removed as the outputs went out of scope.
        return failedOutcome(DepthStatus::OutOfMemory,
                             std::string(fileName) + ": not enough memory to convert it");
    }
}

}  // namespace tolvane
