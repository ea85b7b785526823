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

// SDL allocates the whole surface from the header's size before it reads a
// single pixel, so the size is checked here first. Files too short to hold
// a size, or that are not bitmaps at all, are left for SDL to refuse.
bool checkHeaderSize(std::span<const std::uint8_t> bytes, std::string* why) {
    constexpr std::size_t kSizeEnd = 26;
    if (bytes.size() < kSizeEnd || bytes[0] != 'B' || bytes[1] != 'M') return true;
    const std::uint32_t infoSize = readLe32(bytes.data() + 14);
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (infoSize == 12) {  // the old core header: unsigned 16-bit sides
        width = bytes[18] | bytes[19] << 8;
        height = bytes[20] | bytes[21] << 8;
    } else {
        width = static_cast<std::int32_t>(readLe32(bytes.data() + 18));
        // A negative height only means the rows are stored top first.
        height = static_cast<std::int32_t>(readLe32(bytes.data() + 22));
        if (height < 0) height = -height;
    }
    return checkDepthFileSize(width, height, why);
}

}  // namespace

DepthMapPtr decodeBitmapDepthMap(std::span<const std::uint8_t> bytes, std::string* why) {
    if (bytes.empty()) {
        setReason(why, "cannot decode bitmap: the file is empty");
        return nullptr;
    }
    if (!checkHeaderSize(bytes, why)) return nullptr;
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
