#pragma once
// Reading back the pictures the program writes, with libpng and SDL, as
// plain RGB triples, so tests compare them with what the screen shows.

#include <SDL.h>
#include <png.h>

#include <cstdint>
#include <vector>

#include "depth/depth_map.hpp"

using namespace tolvane;

struct RgbPicture {
    bool read = false;
    bool indexed256 = false;  // a palette of exactly 256 entries
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> rgb;  // row-major, three bytes a pixel
};

inline RgbPicture readPng(const std::vector<std::uint8_t>& bytes) {
    RgbPicture picture;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) return picture;
    picture.indexed256 = (image.format & PNG_FORMAT_FLAG_COLORMAP) != 0 && image.colormap_entries == 256;
    image.format = PNG_FORMAT_RGB;
    picture.width = static_cast<std::int32_t>(image.width);
    picture.height = static_cast<std::int32_t>(image.height);
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    picture.read = png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return picture;
}

inline RgbPicture readBmp(const std::vector<std::uint8_t>& bytes) {
    RgbPicture picture;
    SDL_Surface* surface = SDL_LoadBMP_RW(SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size())), 1);
    if (surface == nullptr) return picture;
    const SDL_Palette* palette = surface->format->palette;
    picture.indexed256 = surface->format->BitsPerPixel == 8 && palette != nullptr && palette->ncolors == 256;
    picture.width = surface->w;
    picture.height = surface->h;
    if (picture.indexed256) {
        for (int y = 0; y < surface->h; ++y) {
            const auto* row = static_cast<const std::uint8_t*>(surface->pixels) + y * surface->pitch;
            for (int x = 0; x < surface->w; ++x) {
                const SDL_Color& c = palette->colors[row[x]];
                picture.rgb.insert(picture.rgb.end(), {c.r, c.g, c.b});
            }
        }
        picture.read = true;
    }
    SDL_FreeSurface(surface);
    return picture;
}

// The RGB triples of `indexes` as readPng and readBmp give them;
// `colorOf(index)` gives an index's colour as three ints.
template <typename Lookup>
std::vector<std::uint8_t> rgbOf(const DepthMap& indexes, Lookup colorOf) {
    std::vector<std::uint8_t> rgb;
    const std::size_t count = static_cast<std::size_t>(indexes.area.w) * static_cast<std::size_t>(indexes.area.h);
    rgb.reserve(count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        const auto [r, g, b] = colorOf(indexes.pixels[i]);
        rgb.insert(rgb.end(), {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(b)});
    }
    return rgb;
}
