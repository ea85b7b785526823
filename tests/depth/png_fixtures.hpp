#pragma once
// Tiny PNG files of every kind libpng writes, made here with libpng's own
// writer, so the readers meet real files: grey of 1 to 16 bits, grey with
// alpha, palette, RGB and RGBA, plain or interlaced.

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <string>
#include <vector>

namespace png_fixture {

struct Kind {
    const char* label;
    int colorType;  // PNG_COLOR_TYPE_*
    int bitDepth;
    bool interlaced = false;
};

// Channels a pixel of `colorType` has in the file.
inline int channelsOf(int colorType) {
    switch (colorType) {
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
        case PNG_COLOR_TYPE_RGB: return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
        default: return 1;
    }
}

namespace detail {

struct Sink {
    std::vector<std::uint8_t> bytes;
};

inline void onWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    sink->bytes.insert(sink->bytes.end(), data, data + length);
}
inline void onFlush(png_structp) {}

// No C++ object with a destructor lives between the setjmp and libpng's
// calls: the rows and the palette are plain arrays owned by the caller.
inline bool write(png_structp png, png_infop info, const Kind& kind, int width, int height, png_bytepp rows,
                  const png_color* palette, int paletteSize) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), kind.bitDepth,
                 kind.colorType, kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (kind.colorType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, paletteSize);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

}  // namespace detail

// A PNG of `kind` whose samples are `samples` (width x height x channels,
// row-major, each already within the bit depth); for a palette image the
// samples are indexes into `palette` (grey levels: entry i is that grey).
inline std::vector<std::uint8_t> make(const Kind& kind, int width, int height,
                                      const std::vector<std::uint16_t>& samples,
                                      const std::vector<std::uint8_t>& palette = {}) {
    const int channels = channelsOf(kind.colorType);
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * channels * kind.bitDepth + 7) / 8;
    std::vector<std::uint8_t> pixels(rowBytes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = pixels.data() + rowBytes * static_cast<std::size_t>(y);
        for (int i = 0; i < width * channels; ++i) {
            const std::uint16_t v = samples[static_cast<std::size_t>(y * width * channels + i)];
            if (kind.bitDepth == 16) {
                row[2 * i] = static_cast<std::uint8_t>(v >> 8);
                row[2 * i + 1] = static_cast<std::uint8_t>(v);
            } else if (kind.bitDepth == 8) {
                row[i] = static_cast<std::uint8_t>(v);
            } else {
                const int perByte = 8 / kind.bitDepth;
                const int shift = 8 - kind.bitDepth * (i % perByte + 1);
                row[i / perByte] = static_cast<std::uint8_t>(row[i / perByte] | v << shift);
            }
        }
    }
    std::vector<png_bytep> rows(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) rows[static_cast<std::size_t>(y)] = pixels.data() + rowBytes * y;
    std::vector<png_color> colors;
    for (const std::uint8_t grey : palette) colors.push_back(png_color{grey, grey, grey});

    detail::Sink sink;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &sink, detail::onWrite, detail::onFlush);
    const bool written = detail::write(png, info, kind, width, height, rows.data(), colors.data(),
                                       static_cast<int>(colors.size()));
    png_destroy_write_struct(&png, &info);
    return written ? sink.bytes : std::vector<std::uint8_t>{};
}

// The kinds every reader must take.
inline std::vector<Kind> everyKind() {
    return {
        {"grey 1-bit", PNG_COLOR_TYPE_GRAY, 1},
        {"grey 2-bit", PNG_COLOR_TYPE_GRAY, 2},
        {"grey 4-bit", PNG_COLOR_TYPE_GRAY, 4},
        {"grey 8-bit", PNG_COLOR_TYPE_GRAY, 8},
        {"grey 16-bit", PNG_COLOR_TYPE_GRAY, 16},
        {"grey 16-bit interlaced", PNG_COLOR_TYPE_GRAY, 16, true},
        {"grey+alpha 8-bit", PNG_COLOR_TYPE_GRAY_ALPHA, 8},
        {"grey+alpha 16-bit", PNG_COLOR_TYPE_GRAY_ALPHA, 16},
        {"palette 8-bit", PNG_COLOR_TYPE_PALETTE, 8},
        {"palette 4-bit", PNG_COLOR_TYPE_PALETTE, 4},
        {"RGB 8-bit", PNG_COLOR_TYPE_RGB, 8},
        {"RGB 16-bit", PNG_COLOR_TYPE_RGB, 16},
        {"RGBA 8-bit", PNG_COLOR_TYPE_RGB_ALPHA, 8},
        {"RGBA 16-bit interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 16, true},
    };
}

// A grey picture of `levels` (each within the kind's range: 2^bitDepth
// values for grey, 256 for palette and colour) as a file of `kind`: grey
// copied to every colour channel, alpha varying (it must not matter), a
// palette that maps index i to the grey `levels` needs, in an order that is
// not the index order.
inline std::vector<std::uint8_t> greyAs(const Kind& kind, int width, int height, const std::vector<std::uint16_t>& levels) {
    const int channels = channelsOf(kind.colorType);
    std::vector<std::uint16_t> samples;
    std::vector<std::uint8_t> palette;
    const std::uint16_t maxSample = static_cast<std::uint16_t>((1u << kind.bitDepth) - 1);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const std::uint16_t v = levels[i];
        if (kind.colorType == PNG_COLOR_TYPE_PALETTE) {
            std::uint16_t index = 0;
            while (index < palette.size() && palette[index] != v) ++index;
            if (index == palette.size()) palette.push_back(static_cast<std::uint8_t>(v));
            samples.push_back(index);
            continue;
        }
        const int colour = channels >= 3 ? 3 : 1;
        for (int c = 0; c < colour; ++c) samples.push_back(v);
        if (channels == 2 || channels == 4) samples.push_back(static_cast<std::uint16_t>((i * 37) & maxSample));
    }
    return make(kind, width, height, samples, palette);
}

}  // namespace png_fixture
