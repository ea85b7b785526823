#include "depth/bitmap_file.hpp"

#include <SDL.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "depth/file_io.hpp"

namespace {

// Room for everything a bitmap may carry besides its pixels: file and info
// headers, colour masks, a palette, an embedded colour profile.
constexpr std::uint64_t kBitmapOverhead = 1u << 20;
// A 32-bit bitmap of the largest map, the largest any decoder needs.
constexpr std::uint64_t kLargestBitmapFile =
    4 * std::uint64_t(kMaxDepthFileSide) * std::uint64_t(kMaxDepthFileSide) + kBitmapOverhead;

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

std::string sdlReason(const char* what) { return std::string(what) + ": " + SDL_GetError(); }

std::uint32_t readLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::uint16_t readLe16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// SDL allocates the whole surface from the header's size before it reads a
// single pixel, so the header is checked here first: the sides against the
// map limit, and, for uncompressed pixels, the file against the bytes those
// sides need. Files that are not bitmaps at all are left for SDL to refuse.
bool checkHeader(std::span<const std::uint8_t> bytes, std::string* why) {
    constexpr std::size_t kFileHeader = 14;
    constexpr std::size_t kCoreHeader = 12;  // the old header: 16-bit sides
    constexpr std::uint32_t kRgb = 0;
    constexpr std::uint32_t kBitFields = 3;
    if (bytes.size() < 2 || bytes[0] != 'B' || bytes[1] != 'M') return true;
    if (bytes.size() < kFileHeader + 4) {
        setReason(why, "bitmap header is truncated");
        return false;
    }
    const std::uint32_t infoSize = readLe32(bytes.data() + 14);
    const bool core = infoSize == kCoreHeader;
    // The sides first, as soon as the bytes holding them are there; then
    // the bits per pixel and, past the core header, the compression.
    if (bytes.size() < (core ? 22u : 26u)) {
        setReason(why, "bitmap header is truncated");
        return false;
    }
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (core) {
        width = readLe16(bytes.data() + 18);
        height = readLe16(bytes.data() + 20);
    } else {
        width = static_cast<std::int32_t>(readLe32(bytes.data() + 18));
        // A negative height only means the rows are stored top first.
        height = static_cast<std::int32_t>(readLe32(bytes.data() + 22));
        if (height < 0) height = -height;
    }
    if (!checkDepthFileSize(width, height, why)) return false;
    if (bytes.size() < (core ? 26u : 34u)) {
        setReason(why, "bitmap header is truncated");
        return false;
    }
    const std::uint32_t bitsPerPixel = readLe16(bytes.data() + (core ? 24 : 28));
    const std::uint32_t compression = core ? kRgb : readLe32(bytes.data() + 30);
    if (compression != kRgb && compression != kBitFields) return true;  // run-length data may be short
    const std::uint64_t stride = (std::uint64_t(width) * bitsPerPixel + 31) / 32 * 4;
    const std::uint64_t needed = readLe32(bytes.data() + 10) + stride * std::uint64_t(height);
    if (bytes.size() < needed) {
        setReason(why, "bitmap file is shorter than its pixel data");
        return false;
    }
    return true;
}

}  // namespace

