// The markup reader: the exact tree each piece of grammar gives, what a text
// that ends early leaves behind, the nesting limit, file loading and the
// lookups the world builder walks the tree with.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

#include "markup/xml.hpp"

using namespace tolvane;

namespace {

// A compact picture of a tree: name, {attributes}, "text", [children].
std::string dump(const XmlNode& node) {
    std::string out = node.name.data();
    if (node.attributeCount() > 0) {
        out += '{';
        for (std::int32_t i = 0; i < node.attributeCount(); ++i) {
            out += i > 0 ? "|" : "";
            out += node.attributes[i].name.data();
            out += '=';
            out += node.attributes[i].value.data();
        }
        out += '}';
    }
    if (node.text.length() > 0) {
        out += '"';
        out += node.text.data();
        out += '"';
    }
    if (node.childCount() > 0) {
        out += '[';
        for (std::int32_t i = 0; i < node.childCount(); ++i) {
            out += i > 0 ? " " : "";
            out += dump(node.children[i]);
        }
        out += ']';
    }
    return out;
}

struct Parsed {
    XmlNode root;
    std::size_t end = 0;
};

// Parses from a heap copy of exactly the text's size, so that a read past
// its end is caught by AddressSanitizer instead of landing on a terminator.
Parsed parseExact(std::string_view text, std::size_t start = 0) {
    const std::vector<char> bytes(text.begin(), text.end());
    Parsed parsed;
    parsed.end = parsed.root.parse(std::string_view(bytes.data(), bytes.size()), start);
    return parsed;
}

constexpr std::size_t kWhole = std::string::npos;  // the end is the text's size

struct GrammarCase {
    std::string text;
    std::string tree;
    std::size_t end;
};

void expectTrees(const std::vector<GrammarCase>& cases) {
    for (const auto& c : cases) {
        const Parsed parsed = parseExact(c.text);
        EXPECT_EQ(dump(parsed.root), c.tree) << "text: " << c.text;
        EXPECT_EQ(parsed.end, c.end == kWhole ? c.text.size() : c.end) << "text: " << c.text;
    }
}

TEST(MarkupGrammar, ElementsAndEndTags) {
    expectTrees({
        {"<a />", "a", 5},
        {"<a></a>", "a", 7},
        {"<a/>", "a/", kWhole},  // "/" belongs to the name; the element stays open
        {"<a/></a>", "a/", 8},
        {"<a><b></a></b>", "a[b]", 14},  // end tags close the innermost, whatever their name
        {"<a>x</zzz>tail", "a\"x\"", 10},
        {"<a />tail<b />", "a", 5},
        {"<a>\n  <b>\n    <c />\n  </b>\n  <d k=v />\n</a>", "a[b[c] d{k=v}]", kWhole},
        {"<a\tk=v\r\n/>", "a{k=v}", kWhole},
        {"<a>x\r\ny</a>", "a\"x y\"", kWhole},
    });
}

TEST(MarkupGrammar, DocumentMustStartWithATag) {
    expectTrees({
        {"", "", 0},
        {" <a />", "", 0},
        {"\n<a />", "", 0},
        {"\xEF\xBB\xBF<a />", "", 0},
        {"< a />", "", 0},
        {"text", "", 0},
    });
}

TEST(MarkupGrammar, Attributes) {
    expectTrees({
        {R"(<image type="scene" name="hills" file="hills.txt" />)", "image{type=scene|name=hills|file=hills.txt}",
         kWhole},
        {R"(<a v="1 > 0 < 2 = x"/>)", "a{v=1 > 0 < 2 = x}", kWhole},
        {R"(<a v="q"/><b />)", "a{v=q}", 10},  // "/>" right after a quoted value
        {R"(<a x="1"y="2" />)", "a{x=1|y=2}", kWhole},
        {"<a n=-5 />", "a{n=-5}", kWhole},
        {"<a n=-5/>", "a{n=-5/}", kWhole},  // a bare value takes the "/"; still open
        {"<a f=dir/x.txt />", "a{f=dir/x.txt}", kWhole},
        {"<a n= m=1 />", "a{n=|m=1}", kWhole},
        {"<a n=>x</a>", "a{n=}\"x\"", kWhole},
        {R"(<a k="" />)", "a{k=}", kWhole},
        {"<a k='x y' z=1 />", "a{k='x|y' z=1}", kWhole},
        {R"(<a=b"c d="e" />)", "a=b\"c{d=e}", kWhole},
        {"<a x y=1 />", "a{x y=1}", kWhole},
        {"<a b>c=d />", "a{b>c=d}", kWhole},
        {"<a =v />", "a{=v}", kWhole},
        {"<a k=1 k=2 />", "a{k=1|k=2}", kWhole},
    });
}

