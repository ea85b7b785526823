#pragma once
// Small text toolkit: the owning TextBuffer, byte-exact text functions and the
// number reading and writing used by the world description and the caption.
// There is no locale and no case folding anywhere.

#include <cstdint>
#include <string>
#include <string_view>

bool isSpace(char c);  // tab, line feed, carriage return and space only
std::int32_t textSize(const char* text);  // length plus one
bool textEquals(const char* a, const char* b);
std::int32_t indexOfChar(const char* text, char c);  // -1 when absent; 0 is never found
std::int32_t powerOfTen(std::int32_t n);
void reverseChars(char* chars, std::int32_t n);

// Lenient readers: every character contributes its code minus 48.
std::int32_t parseInt(const char* text);
double parseFloat(const char* text);

// Truncating decimal writer, controlled by the two settings below.
extern std::int32_t floatMaxFractionDigits;  // -1: no limit
extern bool floatWriteZeroIntegerPart;
std::string formatFloat(double x);

// Backslash escapes of quoted attribute values; the text only gets shorter.
void unescapeInPlace(std::string& text);

// An owning text. Never copied; its text is handed on as a plain pointer.
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
    void assignSlice(const char* source, std::int32_t start, std::int32_t count);
    void append(const char* text);
    void append(std::string_view text);
    void prepend(const char* text);
    std::int32_t find(const char* pattern) const;
    bool removeFirst(const char* pattern);
    bool equals(const char* text) const;

private:
    std::string text_;
};