DepthMapPtr decodeBitmapDepthMap(std::span<const std::uint8_t> bytes, std::string* why) {
    if (bytes.empty()) {
        setReason(why, "cannot decode bitmap: the file is empty");
        return nullptr;
    }
    if (!checkHeader(bytes, why)) return nullptr;
    if (bytes.size() > std::size_t(INT_MAX)) {
        setReason(why, "bitmap is too large");
        return nullptr;
    }
    SDL_RWops* stream = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    if (stream == nullptr) {
        setReason(why, sdlReason("cannot read bitmap"));
        return nullptr;
    }
    const SurfacePtr surface(SDL_LoadBMP_RW(stream, 1));  // SDL closes the stream
    if (!surface) {
        setReason(why, sdlReason("cannot decode bitmap"));
        return nullptr;
    }
    const SurfaceLock lock(surface.get());
    if (!lock.locked()) {
        setReason(why, sdlReason("cannot lock bitmap surface"));
        return nullptr;
    }
    const std::size_t bytesPerPixel = surface->format->BytesPerPixel;
    const std::size_t pitch = surface->pitch;
    if (bytesPerPixel == 0 || pitch < std::size_t(std::max(surface->w, 0)) * bytesPerPixel) {
        setReason(why, "bitmap surface has an unsupported layout");
        return nullptr;
    }
    DepthMapPtr map = createDepthMapForFile(surface->w, surface->h, why);
    if (!map) return nullptr;
    // Row by row at the pitch: 8- and 24-bit rows are padded to a multiple
    // of four bytes, so packed addressing would drift from the second row.
    const auto* pixels = static_cast<const std::uint8_t*>(surface->pixels);
    for (std::int32_t y = 0; y < map->area.h; ++y) {
        const std::uint8_t* source = pixels + std::size_t(y) * pitch;
        std::uint8_t* row = pixelAddress(*map, 0, y);
        for (std::int32_t x = 0; x < map->area.w; ++x) {
            row[x] = source[std::size_t(x) * bytesPerPixel] >> 3;
        }
    }
    return map;
}

DepthMapPtr loadBitmapDepthMap(const char* fileName, std::string* why) {
    std::vector<std::uint8_t> bytes;
    if (!readFileBytes(fileName, kLargestBitmapFile, bytes, why)) return nullptr;
    return decodeBitmapDepthMap(bytes, why);
}

bool encodeDepthMapBitmap(const DepthMap& map, std::vector<std::uint8_t>& bytes, std::string* why) {
    bytes.clear();
    const std::int32_t width = std::max(map.area.w, 0);
    const std::int32_t height = std::max(map.area.h, 0);
    // SDL writes into a fixed block: room for four bytes a pixel, row
    // padding and any header. Its streams count in int.
    const std::uint64_t room = 4 * (std::uint64_t(width) + 1) * std::uint64_t(height) +
                               kBitmapOverhead;
    if (room > std::uint64_t(INT_MAX)) {
        setReason(why, "map is too large for a bitmap");
        return false;
    }
    const SurfacePtr surface(SDL_CreateRGBSurface(0, width, height, 32, 0, 0, 0, 0));
    if (!surface) {
        setReason(why, sdlReason("cannot create bitmap surface"));
        return false;
    }
    {
        const SurfaceLock lock(surface.get());
        if (!lock.locked()) {
            setReason(why, sdlReason("cannot lock bitmap surface"));
            return false;
        }
        auto* pixels = static_cast<std::uint8_t*>(surface->pixels);
        for (std::int32_t y = 0; y < height; ++y) {
            const std::uint8_t* row = pixelAddress(map, 0, y);
            std::uint8_t* target = pixels + std::size_t(y) * std::size_t(surface->pitch);
            for (std::int32_t x = 0; x < width; ++x) {
                // Grey: the same byte in all four, whatever the channel order.
                const std::uint32_t grey = std::uint8_t(row[x] << 3) * 0x01010101u;
                std::memcpy(target + 4 * std::size_t(x), &grey, 4);
            }
        }
    }
    bytes.resize(room);
    const StreamPtr stream(SDL_RWFromMem(bytes.data(), static_cast<int>(room)));
    if (!stream) {
        bytes.clear();
        setReason(why, sdlReason("cannot write bitmap"));
        return false;
    }
    const int saved = SDL_SaveBMP_RW(surface.get(), stream.get(), 0);
    const int length = SDL_RWtell(stream.get());
    if (saved != 0 || length <= 0) {
        bytes.clear();
        setReason(why, sdlReason("cannot encode bitmap"));
        return false;
    }
    bytes.resize(std::size_t(length));
    return true;
}

bool saveDepthMapBitmap(const DepthMap& map, const char* fileName, std::string* why) {
    std::vector<std::uint8_t> bytes;
    return encodeDepthMapBitmap(map, bytes, why) && writeFileSafely(fileName, bytes, why);
}
