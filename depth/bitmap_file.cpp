#include "depth/bitmap_file.hpp"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include <unistd.h>

#include "io/byte_cursor.hpp"

namespace tolvane {

namespace {

// Room for everything a bitmap may carry besides its pixels: file and info
// headers, colour masks, a palette, an embedded colour profile.
constexpr std::uint64_t kBitmapOverhead = 1u << 20;
// A 32-bit bitmap of the largest map, the largest any decoder needs.
constexpr std::uint64_t kLargestBitmapFile = 4 * std::uint64_t(kMaxDepthFilePixels) + kBitmapOverhead;

struct SurfaceDeleter {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

struct StreamCloser {
    void operator()(SDL_RWops* stream) const { SDL_RWclose(stream); }
};
using StreamPtr = std::unique_ptr<SDL_RWops, StreamCloser>;

// Holds a surface locked for as long as it is in scope, where SDL needs it.
class SurfaceLock {
public:
    explicit SurfaceLock(SDL_Surface* surface)
        : surface_(SDL_MUSTLOCK(surface) ? surface : nullptr),
          locked_(surface_ == nullptr || SDL_LockSurface(surface_) == 0) {}
    SurfaceLock(const SurfaceLock&) = delete;
    SurfaceLock& operator=(const SurfaceLock&) = delete;
    ~SurfaceLock() {
        if (surface_ != nullptr && locked_) SDL_UnlockSurface(surface_);
    }
    bool locked() const { return locked_; }

private:
    SDL_Surface* surface_;
    bool locked_;
};

// A stream SDL writes through to a descriptor, keeping the first error.
struct DescriptorStream {
    int fd;
    int error;
};

DescriptorStream& streamTarget(SDL_RWops* context) {
    return *static_cast<DescriptorStream*>(context->hidden.unknown.data1);
}

extern "C" int SDLCALL seekDescriptor(SDL_RWops* context, int offset, int whence) {
    DescriptorStream& target = streamTarget(context);
    const int from = whence == RW_SEEK_SET ? SEEK_SET : whence == RW_SEEK_CUR ? SEEK_CUR : SEEK_END;
    const off_t position = ::lseek(target.fd, offset, from);
    if (position < 0) {
        if (target.error == 0) target.error = errno;
        return -1;
    }
    // SDL's streams count in int; a bitmap of the largest map a file may
    // hold stays well under 2 GiB.
    return position > INT_MAX ? -1 : static_cast<int>(position);
}

extern "C" int SDLCALL readNothing(SDL_RWops*, void*, int, int) { return 0; }

extern "C" int SDLCALL writeDescriptor(SDL_RWops* context, const void* data, int size, int count) {
    DescriptorStream& target = streamTarget(context);
    if (target.error != 0) return 0;
    auto bytes = static_cast<const std::uint8_t*>(data);
    std::size_t left = std::size_t(std::max(size, 0)) * std::size_t(std::max(count, 0));
    while (left > 0) {
        const ssize_t written = ::write(target.fd, bytes, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            target.error = written < 0 ? errno : EIO;
            return 0;
        }
        bytes += written;
        left -= std::size_t(written);
    }
    return count;
}

extern "C" int SDLCALL freeStream(SDL_RWops* context) {
    SDL_FreeRW(context);
    return 0;
}

std::string sdlReason(const char* what) { return std::string(what) + ": " + SDL_GetError(); }

DepthResult truncatedHeader() { return depthFailure(DepthStatus::BadHeader, "bitmap header is truncated"); }

struct BitmapHeader {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t bitsPerPixel = 0;
    std::uint32_t compression = 0;
    std::uint32_t dataOffset = 0;
};

// The header fields the checks need, the sides first: a file cut short
// after them is still refused for its size. Files that are not bitmaps at
// all (no "BM") give Ok with `isBitmap` false, for SDL to refuse.
DepthResult readHeader(std::span<const std::uint8_t> bytes, BitmapHeader& header, bool& isBitmap) {
    constexpr std::uint32_t kCoreHeader = 12;  // the old header: 16-bit sides
    ByteCursor cursor(bytes);
    isBitmap = cursor.u8() == 'B' && cursor.u8() == 'M' && !cursor.ranOut();
    if (!isBitmap) return {};
    cursor.seek(10);
    header.dataOffset = cursor.le32();
    const bool core = cursor.le32() == kCoreHeader;
    if (cursor.ranOut()) return truncatedHeader();
    if (core) {
        header.width = cursor.le16();
        header.height = cursor.le16();
    } else {
        header.width = static_cast<std::int32_t>(cursor.le32());
        // A negative height only means the rows are stored top first.
        header.height = static_cast<std::int32_t>(cursor.le32());
        if (header.height < 0) header.height = -header.height;
    }
    if (cursor.ranOut()) return truncatedHeader();
    if (DepthResult size = checkDepthFileSize(header.width, header.height); !size) return size;
    cursor.le16();  // planes
    header.bitsPerPixel = cursor.le16();
    header.compression = core ? 0 : cursor.le32();
    if (cursor.ranOut()) return truncatedHeader();
    return {};
}

// SDL allocates the whole surface from the header's size before it reads a
// single pixel, so the header is checked here first: the sides against the
// map limit, and, for uncompressed pixels, the file against the bytes those
// sides need.
DepthResult checkHeader(std::span<const std::uint8_t> bytes, std::uint64_t fileSize) {
    constexpr std::uint32_t kRgb = 0;
    constexpr std::uint32_t kBitFields = 3;
    BitmapHeader header;
    bool isBitmap = false;
    if (DepthResult read = readHeader(bytes, header, isBitmap); !read || !isBitmap) return read;
    // Run-length data may be shorter than the pixels it describes.
    if (header.compression != kRgb && header.compression != kBitFields) return {};
    const std::uint64_t stride = (std::uint64_t(header.width) * header.bitsPerPixel + 31) / 32 * 4;
    const std::uint64_t needed = header.dataOffset + stride * std::uint64_t(header.height);
    if (fileSize < needed) {
        return depthFailure(DepthStatus::BadData, "bitmap file is shorter than its pixel data");
    }
    return {};
}

// A grey surface of the map's size: depth << 3 (wrapping) in every colour
// byte. SDL writes a 32-bit surface without alpha as a 24-bit bitmap,
// converting it through a second surface first; a 24-bit surface gives the
// very same file without that copy, so a conversion holds no more than the
// map and this one surface.
DepthOutcome makeGreySurface(const DepthMap& map, SurfacePtr& surface) {
    const std::int32_t width = std::max(map.area.w, 0);
    const std::int32_t height = std::max(map.area.h, 0);
    if (width > kWidestBitmapMap || height > kTallestBitmapMap) {
        return failedOutcome(DepthStatus::TooLargeToWrite,
                             "map is " + std::to_string(width) + " x " + std::to_string(height) +
                                 "; SDL writes bitmaps at most " + std::to_string(kWidestBitmapMap) +
                                 " pixels wide and " + std::to_string(kTallestBitmapMap) + " tall");
    }
    // SDL writes an empty map as a bitmap of headers alone, which no
    // reader, ours included, takes back: refused rather than written.
    if (width < 1 || height < 1) {
        return failedOutcome(DepthStatus::BadSize, "map is " + std::to_string(width) + " x " +
                                                       std::to_string(height) +
                                                       "; a bitmap needs at least one pixel each way");
    }
    surface.reset(SDL_CreateRGBSurface(0, width, height, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0));
    if (!surface) return failedOutcome(DepthStatus::OutOfMemory, sdlReason("cannot create bitmap surface"));
    const SurfaceLock lock(surface.get());
    if (!lock.locked()) return failedOutcome(DepthStatus::CannotWrite, sdlReason("cannot lock bitmap surface"));
    auto* pixels = static_cast<std::uint8_t*>(surface->pixels);
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* row = pixelAddress(map, 0, y);
        std::uint8_t* target = pixels + std::size_t(y) * std::size_t(surface->pitch);
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint8_t grey = std::uint8_t(row[x] << 3);
            std::uint8_t* pixel = target + 3 * std::size_t(x);
            pixel[0] = grey;
            pixel[1] = grey;
            pixel[2] = grey;
        }
    }
    return {};
}

}  // namespace

