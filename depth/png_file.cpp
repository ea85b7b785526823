#include "depth/png_file.hpp"

#include <png.h>

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <new>

#include "depth/file_io.hpp"

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
              const PngSettings& settings, PngRowGate* gate) {
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
        if (gate != nullptr && !gate->waitForRows(y + 1)) return false;
        png_write_row(png, pixelAddress(image, 0, y));
    }
    png_write_end(png, info);
    return true;
}

// The encoder's set-up and tear-down around one writing function, which
// holds the setjmp and no C++ object of its own.
template <typename Write>
DepthOutcome encodeWith(std::vector<std::uint8_t>& bytes, Write write) {
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
        written = write(png, info);
    } else {
        sink.outOfMemory = true;
    }
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    if (written) return {};
    bytes.clear();
    if (sink.outOfMemory) return failedOutcome(DepthStatus::OutOfMemory, "out of memory for the PNG encoder");
    return failedOutcome(DepthStatus::CannotWrite, std::string("the PNG encoder failed: ") + sink.message);
}

}  // namespace

DepthOutcome encodeIndexedPng(const DepthMap& image, const RgbPalette& palette, std::vector<std::uint8_t>& bytes,
                              const PngSettings& settings, PngRowGate* gate) {
    bytes.clear();
    if (image.pixels == nullptr || image.area.w < 1 || image.area.h < 1) {
        return failedOutcome(DepthStatus::BadSize, "the picture is empty");
    }
    return encodeWith(bytes, [&](png_structp png, png_infop info) {
        return writePng(png, info, image, palette, settings, gate);
    });
}

namespace {

// ---- writing RGB

bool writeRgbPng(png_structp png, png_infop info, const DepthMap* const* planes, png_bytep row,
                 const PngSettings& settings) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    const std::int32_t width = planes[0]->area.w;
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(planes[0]->area.h), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, std::clamp(settings.level, 0, 9));
    png_set_filter(png, PNG_FILTER_TYPE_BASE, settings.filterRows ? PNG_ALL_FILTERS : PNG_FILTER_NONE);
    png_write_info(png, info);
    for (std::int32_t y = 0; y < planes[0]->area.h; ++y) {
        const std::uint8_t* red = pixelAddress(*planes[0], 0, y);
        const std::uint8_t* green = pixelAddress(*planes[1], 0, y);
        const std::uint8_t* blue = pixelAddress(*planes[2], 0, y);
        for (std::int32_t x = 0; x < width; ++x) {
            row[3 * x] = red[x];
            row[3 * x + 1] = green[x];
            row[3 * x + 2] = blue[x];
        }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    return true;
}

// ---- reading

// Where libpng takes its bytes from (a span, or a descriptor streamed a
// block at a time) and where its complaint goes. Plain data, like PngSink:
// it lives in the caller of the functions that hold a setjmp.
struct PngSource {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::size_t at = 0;
    int fd = -1;  // >= 0: read from here instead of `bytes`, a block at a time
    std::uint8_t block[1 << 16];
    std::size_t blockAt = 0;
    std::size_t blockEnd = 0;
    char message[160] = "";
};

void onReadError(png_structp png, png_const_charp message) {
    PngSource& source = *static_cast<PngSource*>(png_get_error_ptr(png));
    std::strncpy(source.message, message != nullptr ? message : "unknown error", sizeof source.message - 1);
    png_longjmp(png, 1);
}

void onRead(png_structp png, png_bytep data, png_size_t length) {
    PngSource& source = *static_cast<PngSource*>(png_get_io_ptr(png));
    if (source.fd < 0) {
        if (length > source.size - source.at) png_error(png, "the file ends early");
        std::memcpy(data, source.bytes + source.at, length);
        source.at += length;
        return;
    }
    // libpng asks for a few bytes at a time (chunk headers, CRCs, pieces of
    // pixel data): one system call a block, not one a request.
    while (length > 0) {
        if (source.blockAt == source.blockEnd) {
            const ssize_t got = ::read(source.fd, source.block, sizeof source.block);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) png_error(png, std::strerror(errno));
            if (got == 0) png_error(png, "the file ends early");
            source.blockAt = 0;
            source.blockEnd = static_cast<std::size_t>(got);
        }
        const std::size_t take = std::min(length, source.blockEnd - source.blockAt);
        std::memcpy(data, source.block + source.blockAt, take);
        source.blockAt += take;
        data += take;
        length -= take;
    }
}