TEST(MarkupGrammar, QuotedValuesAreUnescaped) {
    expectTrees({
        {R"(<a v="x\"y" />)", "a{v=x\"y}", kWhole},
        {R"(<a v="x\ny" />)", "a{v=x\ny}", kWhole},
        {R"(<a v="x\ty\rz" />)", "a{v=x\tyrz}", kWhole},
        {R"(<a v="x\\y" />)", "a{v=x\\y}", kWhole},
        // A value cannot end in a backslash: it hides the closing quote.
        {R"(<a v="x\\"/><b />)", "a{v=x\\\"/><b />}", kWhole},
        {R"(<a v=x\ny />)", "a{v=x\\ny}", kWhole},  // bare values keep their backslashes
    });
}

TEST(MarkupGrammar, DeclarationsAndCommentsAreElements) {
    expectTrees({
        {"<?xml version=\"1.0\"?>\n<World a=\"1\"></World>", "?xml{version=1.0|?>\n<World a=1}", kWhole},
        {"<!-- note --><World x=\"1\"></World>", "!--{note --><World x=1}", kWhole},
    });
}

TEST(MarkupGrammar, TextIsJoinedIntoWords) {
    expectTrees({
        {"<a>hello   there<b />world\nagain</a>", "a\"hello there world again\"[b]", kWhole},
        {"<a>  x<b />y  </a>", "a\"x y\"[b]", kWhole},
        {"<a>1 > 0 &amp; \"q\"</a>", "a\"1 > 0 &amp; \"q\"\"", kWhole},
        {"<a>x < y</a>", "a\"x < y\"", kWhole},  // "<" before whitespace is a word
        {"<a>< \t</a>", "a\"<\"", kWhole},
        {"<a><b>in</b>out</a>", "a\"out\"[b\"in\"]", kWhole},
    });
}

TEST(MarkupGrammar, TextEndingEarlyKeepsWhatWasRead) {
    expectTrees({
        {"<", "", 1},
        {"<a", "a", kWhole},
        {"<a ", "a", kWhole},
        {"<a k", "a{k=}", kWhole},
        {"<a k=", "a{k=}", kWhole},
        {"<a k=v", "a{k=v}", kWhole},
        {"<a k=\"v", "a{k=v}", kWhole},
        {"<a k=\"v\\", "a{k=v\\}", kWhole},  // the lone backslash stays
        {"<a /", "a{/=}", kWhole},
        {"<a>", "a", kWhole},
        {"<a>one <b>two", "a\"one\"[b\"two\"]", kWhole},
        {"<a>x</a", "a\"x\"", kWhole},
        {"<a><", "a[]", kWhole},
        {"<a><</a>", "a[</a]", kWhole},
        // The document is a C text: it ends at its first NUL.
        {std::string("<a>x\0<b /></a>", 14), "a\"x\"", 4},
        {std::string("<a k=\"v\0\" />", 12), "a{k=v}", 7},
    });
}