DepthResult peekBitmapSize(std::span<const std::uint8_t> header, std::int64_t& width,
                           std::int64_t& height) {
    BitmapHeader fields;
    bool isBitmap = false;
    DepthResult read = readHeader(header, fields, isBitmap);
    if (read && !isBitmap) return depthFailure(DepthStatus::Undecodable, "not a bitmap");
    width = fields.width;
    height = fields.height;
    return read;
}

namespace {

// An 8-bit (or smaller) bitmap gives its palette indices as depths. They
// follow the brightness only when every index used holds a grey of that
// same level, as in a grey ramp 0..255; a photo saved with an optimised
// palette gives depths in no useful order.
bool paletteIsGreyInIndexOrder(const SDL_Surface& surface) {
    const SDL_Palette* palette = surface.format->palette;
    if (palette == nullptr || surface.format->BytesPerPixel != 1) return true;
    std::array<bool, 256> used{};
    const auto* pixels = static_cast<const std::uint8_t*>(surface.pixels);
    for (std::int32_t y = 0; y < surface.h; ++y) {
        const std::uint8_t* row = pixels + std::size_t(y) * std::size_t(surface.pitch);
        for (std::int32_t x = 0; x < surface.w; ++x) used[row[x]] = true;
    }
    for (int index = 0; index < 256; ++index) {
        if (!used[std::size_t(index)]) continue;
        if (index >= palette->ncolors) return false;
        const SDL_Color& colour = palette->colors[index];
        if (colour.r != colour.g || colour.g != colour.b || (colour.b >> 3) != (index >> 3)) return false;
    }
    return true;
}

// A picture whose depths all came out equal shows nothing in relief.
bool isFlat(const DepthMap& map) {
    const std::size_t count = pixelCount(map);
    return count > 1 && std::all_of(map.pixels, map.pixels + count,
                                    [&](std::uint8_t depth) { return depth == map.pixels[0]; });
}

// The warnings of a decoded bitmap: the palette explains a flat picture
// too, so it is the only one given when both apply.
void addBitmapWarnings(const SDL_Surface& surface, DepthResult& result) {
    if (!paletteIsGreyInIndexOrder(surface)) {
        result.warnings.push_back(
            "its palette is not grey in index order, so its depths are palette indices >> 3, not "
            "brightness; save it as a 24-bit bitmap (ImageMagick: -type TrueColor BMP3:hill.bmp, see "
            "README, \"Any picture as a depth image\")");
    } else if (isFlat(*result.map)) {
        result.warnings.push_back(
            "every pixel has depth " + std::to_string(result.map->pixels[0]) +
            ", so the picture is flat (the depth is the blue byte >> 3, or the palette index); save a "
            "grey picture as a 24-bit bitmap (see README, \"Any picture as a depth image\")");
    }
}

// The map from a stream SDL decodes (and closes).
DepthResult decodeStream(SDL_RWops* stream) {
    const SurfacePtr surface(SDL_LoadBMP_RW(stream, 1));
    if (!surface) return depthFailure(DepthStatus::Undecodable, sdlReason("cannot decode bitmap"));
    const SurfaceLock lock(surface.get());
    if (!lock.locked()) return depthFailure(DepthStatus::Undecodable, sdlReason("cannot lock bitmap surface"));
    const std::size_t bytesPerPixel = surface->format->BytesPerPixel;
    const std::size_t pitch = surface->pitch;
    if (bytesPerPixel == 0 || pitch < std::size_t(std::max(surface->w, 0)) * bytesPerPixel) {
        return depthFailure(DepthStatus::Undecodable, "bitmap surface has an unsupported layout");
    }
    DepthResult result = createDepthMapForFile(surface->w, surface->h);
    if (!result) return result;
    DepthMap& map = *result.map;
    // Row by row at the pitch: 8- and 24-bit rows are padded to a multiple
    // of four bytes, so packed addressing would drift from the second row.
    const auto* pixels = static_cast<const std::uint8_t*>(surface->pixels);
    for (std::int32_t y = 0; y < map.area.h; ++y) {
        const std::uint8_t* source = pixels + std::size_t(y) * pitch;
        std::uint8_t* row = pixelAddress(map, 0, y);
        for (std::int32_t x = 0; x < map.area.w; ++x) {
            row[x] = source[std::size_t(x) * bytesPerPixel] >> 3;
        }
    }
    addBitmapWarnings(*surface, result);
    return result;
}

}  // namespace