// Widest row libpng is let decode, in pixels: its own buffers hold a row or
// two of the file's samples (8 bytes a pixel for 16-bit RGBA), so this keeps
// them to some hundreds of megabytes even for the widest picture allowed.
constexpr png_uint_32 kWidestPng = png_uint_32{1} << 24;
// Text, profiles and other side chunks are skipped, but libpng still holds
// each while it reads it; none needs more than this.
constexpr png_alloc_size_t kLargestSideChunk = png_alloc_size_t{8} << 20;

enum class PngWant { Grey, Rgb };

// The picture as it comes out of libpng after the conversions asked for.
struct PngLayout {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;  // of the converted samples: 8 or 16
    int channels = 0;
    png_size_t rowBytes = 0;
    int passes = 1;    // above 1 for an interlaced picture
};

// Reads the header and sets up the conversions. libpng leaves by longjmp
// on any error, so this function and readPngRows hold nothing that needs
// destroying; the C++ objects live in their caller.
bool readPngHeader(png_structp png, png_infop info, PngWant want, PngLayout* layout) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    png_read_info(png, info);
    const int colorType = png_get_color_type(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8) png_set_expand_gray_1_2_4_to_8(png);
    // Alpha, and the alpha that palette expansion makes from a tRNS chunk,
    // is dropped: a depth picture's transparency means nothing here.
    png_set_strip_alpha(png);
    if (want == PngWant::Grey) {
        if ((colorType & PNG_COLOR_MASK_COLOR) != 0) {
            png_set_rgb_to_gray(png, PNG_ERROR_ACTION_NONE, PNG_RGB_TO_GRAY_DEFAULT, PNG_RGB_TO_GRAY_DEFAULT);
        }
    } else {
        png_set_strip_16(png);
        if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    }
    layout->passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout->width = png_get_image_width(png, info);
    layout->height = png_get_image_height(png, info);
    layout->bitDepth = png_get_bit_depth(png, info);
    layout->channels = png_get_channels(png, info);
    layout->rowBytes = png_get_rowbytes(png, info);
    return true;
}

// Where decoded rows go: grey rows through `table` (indexed by the 8- or
// 16-bit level) into planes[0], RGB rows split into the three planes.
struct PngTarget {
    const std::uint8_t* table = nullptr;
    std::uint8_t* planes[3] = {nullptr, nullptr, nullptr};
    png_bytep buffer = nullptr;  // one row, or every row of an interlaced picture
    PngRowListener* listener = nullptr;
    // 0 and up when the table is a plain shift right by this much (levels a
    // power of two), which the compiler turns into vector code.
    int shift = -1;
};

void storePngRow(const PngLayout& layout, const PngTarget& target, png_uint_32 y, png_const_bytep row) {
    const std::size_t width = layout.width;
    const std::size_t at = std::size_t{y} * width;
    if (layout.channels == 1) {
        // Local copies: the bytes written could otherwise alias the
        // target's pointers, which the loop would then reload every time.
        std::uint8_t* __restrict out = target.planes[0] + at;
        const std::uint8_t* __restrict in = row;
        const std::uint8_t* __restrict table = target.table;
        const int shift = target.shift;
        if (layout.bitDepth == 16 && shift >= 8) {
            for (std::size_t x = 0; x < width; ++x) out[x] = static_cast<std::uint8_t>(in[2 * x] >> (shift - 8));
        } else if (layout.bitDepth == 16) {
            for (std::size_t x = 0; x < width; ++x) out[x] = table[in[2 * x] << 8 | in[2 * x + 1]];
        } else if (shift >= 0) {
            for (std::size_t x = 0; x < width; ++x) out[x] = static_cast<std::uint8_t>(in[x] >> shift);
        } else {
            for (std::size_t x = 0; x < width; ++x) out[x] = table[in[x]];
        }
        return;
    }
    std::uint8_t* red = target.planes[0] + at;
    std::uint8_t* green = target.planes[1] + at;
    std::uint8_t* blue = target.planes[2] + at;
    for (std::size_t x = 0; x < width; ++x) {
        red[x] = row[3 * x];
        green[x] = row[3 * x + 1];
        blue[x] = row[3 * x + 2];
    }
}

