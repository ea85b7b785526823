#include "depth/text_file.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "depth/file_io.hpp"
#include "markup/text.hpp"

namespace tolvane {

namespace {

// Characters a line may hold beyond the width before it is cut: the line
// buffer of the format is width + 5 bytes, one of them the terminator.
constexpr std::int64_t kLineSlack = 4;

// The largest meaningful file for the largest map: a header, then every row
// line at its longest (width + 3 characters and a CR LF). Anything beyond
// that is not a depth grid worth holding in memory.
// A map of kMaxDepthFilePixels pixels with rows of one pixel has the most
// line ends: 5 bytes a row at most.
constexpr std::uint64_t kLargestTextFile = 5 * std::uint64_t(kMaxDepthFilePixels) + (1u << 20);

constexpr std::array<std::uint8_t, 256> kDepthOfChar = [] {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) table[std::size_t(c)] = std::uint8_t(c - 54);
    table[' '] = 0;
    table['0'] = 10;
    for (int digit = 1; digit <= 9; ++digit) table[std::size_t('0' + digit)] = std::uint8_t(digit);
    return table;
}();

// The depth of each character in the low byte, and 1 in the high byte for
// a character the format does not name (anything but space, the digits and
// "A" to "U"): such a byte still gives a depth, but rarely the one its
// author meant. One lookup a pixel gives both.
constexpr std::uint16_t kStray = 0x100;
constexpr std::array<std::uint16_t, 256> kCharEntry = [] {
    std::array<std::uint16_t, 256> table{};
    for (int c = 0; c < 256; ++c) table[std::size_t(c)] = std::uint16_t(kStray | kDepthOfChar[std::size_t(c)]);
    table[' '] = kDepthOfChar[' '];
    for (int c = '0'; c <= '9'; ++c) table[std::size_t(c)] = kDepthOfChar[std::size_t(c)];
    for (int c = 'A'; c <= 'U'; ++c) table[std::size_t(c)] = kDepthOfChar[std::size_t(c)];
    return table;
}();

// Counts the pixels read from characters outside the table and remembers
// the first, for one warning line.
struct StrayCharacters {
    std::int64_t count = 0;
    std::uint8_t first = 0;
    std::int64_t row = 0;       // of the map, 1-based
    std::int64_t column = 0;    // 1-based
    std::int64_t fileLine = 0;  // 1-based; the header's line comes first

    // `found` of the characters of row `y`'s `line`, a part of `file`, are
    // outside the table.
    void note(std::span<const std::uint8_t> file, std::span<const std::uint8_t> line, std::int32_t y,
              std::size_t found) {
        if (count == 0) {
            const auto at = std::find_if(line.begin(), line.end(),
                                         [](std::uint8_t c) { return (kCharEntry[c] & kStray) != 0; });
            first = *at;
            row = std::int64_t(y) + 1;
            column = std::int64_t(at - line.begin()) + 1;
            const auto lineEnds = std::count(file.data(), line.data() + (at - line.begin()), '\n');
            fileLine = std::int64_t(lineEnds) + 1;
        }
        count += std::int64_t(found);
    }