TEST(MarkupParse, StartsWhereItIsTold) {
    EXPECT_EQ(parseExact("xx<a />", 2).end, 7U);
    EXPECT_EQ(dump(parseExact("xx<a />", 2).root), "a");
    EXPECT_EQ(parseExact("abc", 1).end, 1U);
    EXPECT_EQ(parseExact("<a />", 5).end, 5U);
    EXPECT_EQ(parseExact("<a />", 99).end, 99U);
}

std::string repeat(std::string_view piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

// Depth of the chain of first children below node, node counting 1.
std::size_t chainDepth(const XmlNode& node) {
    std::size_t depth = 1;
    for (const XmlNode* n = &node; n->childCount() > 0; n = &n->children[0]) {
        ++depth;
    }
    return depth;
}

const XmlNode& deepest(const XmlNode& node) {
    const XmlNode* n = &node;
    while (n->childCount() > 0) {
        n = &n->children[0];
    }
    return *n;
}

TEST(MarkupNesting, StoresUpToTheDepthLimit) {
    const std::string text = repeat("<d>", 256) + "x" + repeat("</d>", 256);
    const Parsed parsed = parseExact(text);
    EXPECT_EQ(parsed.end, text.size());
    EXPECT_EQ(chainDepth(parsed.root), 256U);
    EXPECT_STREQ(deepest(parsed.root).text.data(), "x");
}

TEST(MarkupNesting, DeeperElementsAreSkippedToTheirEnd) {
    // The skipped part holds a quoted "</d>" and an empty element, which must
    // not be taken for end tags.
    const std::string text = "<r>" + repeat("<d>", 300) + R"(x<e k="</d>" />)" + repeat("</d>", 300) +
                             "<after />tail</r>ignored";
    const Parsed parsed = parseExact(text);
    EXPECT_EQ(parsed.end, text.size() - 7);
    ASSERT_EQ(parsed.root.childCount(), 2);
    EXPECT_EQ(chainDepth(parsed.root), 256U);
    EXPECT_STREQ(deepest(parsed.root).text.data(), "");
    EXPECT_STREQ(parsed.root.children[1].name.data(), "after");
    EXPECT_STREQ(parsed.root.text.data(), "tail");
}

TEST(MarkupNesting, HostileDepthNeitherRecursesNorGrows) {
    const std::string text = repeat("<d k=\"v\">w", 200000);
    const Parsed parsed = parseExact(text);
    EXPECT_EQ(parsed.end, text.size());
    EXPECT_EQ(chainDepth(parsed.root), 256U);
    EXPECT_STREQ(deepest(parsed.root).attributeValue("k"), "v");
}

// A realistic world description.
constexpr std::string_view kSampleWorld =
    "<World>\n"
    "  <image type=\"scene\" name=\"hills\" file=\"hills.txt\" />\n"
    "  <image type=\"sprite\" name=\"bird\" file=\"bird.scmhm\" sizex=\"32\" sizey=\"24\" />\n"
    "  <image type=\"scene\" name=\"sky\" file=\"sky.schm\" />\n"
    "  <element type=\"scene\" imagename=\"sky\" x=\"0\" y=\"0\" />\n"
    "  <element type=\"scene\" imagename=\"hills\" x=\"-40\" y=\"200\" />\n"
    "  <element type=\"ani\" imagename=\"bird\" x=\"320\" y=\"120\" fps=\"12.5\" startframe=\"0.75\"></element>\n"
    "  <element type=\"char\" imagename=\"bird\" x=0 y=0 fps=8 startframe=0 />\n"
    "</World>\n";

constexpr std::string_view kSampleTree =
    "World["
    "image{type=scene|name=hills|file=hills.txt} "
    "image{type=sprite|name=bird|file=bird.scmhm|sizex=32|sizey=24} "
    "image{type=scene|name=sky|file=sky.schm} "
    "element{type=scene|imagename=sky|x=0|y=0} "
    "element{type=scene|imagename=hills|x=-40|y=200} "
    "element{type=ani|imagename=bird|x=320|y=120|fps=12.5|startframe=0.75} "
    "element{type=char|imagename=bird|x=0|y=0|fps=8|startframe=0}"
    "]";

TEST(MarkupTruncation, EveryPrefixOfAWorldGivesAPartialTree) {
    const Parsed full = parseExact(kSampleWorld);
    ASSERT_EQ(dump(full.root), kSampleTree);
    EXPECT_EQ(full.end, kSampleWorld.size() - 1);

    // Child k is complete once the prefix holds its whole line.
    std::vector<std::size_t> childEnds;
    for (std::size_t at = kSampleWorld.find('\n'); at + 1 < kSampleWorld.size(); at = kSampleWorld.find('\n', at + 1)) {
        childEnds.push_back(kSampleWorld.find('\n', at + 1));
    }
    childEnds.pop_back();  // the "</World>" line
    ASSERT_EQ(childEnds.size(), static_cast<std::size_t>(full.root.childCount()));

    for (std::size_t length = 0; length <= kSampleWorld.size(); ++length) {
        const Parsed part = parseExact(kSampleWorld.substr(0, length));
        SCOPED_TRACE("prefix length " + std::to_string(length));
        EXPECT_LE(part.end, length);
        if (length >= 7) {
            EXPECT_STREQ(part.root.name.data(), "World");
        }
        EXPECT_LE(part.root.childCount(), full.root.childCount() + 1);
        for (std::size_t k = 0; k < childEnds.size() && childEnds[k] <= length; ++k) {
            ASSERT_LT(k, static_cast<std::size_t>(part.root.childCount()));
            EXPECT_EQ(dump(part.root.children[static_cast<std::int32_t>(k)]),
                      dump(full.root.children[static_cast<std::int32_t>(k)]));
        }
    }
}

TEST(MarkupLookup, WalksTheImagesOfAWorld) {
    const Parsed parsed = parseExact(
        R"(<World><image type="scene" name="a" /><image type="sprite" name="b" />)"
        R"(<element type="scene" imagename="a" x="0" y="0" /></World>)");
    const XmlNode& world = parsed.root;
    ASSERT_EQ(world.childCount(), 3);
    EXPECT_EQ(world.findFirst("World"), &world);
    const XmlNode* first = world.findNext("image", nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->attributeValue("name"), "a");
    const XmlNode* second = world.findNext("image", first);
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second->attributeValue("name"), "b");
    EXPECT_EQ(world.findNext("image", second), nullptr);
    EXPECT_EQ(world.findNext("element", nullptr), &world.children[2]);
    EXPECT_EQ(world.findFirst("world"), nullptr);
    EXPECT_EQ(world.findFirst(nullptr), nullptr);
}