bool readPngRows(png_structp png, const PngLayout* layout, const PngTarget* target) {
    if (setjmp(png_jmpbuf(png)) != 0) {
        return false;
    }
    if (layout->passes == 1) {
        for (png_uint_32 y = 0; y < layout->height; ++y) {
            png_read_row(png, target->buffer, nullptr);
            storePngRow(*layout, *target, y, target->buffer);
            if (target->listener != nullptr) target->listener->rowsDecoded(static_cast<std::int32_t>(y + 1));
        }
    } else {
        for (int pass = 0; pass < layout->passes; ++pass) {
            for (png_uint_32 y = 0; y < layout->height; ++y) {
                png_read_row(png, target->buffer + std::size_t{y} * layout->rowBytes, nullptr);
            }
        }
        for (png_uint_32 y = 0; y < layout->height; ++y) {
            storePngRow(*layout, *target, y, target->buffer + std::size_t{y} * layout->rowBytes);
        }
        if (target->listener != nullptr) target->listener->rowsDecoded(static_cast<std::int32_t>(layout->height));
    }
    // To the end chunk: a file cut short after its pixels is refused too.
    png_read_end(png, nullptr);
    return true;
}

// The read structures, destroyed however the decoding ends.
struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    explicit PngReader(PngSource& source) {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, onReadError, onWarning);
        if (png != nullptr) info = png_create_info_struct(png);
        if (info != nullptr) png_set_read_fn(png, &source, onRead);
    }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
    ~PngReader() {
        if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    }
};

std::string decodeFailure(const PngSource& source) {
    return std::string("cannot decode PNG: ") + source.message;
}

// The decoded planes (one for depths, three for a picture) of the file that
// `source` reads, through `table` for grey levels.
struct Decoded {
    std::array<DepthMapPtr, 3> planes;
    DepthStatus status = DepthStatus::Ok;
    std::string detail;
};

Decoded fail(DepthStatus status, std::string detail) {
    Decoded decoded;
    decoded.status = status;
    decoded.detail = std::move(detail);
    return decoded;
}

// The level table for `levels`: entry v of a picture with `bitDepth`-bit
// samples is floor(v x levels / 2^bitDepth).
std::vector<std::uint8_t> levelTable(int bitDepth, int levels) {
    const std::uint32_t range = std::uint32_t{1} << bitDepth;
    std::vector<std::uint8_t> table(range);
    for (std::uint32_t v = 0; v < range; ++v) {
        table[v] = static_cast<std::uint8_t>(std::uint64_t{v} * static_cast<std::uint32_t>(levels) / range);
    }
    return table;
}

Decoded decodeFrom(PngSource& source, PngWant want, int levels, PngRowListener* listener) {
    PngReader reader(source);
    if (reader.info == nullptr) return fail(DepthStatus::OutOfMemory, "out of memory for the PNG decoder");
    png_set_user_limits(reader.png, kWidestPng, static_cast<png_uint_32>(kMaxDepthFilePixels));
    png_set_chunk_malloc_max(reader.png, kLargestSideChunk);
    PngLayout layout;
    if (!readPngHeader(reader.png, reader.info, want, &layout)) {
        return fail(DepthStatus::Undecodable, decodeFailure(source));
    }
    if (const DepthResult size = checkDepthFileSize(layout.width, layout.height); !size) {
        return fail(size.status, size.detail);
    }
    const int channels = want == PngWant::Grey ? 1 : 3;
    if (layout.channels != channels || (layout.bitDepth != 8 && layout.bitDepth != 16) ||
        (want == PngWant::Rgb && layout.bitDepth != 8)) {
        return fail(DepthStatus::Undecodable, "cannot decode PNG: libpng gave " + std::to_string(layout.channels) +
                                                  " channels of " + std::to_string(layout.bitDepth) + " bits");
    }
    Decoded decoded;
    for (int c = 0; c < channels; ++c) {
        decoded.planes[c] = createDepthMap(static_cast<std::int32_t>(layout.width),
                                           static_cast<std::int32_t>(layout.height));
        if (!decoded.planes[c]) return fail(DepthStatus::OutOfMemory, "not enough memory for the picture");
    }
    const std::size_t rows = layout.passes == 1 ? 1 : layout.height;
    std::vector<std::uint8_t> buffer(std::max<std::size_t>(layout.rowBytes * rows, 1));
    PngTarget target;
    if (want == PngWant::Grey && (levels & (levels - 1)) == 0) {
        // floor(v x 2^k / 2^b) is v >> (b - k); levels never exceed 256.
        target.shift = layout.bitDepth - std::countr_zero(static_cast<unsigned>(levels));
    }
    // The table only where no shift will do.
    const std::vector<std::uint8_t> table =
        want == PngWant::Grey && target.shift < 0 ? levelTable(layout.bitDepth, levels) : std::vector<std::uint8_t>{};
    target.table = table.data();
    for (int c = 0; c < channels; ++c) target.planes[c] = decoded.planes[c]->pixels;
    target.buffer = buffer.data();
    target.listener = listener;
    if (listener != nullptr && !listener->begin(*decoded.planes[0])) {
        return fail(DepthStatus::BadSize, "the decoding was stopped");
    }
    if (!readPngRows(reader.png, &layout, &target)) {
        if (listener != nullptr) listener->failing();
        return fail(DepthStatus::Undecodable, decodeFailure(source));
    }
    return decoded;
}

