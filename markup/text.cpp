#include "markup/text.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

namespace tolvane {


namespace {

const char* orEmpty(const char* text) { return text != nullptr ? text : ""; }

// The part of a text before its first NUL: a buffer models a C text.
std::string_view untilNul(std::string_view text) { return text.substr(0, text.find('\0')); }

// A character's contribution to a number: its code as a signed byte, minus
// the code of "0". Nothing is validated, so "x" or " " count as well.
std::int32_t digitValue(char c) { return static_cast<std::int32_t>(static_cast<signed char>(c)) - 48; }

// Truncation toward zero through a 64-bit integer, keeping the low 32 bits.
// Anything without a 64-bit integer value (NaN, the infinities, 2^63 and
// beyond) gives 0, which is also what the hardware conversion leaves in the
// low half; doing it by hand keeps it free of undefined behaviour.
std::int32_t truncateLow32(double v) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (!(std::fabs(v) < kTwoTo63)) {
        return 0;
    }
    const auto wide = static_cast<std::uint64_t>(static_cast<std::int64_t>(v));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(wide));
}

// Writes n in decimal. The magnitude is taken in unsigned arithmetic so the
// most negative value (which a wrapped integer part can be) has one too.
void writeInteger(std::string& out, std::int32_t n) {
    std::uint32_t magnitude = static_cast<std::uint32_t>(n);
    if (n < 0) {
        out.push_back('-');
        magnitude = 0U - magnitude;
    }
    const std::size_t first = out.size();
    while (magnitude != 0) {
        out.push_back(static_cast<char>('0' + magnitude % 10U));
        magnitude /= 10U;
    }
    reverseChars(out.data() + first, static_cast<std::int32_t>(out.size() - first));
}

}  // namespace

