#include "world/image_files.hpp"

#include <cstring>
#include <optional>

#include <sys/stat.h>

#include "depth/depth_file.hpp"

namespace tolvane {

namespace {

// The same file under any of its names; none for what is not a regular file.
std::optional<std::pair<std::uint64_t, std::uint64_t>> identityOf(const char* fileName) {
    struct stat info {};
    if (fileName == nullptr || ::stat(fileName, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return std::pair<std::uint64_t, std::uint64_t>(info.st_dev, info.st_ino);
}

DepthResult copyOf(const DepthResult& result) {
    DepthResult copy;
    copy.status = result.status;
    copy.detail = result.detail;
    copy.warnings = result.warnings;
    if (result.map) {
        copy.map = createDepthMap(result.map->area.w, result.map->area.h);
        if (!copy.map) return depthFailure(DepthStatus::OutOfMemory, "not enough memory to read the file");
        if (const std::size_t count = pixelCount(*result.map); count > 0) {
            std::memcpy(copy.map->pixels, result.map->pixels, count);
        }
    }
    return copy;
}

}  // namespace

ImageFiles::Entries::iterator ImageFiles::find(const char* fileName) {
    const auto identity = identityOf(fileName);
    return identity ? entries_.find(*identity) : entries_.end();
}

void ImageFiles::used(Entries::iterator at) {
    if (--at->second.usesLeft <= 0) entries_.erase(at);
}

void ImageFiles::expect(const char* fileName) {
    if (const auto identity = identityOf(fileName)) ++entries_[*identity].usesLeft;
}

bool ImageFiles::peekSize(const char* fileName, std::int64_t& width, std::int64_t& height) {
    const auto at = find(fileName);
    if (at == entries_.end() || !at->second.read) return peekDepthFileSize(fileName, width, height);
    const DepthResult& result = at->second.result;
    width = result.map ? result.map->area.w : 0;
    height = result.map ? result.map->area.h : 0;
    return bool(result);
}

DepthResult ImageFiles::load(const char* fileName) {
    const auto at = find(fileName);
    if (at == entries_.end()) return loadDepthMap(fileName);
    Entry& entry = at->second;
    if (!entry.read) {
        entry.result = loadDepthMap(fileName);
        entry.read = true;
    }
    DepthResult given = entry.usesLeft > 1 ? copyOf(entry.result) : std::move(entry.result);
    used(at);
    return given;
}

void ImageFiles::skip(const char* fileName) {
    if (const auto at = find(fileName); at != entries_.end()) used(at);
}

}  // namespace tolvane