Decoded decodeSafely(PngSource& source, PngWant want, int levels, PngRowListener* listener = nullptr) {
    try {
        return decodeFrom(source, want, levels, listener);
    } catch (const std::bad_alloc&) {
        return fail(DepthStatus::OutOfMemory, "not enough memory for the picture");
    }
}

// Runs `decode` on the file: a regular file is streamed from the disk, so
// no copy of it is held beside the map; a pipe is read whole first.
template <typename Decode>
Decoded decodeFile(const char* fileName, Decode decode) {
    InputFile input;
    if (const FileBytes opened = input.open(fileName); !opened) {
        const DepthResult why = fileReadFailure(opened);
        return fail(why.status, why.detail);
    }
    PngSource source;
    FileBytes whole;
    if (input.regular()) {
        source.fd = input.descriptor();
    } else {
        whole = readFileBytes(input, std::uint64_t{1} << 32);
        if (!whole) {
            const DepthResult why = fileReadFailure(whole);
            return fail(why.status, why.detail);
        }
        source.bytes = whole.bytes.data();
        source.size = whole.bytes.size();
    }
    return decode(source);
}

DepthResult asDepthResult(Decoded decoded) {
    DepthResult result;
    result.status = decoded.status;
    result.detail = std::move(decoded.detail);
    result.map = std::move(decoded.planes[0]);
    return result;
}

RgbPlanes asPicture(Decoded decoded) {
    RgbPlanes picture;
    picture.status = decoded.status;
    picture.detail = std::move(decoded.detail);
    picture.planes = std::move(decoded.planes);
    return picture;
}

int checkedLevels(int levels) { return std::clamp(levels, kMinDepthLevels, kMaxDepthLevels); }

std::uint32_t readBe32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

DepthOutcome encodeRgbPng(const DepthMap& red, const DepthMap& green, const DepthMap& blue,
                          std::vector<std::uint8_t>& bytes, const PngSettings& settings) {
    bytes.clear();
    const DepthMap* planes[3] = {&red, &green, &blue};
    for (const DepthMap* plane : planes) {
        if (pixelCount(*plane) == 0 || plane->area.w != red.area.w || plane->area.h != red.area.h) {
            return failedOutcome(DepthStatus::BadSize, "the picture is empty or its planes differ in size");
        }
    }
    std::vector<std::uint8_t> row;
    try {
        row.resize(3 * static_cast<std::size_t>(red.area.w));
    } catch (const std::bad_alloc&) {
        return failedOutcome(DepthStatus::OutOfMemory, "out of memory for the PNG encoder");
    }
    return encodeWith(bytes, [&](png_structp png, png_infop info) {
        return writeRgbPng(png, info, planes, row.data(), settings);
    });
}

DepthResult decodePngDepthMap(std::span<const std::uint8_t> bytes, int levels) {
    PngSource source;
    source.bytes = bytes.data();
    source.size = bytes.size();
    return asDepthResult(decodeSafely(source, PngWant::Grey, checkedLevels(levels)));
}

DepthResult loadPngDepthMap(const char* fileName, int levels, PngRowListener* listener) {
    return asDepthResult(decodeFile(fileName, [&](PngSource& source) {
        return decodeSafely(source, PngWant::Grey, checkedLevels(levels), listener);
    }));
}

DepthResult peekPngSize(std::span<const std::uint8_t> header, std::int64_t& width, std::int64_t& height) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (header.size() < 24 || !std::equal(kSignature, kSignature + 8, header.begin()) ||
        std::memcmp(header.data() + 12, "IHDR", 4) != 0) {
        return depthFailure(DepthStatus::BadHeader, "not a PNG file: no signature and IHDR chunk");
    }
    width = readBe32(header.data() + 16);
    height = readBe32(header.data() + 20);
    return checkDepthFileSize(width, height);
}

RgbPlanes decodePngPicture(std::span<const std::uint8_t> bytes) {
    PngSource source;
    source.bytes = bytes.data();
    source.size = bytes.size();
    return asPicture(decodeSafely(source, PngWant::Rgb, kDefaultDepthLevels));
}

RgbPlanes loadPngPicture(const char* fileName) {
    return asPicture(decodeFile(
        fileName, [](PngSource& source) { return decodeSafely(source, PngWant::Rgb, kDefaultDepthLevels); }));
}

}  // namespace tolvane