    std::string warning() const {
        const std::string_view character(reinterpret_cast<const char*>(&first), 1);
        return std::to_string(count) + (count == 1 ? " character" : " characters") +
               " outside the depth table, the first \"" + escapeForDisplay(character) + "\" at row " +
               std::to_string(row) + ", column " + std::to_string(column) + " (line " + std::to_string(fileLine) +
               " of the file); only space, 1-9, 0 (for 10) and A-U give the depths 0-31";
    }
};

// The file's bytes as a text-mode stream delivers them on a platform that
// translates line ends: a CR directly before an LF comes out as the LF
// alone, so CR LF files read exactly like LF files. Past the end, peek()
// gives -1.
class TextCursor {
public:
    explicit TextCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    int peek() const {
        if (at_ >= bytes_.size()) return -1;
        return isLineEndPair() ? '\n' : bytes_[at_];
    }
    void advance() { at_ += isLineEndPair() ? 2 : 1; }
    const std::uint8_t* position() const { return bytes_.data() + at_; }

private:
    bool isLineEndPair() const {
        return bytes_[at_] == '\r' && at_ + 1 < bytes_.size() && bytes_[at_ + 1] == '\n';
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

bool isFormattedInputSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Formatted integer input: white space skipped, an optional sign, then at
// least one digit. The value saturates far beyond any acceptable side, so
// that an absurd header is refused by the size check rather than wrapping.
bool readInteger(TextCursor& cursor, std::int64_t& value) {
    constexpr std::int64_t kSaturated = std::int64_t(1) << 40;
    while (isFormattedInputSpace(cursor.peek())) cursor.advance();
    bool negative = false;
    if (cursor.peek() == '+' || cursor.peek() == '-') {
        negative = cursor.peek() == '-';
        cursor.advance();
    }
    if (cursor.peek() < '0' || cursor.peek() > '9') return false;
    value = 0;
    while (cursor.peek() >= '0' && cursor.peek() <= '9') {
        value = std::min(value * 10 + (cursor.peek() - '0'), kSaturated);
        cursor.advance();
    }
    if (negative) value = -value;
    return true;
}

// One line by the format's rule: at most `limit` characters are taken, and
// once that many are taken the next character stays unread, even a line
// end. A line end is consumed and not part of the line. The characters of
// a line are always contiguous in the file, because a CR LF ends it.
std::span<const std::uint8_t> readLine(TextCursor& cursor, std::int64_t limit) {
    const std::uint8_t* start = cursor.position();
    std::size_t taken = 0;
    while (std::int64_t(taken) < limit) {
        const int c = cursor.peek();
        if (c < 0) break;
        cursor.advance();
        if (c == '\n') break;
        ++taken;
    }
    return {start, taken};
}

// What the decoder can use of a file starting with `head`: the header, then
// at most width + kLineSlack characters and a line end (CR LF at most) for
// the header's line and each row, and one byte more for a CR LF cut there.
// A header that is surely malformed needs no more than `head` to be refused.
std::uint64_t usableTextBytes(std::span<const std::uint8_t> head, std::uint64_t fileSize) {
    TextCursor cursor(head);
    std::int64_t width = 0;
    std::int64_t height = 0;
    const bool read = readInteger(cursor, width) && readInteger(cursor, height);
    // Blank space or digits up to the end of `head` may go on past it.
    if (cursor.peek() < 0 && head.size() < fileSize) return 0;
    if (!read || !checkDepthFileSize(width, height)) return head.size();
    const auto headerEnd = std::uint64_t(cursor.position() - head.data());
    return headerEnd + (std::uint64_t(height) + 1) * (std::uint64_t(width) + kLineSlack + 2) + 1;
}

}  // namespace

std::uint8_t depthFromChar(char c) { return kDepthOfChar[static_cast<unsigned char>(c)]; }

DepthResult peekTextSize(std::span<const std::uint8_t> header, bool wholeFile, std::int64_t& width,
                         std::int64_t& height) {
    TextCursor cursor(header);
    // Unless the file ends there, a height at the end of the bytes given
    // might go on.
    if (!readInteger(cursor, width) || !readInteger(cursor, height) ||
        (!wholeFile && cursor.peek() < 0)) {
        return depthFailure(DepthStatus::BadHeader,
                            "header does not start with two integers (width, then height)");
    }
    return checkDepthFileSize(width, height);
}

DepthResult decodeTextDepthMap(std::span<const std::uint8_t> bytes) {
    TextCursor cursor(bytes);
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (!readInteger(cursor, width) || !readInteger(cursor, height)) {
        return depthFailure(DepthStatus::BadHeader,
                            "header does not start with two integers (width, then height)");
    }
    DepthResult result = createDepthMapForFile(width, height);
    if (!result) return result;
    DepthMap& map = *result.map;

    const std::int64_t limit = width + kLineSlack;
    readLine(cursor, limit);  // the rest of the header's line
    StrayCharacters stray;
    const std::size_t rowBytes = std::size_t(width);
    for (std::int32_t y = 0; y < map.area.h; ++y) {
        // Past the end of the file every line is empty, so missing rows
        // stay 0, as a new map starts, like the ends of short lines.
        if (cursor.peek() < 0) break;
        const std::span<const std::uint8_t> line = readLine(cursor, limit);
        std::uint8_t* row = pixelAddress(map, 0, y);
        const std::size_t given = std::min(line.size(), rowBytes);
        std::size_t strays = 0;
        for (std::size_t x = 0; x < given; ++x) {
            const std::uint16_t entry = kCharEntry[line[x]];
            row[x] = std::uint8_t(entry);
            strays += entry >> 8;
        }
        if (strays > 0) stray.note(bytes, line.first(given), y, strays);
        if (given < rowBytes) std::memset(row + given, 0, rowBytes - given);
    }
    if (stray.count > 0) result.warnings.push_back(stray.warning());
    return result;
}

DepthResult loadTextDepthMap(const char* fileName) {
    const FileBytes file = readUsableBytes(fileName, kLargestTextFile, usableTextBytes);
    return file ? decodeTextDepthMap(file.bytes) : fileReadFailure(file);
}

}  // namespace tolvane