TEST(MarkupLookup, FindNextVisitsEveryMatchOnceInDocumentOrder) {
    const Parsed parsed = parseExact(
        R"(<i n="0"><i n="1"><i n="2"><i n="3" /></i></i><x><i n="4" /></x><i n="5" /></i>)");
    const XmlNode& root = parsed.root;
    std::string order;
    for (const XmlNode* n = root.findNext("i", nullptr); n != nullptr; n = root.findNext("i", n)) {
        order += n->attributeValue("n");
    }
    EXPECT_EQ(order, "012345");
    EXPECT_STREQ(root.findNext("i", &root)->attributeValue("n"), "1");

    const XmlNode& x = root.children[1];
    const XmlNode* four = x.findFirst("i");
    ASSERT_NE(four, nullptr);
    EXPECT_STREQ(four->attributeValue("n"), "4");
    EXPECT_EQ(x.findNext("i", four), nullptr);
    // A marker outside the subtree gives none, even one earlier in the document.
    EXPECT_EQ(x.findNext("i", &root.children[0]), nullptr);
    const Parsed other = parseExact("<i />");
    EXPECT_EQ(root.findNext("i", &other.root), nullptr);
}

TEST(MarkupLookup, FindFirstSearchesInDocumentOrder) {
    const Parsed parsed = parseExact(R"(<root><x><World id="1" /></x><World id="2" /></root>)");
    EXPECT_STREQ(parsed.root.findFirst("World")->attributeValue("id"), "1");
}

