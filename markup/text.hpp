#pragma once
// Small text toolkit: the owning TextBuffer, byte-exact text functions and the
// number reading and writing used by the world description and the caption.
// There is no locale and no case folding anywhere. A null text pointer is read
// as the empty text, so a missing attribute value never faults a caller.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

bool isSpace(char c);  // tab, line feed, carriage return and space only
std::int32_t textSize(const char* text);  // length plus one
bool textEquals(const char* a, const char* b);
std::int32_t indexOfChar(const char* text, char c);  // -1 when absent; 0 is never found

// 10 multiplied n times, 1 for n <= 0. Wraps modulo 2^32 past 10^9, like
// every 32-bit integer in the number readers.
std::int32_t powerOfTen(std::int32_t n);
void reverseChars(char* chars, std::int32_t n);

// Lenient readers: every character contributes its code minus 48, so they
// never fail. parseInt wraps to 32 bits (two's complement) when the value
// does not fit; parseFloat sums digit by digit in double precision and starts
// from powerOfTen, so it wraps the same way with 11 or more integer digits.
std::int32_t parseInt(const char* text);
double parseFloat(const char* text);

// How formatFloat writes: at most `maxFractionDigits` digits after the
// point (-1: no limit), and whether a number below 1 starts with "0".
struct FloatFormat {
    std::int32_t maxFractionDigits = -1;
    bool writeZeroIntegerPart = true;
};

// Truncating decimal writer. The integer part is the low 32 bits of the
// value truncated to 64 bits, written as a signed number; NaN, infinities
// and magnitudes of 2^63 or more give 0. The result never exceeds
// kMaxFormattedFloatChars characters.
inline constexpr std::size_t kMaxFormattedFloatChars = 48;
std::string formatFloat(double x, FloatFormat format = {});

// `text` made safe to print in a one-line message: tab, line feed and
// carriage return become \t, \n and \r, every other control byte (below
// 0x20, 0x7F), every C1 control (U+0080 to U+009F) and every bidirectional
// embedding, override or isolate (U+202A to U+202E, U+2066 to U+2069)
// becomes \xHH for each of its bytes, and so does every byte that is not
// part of well-formed UTF-8. Other UTF-8 text is kept, so names in any script print as written.
// Nothing else changes, not even a backslash: escaping twice gives the same
// text as escaping once.
std::string escapeForDisplay(std::string_view text);
// `text` escaped as above, between double quotes, as messages show names and
// values.
std::string quoted(const char* text);
// The nearest 32-bit value, for coordinates summed in 64 bits.
std::int32_t saturate32(std::int64_t value);

// Backslash escapes of quoted attribute values; the text only gets shorter.
// A lone backslash at the very end is kept.
void unescapeInPlace(std::string& text);

// An owning text. Never copied; its text is handed on as a plain pointer.
// It never holds a NUL: anything given to it ends at its first NUL, so
// data() and length() always agree.
class TextBuffer {
public:
    TextBuffer() = default;
    explicit TextBuffer(const char* text);
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
    TextBuffer(TextBuffer&&) noexcept = default;
    TextBuffer& operator=(TextBuffer&&) noexcept = default;

    const char* data() const { return text_.c_str(); }
    std::int32_t length() const { return static_cast<std::int32_t>(text_.size()); }

    void adopt(std::string text);
    void assign(const char* text);
    void assign(std::string_view text);
    // Copies count characters from source + start, stopping early at the
    // source's terminator; a negative start or count gives "".
    void assignSlice(const char* source, std::int32_t start, std::int32_t count);
    void append(const char* text);
    void append(std::string_view text);
    void prepend(const char* text);
    std::int32_t find(const char* pattern) const;  // leftmost, -1 for "" or none
    bool removeFirst(const char* pattern);
    bool equals(const char* text) const;

private:
    std::string text_;
};

}  // namespace tolvane
