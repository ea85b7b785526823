// The text toolkit: character tests, the lenient number readers, the
// truncating number writer behind the caption, and the owning text.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "markup/text.hpp"

using namespace tolvane;

namespace {

TEST(IsSpace, OnlyTabLineFeedCarriageReturnAndSpace) {
    for (int c = -128; c < 128; ++c) {
        const bool expected = c == 9 || c == 10 || c == 13 || c == 32;
        EXPECT_EQ(isSpace(static_cast<char>(c)), expected) << "code " << c;
    }
}

TEST(PlainText, SizeEqualityAndSearch) {
    EXPECT_EQ(textSize(""), 1);
    EXPECT_EQ(textSize("abc"), 4);
    EXPECT_TRUE(textEquals("", ""));
    EXPECT_TRUE(textEquals("World", "World"));
    EXPECT_FALSE(textEquals("World", "world"));
    EXPECT_FALSE(textEquals("ab", "abc"));
    EXPECT_FALSE(textEquals("abc", "ab"));
    EXPECT_EQ(indexOfChar("abc", 'b'), 1);
    EXPECT_EQ(indexOfChar("abcb", 'b'), 1);
    EXPECT_EQ(indexOfChar("abc", 'z'), -1);
    EXPECT_EQ(indexOfChar("abc", '\0'), -1);
}

TEST(PlainText, NullReadsAsEmpty) {
    EXPECT_EQ(textSize(nullptr), 1);
    EXPECT_TRUE(textEquals(nullptr, ""));
    EXPECT_EQ(indexOfChar(nullptr, 'a'), -1);
    EXPECT_EQ(parseInt(nullptr), 0);
    EXPECT_EQ(parseFloat(nullptr), 0.0);
}

TEST(PowerOfTen, MultipliesAndWrapsAt32Bits) {
    const struct {
        std::int32_t n;
        std::int32_t expected;
    } cases[] = {
        {-1, 1}, {std::numeric_limits<std::int32_t>::min(), 1}, {0, 1}, {1, 10}, {3, 1000}, {9, 1000000000},
        {10, 1410065408},  // 10^10 mod 2^32
        {11, 1215752192},  // 10^11 mod 2^32
        {32, 0},           // 2^32 divides 10^32
        {std::numeric_limits<std::int32_t>::max(), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(powerOfTen(c.n), c.expected) << "n " << c.n;
    }
}

TEST(ReverseChars, SwapsOnlyTheFirstN) {
    const struct {
        std::int32_t n;
        const char* expected;
    } cases[] = {{5, "edcba"}, {4, "dcbae"}, {2, "bacde"}, {1, "abcde"}, {0, "abcde"}, {-3, "abcde"}};
    for (const auto& c : cases) {
        std::string chars = "abcde";
        reverseChars(chars.data(), c.n);
        EXPECT_EQ(chars, c.expected) << "n " << c.n;
    }
}

TEST(ParseInt, EveryCharacterCountsAsCodeMinus48) {
    const struct {
        const char* text;
        std::int32_t expected;
    } cases[] = {
        {"", 0}, {"-", 0}, {"0", 0}, {"7", 7}, {"-12", -12},
        {"12x", 192},  // 12 * 10 + ('x' - 48)
        {" 1", -159},  // space counts -16
        {"+5", -45},   // "+" counts -5
        {"--1", 29},   // only the first "-" is a sign
        {"1.5", 85},  // "." counts -2
        {"\xff", -49},  // the code is a signed byte
        {"2147483647", 2147483647},
        {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        // Beyond 32 bits the value wraps (two's complement).
        {"2147483648", std::numeric_limits<std::int32_t>::min()},
        {"4294967296", 0}, {"4294967297", 1}, {"-4294967295", 1}, {"99999999999999999999", 1661992959},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseInt(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(ParseFloat, SumsDigitByDigitBitExactly) {
    const struct {
        const char* text;
        double expected;
    } cases[] = {
        {"12.34", 12.34}, {".5", 0.5}, {"-.5", -0.5}, {"-1.25", -1.25}, {"1.2.3", 1.23}, {"10", 10.0},
        {"7", 7.0}, {"-7", -7.0}, {"", 0.0}, {"1.", 1.0}, {"12.5", 12.5},
        // Not the nearest double: 0.7 + 0.05 in steps of 0.1 lands one ulp up.
        {"0.75", 0.7500000000000001},
        {"x.5", 72.5},  // "x" counts 72
        // Eleven integer digits start from the wrapped 10^10.
        {"10000000000.0", 1410065408.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseFloat(c.text), c.expected) << '"' << c.text << '"';
    }
    EXPECT_NE(parseFloat("0.75"), 0.75);
    EXPECT_TRUE(std::signbit(parseFloat("-.0")));
}

TEST(FormatFloat, TruncatesToTheDigitLimit) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double x;
        std::int32_t maxDigits;
        const char* expected;
    } cases[] = {
        {0.0, -1, "0"}, {-0.0, -1, "0"}, {3.0, -1, "3"}, {0.5, -1, "0.5"}, {-2.25, -1, "-2.25"},
        {123.456, -1, "123.456"}, {10.0, 4, "10"}, {60.123456, 4, "60.1234"}, {1.0 / 3.0, 4, "0.3333"},
        {59.99999, 4, "59.9999"},
        {1.0 / 3.0, -1, "0.3333333333333333037273860099958255887031555175"},
        {-1e-9, -1, "-0"}, {1e-300, -1, "0"}, {1e-7, -1, "0."},
        {2.56, 0, "2.5"}, {2.56, -3, "2.5"}, {2.56, 1, "2.5"},
        {2147483647.5, -1, "2147483647.5"}, {-2147483647.0, -1, "-2147483647"},
        // The caption's rate while paused: 1.0 / 0.0.
        {inf, 4, "0.0000"},
        {-inf, 4, "-0.0000"},
        {inf, -1, "0.0000000000000000000000000000000000000000000000"},
        // No 32-bit integer part: the low 32 bits are kept, read as signed.
        {2147483648.0, 4, "-2147483648.0000"},
        {3e9, 4, "-1294967296.0000"},
        {5e9, 4, "705032704.0000"},
        {-3e9, 4, "--1294967296.0000"},
        // No 64-bit integer part either: converts to 0.
        {1e19, 4, "0.0000"},
        {std::numeric_limits<double>::max(), 2, "0.00"},
        {std::numeric_limits<double>::quiet_NaN(), 4, "0."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatFloat(c.x, FloatFormat{c.maxDigits}), c.expected) << c.x << " limit " << c.maxDigits;
    }
}

TEST(FormatFloat, NeverExceeds48Characters) {
    EXPECT_EQ(formatFloat(1.0 / 3.0).size(), 48U);
    EXPECT_EQ(formatFloat(std::numeric_limits<double>::infinity()).size(), 48U);
    EXPECT_EQ(formatFloat(-1.0 / 3.0), "-0.333333333333333303727386009995825588703155517");
    EXPECT_EQ(formatFloat(1000000.0 + 2.0 / 3.0), "1000000.666666666627861559391021728515625");
    EXPECT_EQ(formatFloat(-std::numeric_limits<double>::infinity(), FloatFormat{1000}).size(), 48U);
}

TEST(FormatFloat, ZeroIntegerPartCanBeLeftOut) {
    const FloatFormat bare{-1, false};
    EXPECT_EQ(formatFloat(0.5, bare), ".5");
    EXPECT_EQ(formatFloat(-0.25, bare), "-.25");
    EXPECT_EQ(formatFloat(0.0, bare), "0");
    EXPECT_EQ(formatFloat(-1e-9, bare), "-");
    EXPECT_EQ(formatFloat(1e-7, bare), ".");
    EXPECT_EQ(formatFloat(2.5, bare), "2.5");
}

TEST(FormatFloat, CaptionIsBuiltByPrepending) {
    const double frameDt = 0.0;  // two frames within one millisecond
    TextBuffer caption;
    caption.adopt(formatFloat(1.0 / frameDt, FloatFormat{4}));
    caption.prepend("FPS: ");
    EXPECT_STREQ(caption.data(), "FPS: 0.0000");
}

TEST(UnescapeInPlace, PairsBecomeOneCharacter) {
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"a\\\"b", "a\"b"}, {"\\x", "x"}, {"\\n", "\n"}, {"\\t", "\t"}, {"\\r", "r"},
        {"\\\\", "\\"}, {"\\\\n", "\\n"}, {"", ""}, {"plain", "plain"},
        // A lone backslash at the end has no pair and stays.
        {"abc\\", "abc\\"},
        {"\\", "\\"},
        {"\\\\\\", "\\\\"},
        // The text ends at its first NUL.
        {std::string("a\\\0b", 4), "a\\"},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        unescapeInPlace(text);
        EXPECT_EQ(text, c.expected) << '"' << c.text << '"';
    }
}

TEST(EscapeForDisplay, ControlsAndBrokenUtf8BecomeEscapesTheRestStays) {
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"hill.txt", "hill.txt"},
        {"", ""},
        {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
        {"\x1b[31mred", "\\x1b[31mred"},
        {std::string("nul\0byte", 8), "nul\\x00byte"},
        {"\x01\x1f\x7f", "\\x01\\x1f\\x7f"},
        {" ~", " ~"},
        // A backslash stays as it is, so escaping twice changes nothing.
        {"a\\nb", "a\\nb"},
        // Well-formed UTF-8 is kept, in every length.
        {"H\xC3\xB6he \xE2\x82\xAC \xF0\x9F\x8C\x84", "H\xC3\xB6he \xE2\x82\xAC \xF0\x9F\x8C\x84"},
        {"\xC2\xA0", "\xC2\xA0"},  // U+00A0, the first after the C1 controls
        // C1 controls (U+0080 to U+009F; U+009B opens a terminal command).
        {"\xC2\x9B" "2J", "\\xc2\\x9b2J"},
        {"\xC2\x80", "\\xc2\\x80"},
        // Bidirectional embeddings, overrides and isolates, which reorder
        // what follows; their neighbours U+2029, U+202F, U+2065, U+206A stay.
        {"a\xE2\x80\xAE" "fdp.exe", "a\\xe2\\x80\\xaefdp.exe"},
        {"\xE2\x80\xAA\xE2\x81\xA6\xE2\x81\xA9", "\\xe2\\x80\\xaa\\xe2\\x81\\xa6\\xe2\\x81\\xa9"},
        {"\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA", "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
        // Bytes of no well-formed sequence, one escape each.
        {"\x9B" "2J", "\\x9b2J"},
        {"\xC3", "\\xc3"},                                // cut short at the end
        {"\xC3" "a", "\\xc3a"},                           // cut short by ASCII
        {"\xC0\xAF", "\\xc0\\xaf"},                       // overlong "/"
        {"\xE0\x80\xAF", "\\xe0\\x80\\xaf"},              // overlong "/"
        {"\xED\xA0\x80", "\\xed\\xa0\\x80"},              // a surrogate
        {"\xF4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},     // past U+10FFFF
        {"\xF5\xFF", "\\xf5\\xff"},
        {"\xE2\x82", "\\xe2\\x82"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escapeForDisplay(c.text), c.expected) << c.expected;
        EXPECT_EQ(escapeForDisplay(escapeForDisplay(c.text)), c.expected) << c.expected;
    }
    EXPECT_EQ(quoted("no\nthing"), "\"no\\nthing\"");
    EXPECT_EQ(quoted(nullptr), "\"\"");
}

TEST(TextBuffer, FindGivesTheLeftmostOccurrence) {
    const struct {
        const char* text;
        const char* pattern;
        std::int32_t expected;
    } cases[] = {
        {"aab", "ab", 1}, {"aaab", "aab", 1}, {"abcabc", "ca", 2}, {"abc", "abc", 0},
        {"abc", "abcd", -1}, {"abc", "", -1}, {"", "a", -1}, {"", "", -1}, {"Abc", "a", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextBuffer(c.text).find(c.pattern), c.expected) << c.text << " / " << c.pattern;
    }
    EXPECT_EQ(TextBuffer("abc").find(nullptr), -1);
}

TEST(TextBuffer, RemoveFirstTakesOnlyTheFirstOccurrence) {
    const struct {
        const char* text;
        const char* pattern;
        bool removed;
        const char* expected;
    } cases[] = {
        {"a.bmp.bmp", ".bmp", true, "a.bmp"},
        {"a.bmp", ".txt", false, "a.bmp"},
        {"a.bmp", "", false, "a.bmp"},
        {"hills.txt", "hills.txt", true, ""},
        {"xaax", "a", true, "xax"},
    };
    for (const auto& c : cases) {
        TextBuffer buffer(c.text);
        EXPECT_EQ(buffer.removeFirst(c.pattern), c.removed) << c.text;
        EXPECT_STREQ(buffer.data(), c.expected);
        EXPECT_EQ(buffer.length(), textSize(c.expected) - 1);
    }
}

TEST(TextBuffer, ChangesGiveTheExpectedText) {
    TextBuffer buffer;
    EXPECT_STREQ(buffer.data(), "");
    buffer.assign("cd");
    buffer.prepend("ab");
    EXPECT_STREQ(buffer.data(), "abcd");
    buffer.assign("cd");
    buffer.append("ab");
    EXPECT_STREQ(buffer.data(), "cdab");
    buffer.append(std::string_view("xyz", 2));
    EXPECT_STREQ(buffer.data(), "cdabxy");
    EXPECT_TRUE(buffer.equals("cdabxy"));
    EXPECT_FALSE(buffer.equals("cdab"));
    buffer.assign(nullptr);
    EXPECT_TRUE(buffer.equals(""));
    buffer.append(nullptr);
    buffer.prepend(nullptr);
    EXPECT_TRUE(buffer.equals(nullptr));
}

TEST(TextBuffer, AssignSliceStopsAtCountOrTerminator) {
    const struct {
        std::int32_t start;
        std::int32_t count;
        const char* expected;
    } cases[] = {{1, 3, "ell"}, {0, 5, "hello"}, {1, 0, ""}, {3, 10, "lo"}, {5, 2, ""}, {-1, 2, ""}, {1, -2, ""}};
    for (const auto& c : cases) {
        TextBuffer buffer("old");
        buffer.assignSlice("hello", c.start, c.count);
        EXPECT_STREQ(buffer.data(), c.expected) << c.start << ", " << c.count;
    }
}

TEST(TextBuffer, HoldsNoEmbeddedNul) {
    TextBuffer buffer;
    buffer.adopt(std::string("ab\0cd", 5));
    EXPECT_EQ(buffer.length(), 2);
    EXPECT_TRUE(buffer.equals("ab"));
    buffer.append(std::string_view("x\0y", 3));
    EXPECT_EQ(buffer.length(), 3);
    buffer.assign(std::string_view("\0z", 2));
    EXPECT_EQ(buffer.length(), 0);
}

}  // namespace