TEST(MarkupLookup, AttributeValueGivesTheFirstOrNone) {
    const Parsed parsed = parseExact("<a k=1 k=2 e= />");
    EXPECT_STREQ(parsed.root.attributeValue("k"), "1");
    EXPECT_STREQ(parsed.root.attributeValue("e"), "");
    EXPECT_EQ(parsed.root.attributeValue("K"), nullptr);
    EXPECT_EQ(parsed.root.attributeValue(nullptr), nullptr);
    EXPECT_EQ(parsed.root.findAttribute("missing"), nullptr);
}

class MarkupFile : public ::testing::Test {
protected:
    std::filesystem::path path(const char* name) const { return std::filesystem::path(::testing::TempDir()) / name; }

    std::string write(const char* name, std::string_view bytes) const {
        const std::string file = path(name).string();
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }
};

TEST_F(MarkupFile, LoadsAWorld) {
    const std::string file = write("markup_world.xml", kSampleWorld);
    XmlNode root;
    EXPECT_EQ(root.loadFile(file.c_str()), FileReadStatus::Ok);
    EXPECT_EQ(dump(root), kSampleTree);
}

TEST_F(MarkupFile, EmptyOrLeadingWhitespaceGivesAnEmptyRoot) {
    for (const std::string_view bytes : {std::string_view(""), std::string_view(" <World />"),
                                         std::string_view("\n<World />"), std::string_view("<World")}) {
        const std::string file = write("markup_odd.xml", bytes);
        XmlNode root;
        EXPECT_EQ(root.loadFile(file.c_str()), FileReadStatus::Ok) << bytes;
        EXPECT_EQ(dump(root), bytes == "<World" ? "World" : "") << bytes;
    }
}

TEST_F(MarkupFile, MissingOrUnreadableFileLeavesTheNodeAlone) {
    XmlNode root;
    root.name.assign("kept");
    EXPECT_EQ(root.loadFile(path("markup_no_such_file.xml").string().c_str()), FileReadStatus::CannotOpen);
    EXPECT_EQ(root.loadFile(::testing::TempDir().c_str()), FileReadStatus::NotAFile);
    EXPECT_EQ(root.loadFile(nullptr), FileReadStatus::CannotOpen);
    EXPECT_EQ(dump(root), "kept");
}

// A named pipe nobody writes to must not stall the demo's first frame.
TEST_F(MarkupFile, PipeWithoutAWriterReadsAsEmpty) {
    const std::string fifo = path("markup_fifo.xml").string();
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    XmlNode root;
    EXPECT_EQ(root.loadFile(fifo.c_str()), FileReadStatus::Ok);
    EXPECT_EQ(dump(root), "");
    std::filesystem::remove(fifo);
}

TEST_F(MarkupFile, RefusesFilesAboveTheSizeLimit) {
    const std::filesystem::path file = path("markup_large.xml");
    write("markup_large.xml", "<World />");
    std::filesystem::resize_file(file, static_cast<std::uintmax_t>(kMaxMarkupFileBytes));
    XmlNode atLimit;
    EXPECT_EQ(atLimit.loadFile(file.string().c_str()), FileReadStatus::Ok);
    EXPECT_EQ(dump(atLimit), "World");

    std::filesystem::resize_file(file, static_cast<std::uintmax_t>(kMaxMarkupFileBytes) + 1);
    XmlNode tooLarge;
    EXPECT_EQ(tooLarge.loadFile(file.string().c_str()), FileReadStatus::TooLarge);
    EXPECT_EQ(dump(tooLarge), "");
    std::filesystem::remove(file);
}

}  // namespace