bool isSpace(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

std::int32_t textSize(const char* text) { return static_cast<std::int32_t>(std::strlen(orEmpty(text)) + 1); }

bool textEquals(const char* a, const char* b) { return std::strcmp(orEmpty(a), orEmpty(b)) == 0; }

std::int32_t indexOfChar(const char* text, char c) {
    if (c == '\0') {
        return -1;
    }
    const char* text0 = orEmpty(text);
    const char* hit = std::strchr(text0, c);
    return hit != nullptr ? static_cast<std::int32_t>(hit - text0) : -1;
}

std::int32_t powerOfTen(std::int32_t n) {
    std::uint32_t value = 1;
    for (std::int32_t i = 0; i < n; ++i) {
        value *= 10U;
        if (value == 0) {
            break;  // 10^32 and beyond: every later product stays 0
        }
    }
    return static_cast<std::int32_t>(value);
}

void reverseChars(char* chars, std::int32_t n) {
    for (std::int32_t i = 0; i < n / 2; ++i) {
        std::swap(chars[i], chars[n - 1 - i]);
    }
}

std::int32_t parseInt(const char* text) {
    const char* p = orEmpty(text);
    const bool negative = *p == '-';
    if (negative) {
        ++p;
    }
    // Unsigned arithmetic: an overlong number wraps instead of overflowing.
    std::uint32_t value = 0;
    for (; *p != '\0'; ++p) {
        value = value * 10U + static_cast<std::uint32_t>(digitValue(*p));
    }
    if (negative) {
        value = 0U - value;
    }
    return static_cast<std::int32_t>(value);
}

double parseFloat(const char* text) {
    const char* p = orEmpty(text);
    std::int32_t digitsBeforeDot = indexOfChar(p, '.');
    if (digitsBeforeDot < 0) {
        return static_cast<double>(parseInt(p));
    }
    const bool negative = *p == '-';
    if (negative) {
        ++p;
        --digitsBeforeDot;
    }
    // Summed digit by digit with a scale that shrinks by a factor 0.1, so the
    // last bits can differ from the nearest double (0.75 reads as
    // 0.7500000000000001); world files were tuned against exactly this.
    double scale = *p == '.' ? 0.1 : static_cast<double>(powerOfTen(digitsBeforeDot - 1));
    double sum = 0.0;
    for (; *p != '\0'; ++p) {
        if (*p == '.') {
            continue;
        }
        sum += digitValue(*p) * scale;
        scale *= 0.1;
    }
    return negative ? -sum : sum;
}

namespace {

// Length of the well-formed UTF-8 sequence starting at `at` (2 to 4), or 0.
// Overlong forms, surrogates and code points past U+10FFFF are not well formed.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
    };
    const auto continues = [&](std::size_t i, unsigned low, unsigned high) {
        return byte(i) >= low && byte(i) <= high;
    };
    const unsigned lead = byte(0);
    if (lead >= 0xC2 && lead <= 0xDF) return continues(1, 0x80, 0xBF) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned high = lead == 0xED ? 0x9F : 0xBF;
        return continues(1, low, high) && continues(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;
        return continues(1, low, high) && continues(2, 0x80, 0xBF) && continues(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

void appendHexEscape(std::string& out, unsigned char byte) {
    constexpr const char* kHex = "0123456789abcdef";
    out += "\\x";
    out.push_back(kHex[byte >> 4]);
    out.push_back(kHex[byte & 0xF]);
}

}  // namespace

// A name may come from a file or a command line and hold anything: raw, a
// line feed would split a message and an escape byte would reach the
// terminal as a command (C1 controls too, where a terminal honours them).
// The embeddings, overrides and isolates (U+202A to U+202E, U+2066 to
// U+2069) reorder the text after them on a terminal, so a name holding one
// could show a message other than the one printed.
bool isBidiControl(std::string_view sequence) {
    if (sequence.size() != 3 || static_cast<unsigned char>(sequence[0]) != 0xE2) return false;
    const auto second = static_cast<unsigned char>(sequence[1]);
    const auto third = static_cast<unsigned char>(sequence[2]);
    return (second == 0x80 && third >= 0xAA && third <= 0xAE) || (second == 0x81 && third >= 0xA6 && third <= 0xA9);
}

std::string escapeForDisplay(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
            ++i;
        } else if (c == '\t' || c == '\n' || c == '\r') {
            out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
            ++i;
        } else if (const std::size_t length = c >= 0x80 ? utf8SequenceLength(text, i) : 0; length == 0) {
            appendHexEscape(out, c);
            ++i;
        } else if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            appendHexEscape(out, c);  // U+0080 to U+009F, the C1 controls
            appendHexEscape(out, static_cast<unsigned char>(text[i + 1]));
            i += 2;
        } else if (isBidiControl(text.substr(i, length))) {
            for (std::size_t k = 0; k < length; ++k) appendHexEscape(out, static_cast<unsigned char>(text[i + k]));
            i += length;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string quoted(const char* text) {
    std::string out(1, '"');
    out += escapeForDisplay(text != nullptr ? text : "");
    out += '"';
    return out;
}

std::int32_t saturate32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

std::string formatFloat(double x, FloatFormat format) {
    std::string out;
    out.reserve(kMaxFormattedFloatChars);
    if (x < 0) {
        out.push_back('-');
        x = -x;
    }
    const std::int32_t n = truncateLow32(x);
    if (n != 0) {
        writeInteger(out, n);
    } else if (format.writeZeroIntegerPart) {
        out.push_back('0');
    }

    double f = x - n;
    if (f < 1e-7) {
        if (out.empty()) {
            out.push_back('0');
        }
        return out;
    }
    out.push_back('.');
    if (!(f > 1e-7)) {
        return out;
    }
    // Digits are truncated, never rounded: a later digit does not carry. The
    // limit is tested after a digit is written, so a limit of 0 still gives
    // one digit. An infinite fraction keeps giving the digit 0.
    std::int32_t count = 0;
    do {
        f *= 10.0;
        const std::int32_t d = truncateLow32(f);
        // A wrapped integer part can leave a fraction far above 1; keep the
        // written character a digit whatever the conversion gave.
        out.push_back(static_cast<char>('0' + static_cast<std::uint32_t>(d) % 10U));
        f -= d;
        if (format.maxFractionDigits != -1) {
            ++count;
            if (count >= format.maxFractionDigits) {
                f = 0.0;
            }
        }
    } while (out.size() < kMaxFormattedFloatChars && f > 1e-7);
    return out;
}

void unescapeInPlace(std::string& text) {
    const std::size_t end = untilNul(text).size();
    std::size_t write = 0;
    std::size_t read = 0;
    while (read < end) {
        const char c = text[read];
        // A backslash with nothing after it has no pair to form; it stays.
        if (c != '\\' || read + 1 == end) {
            text[write++] = c;
            ++read;
            continue;
        }
        const char escaped = text[read + 1];
        text[write++] = escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
        read += 2;
    }
    text.resize(write);
}

TextBuffer::TextBuffer(const char* text) : text_(orEmpty(text)) {}

void TextBuffer::adopt(std::string text) {
    text.resize(untilNul(text).size());
    text_ = std::move(text);
}

void TextBuffer::assign(const char* text) { text_.assign(orEmpty(text)); }

void TextBuffer::assign(std::string_view text) { text_.assign(untilNul(text)); }

void TextBuffer::assignSlice(const char* source, std::int32_t start, std::int32_t count) {
    if (source == nullptr || start < 0 || count <= 0) {
        text_.clear();
        return;
    }
    const char* from = source + start;
    std::int32_t length = 0;
    while (length < count && from[length] != '\0') {
        ++length;
    }
    text_.assign(from, static_cast<std::size_t>(length));
}

void TextBuffer::append(const char* text) { text_.append(orEmpty(text)); }

void TextBuffer::append(std::string_view text) { text_.append(untilNul(text)); }

void TextBuffer::prepend(const char* text) { text_.insert(0, orEmpty(text)); }

std::int32_t TextBuffer::find(const char* pattern) const {
    if (pattern == nullptr || *pattern == '\0') {
        return -1;
    }
    const std::size_t at = text_.find(pattern);
    return at == std::string::npos ? -1 : static_cast<std::int32_t>(at);
}

bool TextBuffer::removeFirst(const char* pattern) {
    const std::int32_t at = find(pattern);
    if (at < 0) {
        return false;
    }
    text_.erase(static_cast<std::size_t>(at), std::strlen(pattern));
    return true;
}

bool TextBuffer::equals(const char* text) const { return textEquals(data(), text); }

}  // namespace tolvane