DepthResult decodeBitmapDepthMap(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return depthFailure(DepthStatus::Undecodable, "cannot decode bitmap: the file is empty");
    if (DepthResult header = checkHeader(bytes, bytes.size()); !header) return header;
    if (bytes.size() > std::size_t(INT_MAX)) return depthFailure(DepthStatus::TooLarge, "bitmap is too large");
    SDL_RWops* stream = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    if (stream == nullptr) return depthFailure(DepthStatus::CannotRead, sdlReason("cannot read bitmap"));
    return decodeStream(stream);
}

DepthResult loadBitmapDepthMap(const char* fileName) {
    InputFile input;
    if (const FileBytes opened = input.open(fileName); !opened) return fileReadFailure(opened);
    // A pipe is read whole, as it cannot be read twice. A file is checked
    // from its header and then decoded by SDL straight from the disk, so no
    // copy of the file is held beside SDL's surface.
    if (!input.regular()) {
        const FileBytes file = readFileBytes(input, kLargestBitmapFile);
        return file ? decodeBitmapDepthMap(file.bytes) : fileReadFailure(file);
    }
    const auto cannotRead = [] {
        return depthFailure(DepthStatus::CannotRead, std::string("cannot read: ") + std::strerror(errno));
    };
    if (input.size() == 0) {
        return depthFailure(DepthStatus::Undecodable, "cannot decode bitmap: the file is empty");
    }
    if (input.size() > kLargestBitmapFile) {
        return depthFailure(DepthStatus::TooLarge, "file is larger than " + std::to_string(kLargestBitmapFile) +
                                                       " bytes, more than any depth map of its kind needs");
    }
    std::array<std::uint8_t, 4096> header{};
    const ssize_t got = ::pread(input.descriptor(), header.data(), header.size(), 0);
    if (got < 0) return cannotRead();
    if (DepthResult checked = checkHeader(std::span(header.data(), std::size_t(got)), input.size()); !checked) {
        return checked;
    }
    std::FILE* file = ::fdopen(input.descriptor(), "rb");
    if (file == nullptr) return cannotRead();
    input.release();  // the stdio stream owns it now
    SDL_RWops* stream = SDL_RWFromFP(file, 1);
    if (stream == nullptr) {
        std::fclose(file);
        return depthFailure(DepthStatus::CannotRead, sdlReason("cannot read bitmap"));
    }
    return decodeStream(stream);
}

