#include "depth/png_file.hpp"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>

namespace tolvane {

namespace {

// Where libpng's output and its last complaint go. libpng reports errors by
// longjmp, so nothing that needs destroying may live between the setjmp in
// writePng and the calls that can fail; the sink is plain data and the
// vector it points to lives in the caller.
struct PngSink {
    std::vector<std::uint8_t>* bytes = nullptr;
    bool outOfMemory = false;
    char message[160] = "";
};

PngSink& sinkOf(png_structp png) { return *static_cast<PngSink*>(png_get_error_ptr(png)); }

void onError(png_structp png, png_const_charp message) {
    PngSink& sink = sinkOf(png);
    std::strncpy(sink.message, message != nullptr ? message : "unknown error", sizeof sink.message - 1);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void onWrite(png_structp png, png_bytep data, png_size_t length) {
    PngSink& sink = *static_cast<PngSink*>(png_get_io_ptr(png));
    bool full = false;
    try {
        sink.bytes->insert(sink.bytes->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        full = true;
    }
    // Outside the handler: png_error leaves by longjmp.
    if (full) {
        sink.outOfMemory = true;
        png_error(png, "out of memory");
    }
}

void onFlush(png_structp) {}

bool writePng(png_structp png, png_infop info, const DepthMap& image, const RgbPalette& palette,
              const PngSettings& settings) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.area.w), static_cast<png_uint_32>(image.area.h), 8,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color colors[256];
    for (std::size_t i = 0; i < palette.size(); ++i) {
        colors[i].red = palette[i].red;
        colors[i].green = palette[i].green;
        colors[i].blue = palette[i].blue;
    }
    png_set_PLTE(png, info, colors, 256);
    png_set_compression_level(png, std::clamp(settings.level, 0, 9));
    png_set_filter(png, PNG_FILTER_TYPE_BASE, settings.filterRows ? PNG_ALL_FILTERS : PNG_FILTER_NONE);
    png_write_info(png, info);
    for (std::int32_t y = 0; y < image.area.h; ++y) {
        png_write_row(png, pixelAddress(image, 0, y));
    }
    png_write_end(png, info);
    return true;
}

}  // namespace

DepthOutcome encodeIndexedPng(const DepthMap& image, const RgbPalette& palette, std::vector<std::uint8_t>& bytes,
                              const PngSettings& settings) {
    bytes.clear();
    if (image.pixels == nullptr || image.area.w < 1 || image.area.h < 1) {
        return failedOutcome(DepthStatus::BadSize, "the picture is empty");
    }
    PngSink sink;
    sink.bytes = &bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, onError, onWarning);
    if (png == nullptr) {
        return failedOutcome(DepthStatus::OutOfMemory, "out of memory for the PNG encoder");
    }
    png_infop info = png_create_info_struct(png);
    bool written = false;
    if (info != nullptr) {
        png_set_write_fn(png, &sink, onWrite, onFlush);
        written = writePng(png, info, image, palette, settings);
    } else {
        sink.outOfMemory = true;
    }
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    if (written) return {};
    bytes.clear();
    if (sink.outOfMemory) return failedOutcome(DepthStatus::OutOfMemory, "out of memory for the PNG encoder");
    return failedOutcome(DepthStatus::CannotWrite, std::string("the PNG encoder failed: ") + sink.message);
}

}  // namespace tolvane