DepthOutcome encodeDepthMapBitmap(const DepthMap& map, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    SurfacePtr surface;
    if (DepthOutcome made = makeGreySurface(map, surface); !made) return made;
    // SDL writes into a fixed block: room for four bytes a pixel, row
    // padding and any header. Its streams count in int.
    const std::uint64_t room =
        4 * (std::uint64_t(surface->w) + 1) * std::uint64_t(surface->h) + kBitmapOverhead;
    if (room > std::uint64_t(INT_MAX)) {
        return failedOutcome(DepthStatus::TooLargeToWrite, "map is too large for a bitmap in memory");
    }
    bytes.resize(room);
    const StreamPtr stream(SDL_RWFromMem(bytes.data(), static_cast<int>(room)));
    if (!stream) {
        bytes.clear();
        return failedOutcome(DepthStatus::CannotWrite, sdlReason("cannot write bitmap"));
    }
    const int saved = SDL_SaveBMP_RW(surface.get(), stream.get(), 0);
    const int length = SDL_RWtell(stream.get());
    if (saved != 0 || length <= 0) {
        bytes.clear();
        return failedOutcome(DepthStatus::CannotWrite, sdlReason("cannot encode bitmap"));
    }
    bytes.resize(std::size_t(length));
    return {};
}

DepthOutcome writeDepthMapBitmap(const DepthMap& map, StagedFile& file) {
    SurfacePtr surface;
    if (DepthOutcome made = makeGreySurface(map, surface); !made) return made;
    // SDL writes straight to the temporary through a stream of our own, so
    // that a failed write keeps the system's reason ("No space left on
    // device") rather than SDL's "Error writing to datastream".
    DescriptorStream target{file.descriptor(), 0};
    const StreamPtr stream(SDL_AllocRW());
    if (!stream) return failedOutcome(DepthStatus::OutOfMemory, sdlReason("cannot write bitmap"));
    stream->seek = seekDescriptor;
    stream->read = readNothing;
    stream->write = writeDescriptor;
    stream->close = freeStream;
    stream->hidden.unknown.data1 = &target;
    const bool saved = SDL_SaveBMP_RW(surface.get(), stream.get(), 0) == 0;
    if (target.error != 0) {
        return failedOutcome(DepthStatus::CannotWrite, std::string("cannot write: ") + std::strerror(target.error));
    }
    if (!saved) return failedOutcome(DepthStatus::CannotWrite, sdlReason("cannot write bitmap"));
    return {};
}

DepthOutcome saveDepthMapBitmap(const DepthMap& map, const char* fileName) {
    StagedFile file;
    DepthOutcome result = file.open(fileName);
    if (result) result = writeDepthMapBitmap(map, file);
    if (result) result = file.finish();
    if (result) result = file.commit();
    return result;
}

}  // namespace tolvane
