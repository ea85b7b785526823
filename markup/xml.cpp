#include "markup/xml.hpp"

#include <cstdint>
#include <new>
#include <string>
#include <utility>

#include "io/file_bytes.hpp"

namespace tolvane {

namespace {

// A bounded cursor over the document. The document is a C text, so it ends
// at its first NUL even when the view runs on. Past the end `at` answers NUL,
// which is none of the characters the grammar looks for, and every scan stops
// at the end, so a truncated document can never send a read past it.
class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text.substr(0, text.find('\0'))) {}

    std::size_t size() const { return text_.size(); }
    char at(std::size_t i) const { return i < text_.size() ? text_[i] : '\0'; }
    std::string_view slice(std::size_t from, std::size_t to) const { return text_.substr(from, to - from); }

    // Index of the first character from i on that satisfies stop, or size().
    template <typename Stop>
    std::size_t scan(std::size_t i, Stop stop) const {
        while (i < text_.size() && !stop(text_[i])) {
            ++i;
        }
        return i;
    }

    // Index just past the first ">" from i on, or size() when there is none.
    std::size_t pastClosingBracket(std::size_t i) const {
        const std::size_t bracket = scan(i, [](char c) { return c == '>'; });
        return bracket < size() ? bracket + 1 : bracket;
    }

private:
    std::string_view text_;
};

bool endsNameOrBareValue(char c) { return isSpace(c) || c == '>'; }
bool endsWord(char c) { return isSpace(c) || c == '<'; }

// "<" followed by whitespace is not a tag; "<" as the last character opens
// an element that the end of the text cuts short.
bool startsElement(const Cursor& cursor, std::size_t i) {
    return i < cursor.size() && cursor.at(i) == '<' && !isSpace(cursor.at(i + 1));
}

struct StartTag {
    std::size_t next;        // index after the tag
    bool closed;             // written as an empty element ("/>"): no content follows
    std::size_t attributes;  // how many it has
};

// A quoted value runs to the first double quote not directly preceded by a
// backslash; i is just after the opening quote.
std::size_t closingQuote(const Cursor& cursor, std::size_t i) {
    while (i < cursor.size() && !(cursor.at(i) == '"' && cursor.at(i - 1) != '\\')) {
        ++i;
    }
    return i;
}

// Reads the start tag whose "<" is at i into node: its name and attributes.
// With a null node (an element beyond the depth limit) the tag is only read
// past. A text that ends inside the tag keeps what was read.
StartTag readStartTag(const Cursor& cursor, std::size_t i, XmlNode* node) {
    const std::size_t nameEnd = cursor.scan(i + 1, endsNameOrBareValue);
    if (node != nullptr) {
        node->name.assign(cursor.slice(i + 1, nameEnd));
    }
    i = nameEnd;
    std::size_t count = 0;
    while (i < cursor.size() && cursor.at(i) != '>') {
        if (isSpace(cursor.at(i))) {
            ++i;
            continue;
        }
        if (cursor.at(i) == '/' && cursor.at(i + 1) == '>') {
            return {i + 2, true, count};
        }
        // Everything up to "=" is the name, whitespace and ">" included.
        const std::size_t equals = cursor.scan(i, [](char c) { return c == '='; });
        ++count;
        XmlAttribute* attribute = node != nullptr ? &node->attributes.add() : nullptr;
        if (attribute != nullptr) {
            attribute->name.assign(cursor.slice(i, equals));
        }
        if (equals == cursor.size()) {
            return {equals, false, count};
        }
        i = equals + 1;
        if (cursor.at(i) == '"') {
            const std::size_t close = closingQuote(cursor, i + 1);
            if (attribute != nullptr) {
                std::string value(cursor.slice(i + 1, close));
                unescapeInPlace(value);
                attribute->value.adopt(std::move(value));
            }
            i = close < cursor.size() ? close + 1 : close;
        } else {
            const std::size_t end = cursor.scan(i, endsNameOrBareValue);
            if (attribute != nullptr) {
                attribute->value.assign(cursor.slice(i, end));
            }
            i = end;
        }
    }
    return {i < cursor.size() ? i + 1 : i, false, count};
}

// Pre-order walk of root's subtree for the first node named `name` that
// comes after `after` (anywhere, when after is null). Iterative, so the depth
// of the tree never matters to the stack.
const XmlNode* findInPreOrder(const XmlNode& root, const char* name, const XmlNode* after) {
    if (name == nullptr) {
        return nullptr;
    }
    bool passed = after == nullptr;
    std::vector<const XmlNode*> pending{&root};
    while (!pending.empty()) {
        const XmlNode* node = pending.back();
        pending.pop_back();
        if (passed && node->name.equals(name)) {
            return node;
        }
        if (node == after) {
            passed = true;
        }
        for (std::int32_t i = node->childCount() - 1; i >= 0; --i) {
            pending.push_back(&node->children[i]);
        }
    }
    return nullptr;
}

}  // namespace

FileReadStatus XmlNode::loadFile(const char* fileName) {
    const FileBytes file = readFileBytes(fileName, kMaxMarkupFileBytes);
    if (!file) {
        return file.status;
    }
    // A tree that does not fit in memory is given up whole, like a file
    // that does not.
    try {
        XmlNode read;
        read.parse(std::string_view(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size()), 0);
        *this = std::move(read);
    } catch (const std::bad_alloc&) {
        return FileReadStatus::OutOfMemory;
    }
    return FileReadStatus::Ok;
}

namespace {

// The two passes of a parse walk the same grammar with one of these. The
// first only counts each stored element's children and attributes, so that
// the second can make every list at its exact size at once: a list grown by
// doubling would cost up to twice its items, and more while it moves them.
//
// A Node names an element of the walk; a null Node is one beyond the depth
// limit, read past and not stored.
struct ListSizes {
    std::uint32_t children = 0;
    std::uint32_t attributes = 0;
};

class ListCounter {
public:
    using Node = std::size_t;  // 1 + the element's number in document order; 0 for none
    static constexpr Node kNone = 0;

    Node root() { return add(); }
    Node child(Node parent) {
        ++sizes_[parent - 1].children;
        return add();
    }
    StartTag startTag(const Cursor& cursor, std::size_t i, Node node) {
        const StartTag tag = readStartTag(cursor, i, nullptr);
        if (node != kNone) sizes_[node - 1].attributes = static_cast<std::uint32_t>(tag.attributes);
        return tag;
    }
    void words(Node, std::string_view) {}

    std::vector<ListSizes> takeSizes() { return std::move(sizes_); }

private:
    Node add() {
        sizes_.emplace_back();
        return sizes_.size();
    }
    std::vector<ListSizes> sizes_;
};

class TreeBuilder {
public:
    using Node = XmlNode*;
    static constexpr Node kNone = nullptr;

    TreeBuilder(XmlNode& root, std::vector<ListSizes> sizes) : root_(root), sizes_(std::move(sizes)) {}

    Node root() { return sized(root_); }
    Node child(Node parent) { return sized(parent->children.add()); }
    StartTag startTag(const Cursor& cursor, std::size_t i, Node node) { return readStartTag(cursor, i, node); }
    void words(Node node, std::string_view words) {
        TextBuffer& text = node->text;
        if (text.length() > 0) {
            text.append(" ");
        }
        text.append(words);
    }

private:
    Node sized(XmlNode& node) {
        if (next_ < sizes_.size()) {
            node.children.reserve(sizes_[next_].children);
            node.attributes.reserve(sizes_[next_].attributes);
        }
        ++next_;
        return &node;
    }
    XmlNode& root_;
    std::vector<ListSizes> sizes_;
    std::size_t next_ = 0;
};

// The grammar nests, but the reader keeps its own stack of open elements
// instead of recursing, and an element deeper than kMaxMarkupDepth is read
// past with only a count of its open levels, so neither the stack nor the
// tree grows with a hostile nesting depth.
template <class Walk>
XmlNode::Parsed walkElement(const Cursor& cursor, std::size_t start, Walk& walk) {
    using Node = typename Walk::Node;
    XmlNode::Parsed parsed;
    parsed.end = start;
    if (!startsElement(cursor, start)) {
        return parsed;
    }
    std::vector<Node> open;       // stored elements whose content is being read
    std::size_t skippedOpen = 0;  // open elements beyond the depth limit
    Node element = walk.root();
    std::size_t i = start;
    for (;;) {
        // i is at the "<" of the start tag of `element` (kNone when skipped).
        const StartTag tag = walk.startTag(cursor, i, element);
        i = tag.next;
        if (!tag.closed) {
            if (element != Walk::kNone) {
                open.push_back(element);
            } else {
                ++skippedOpen;
            }
        } else if (open.empty()) {
            parsed.end = i;
            return parsed;
        }
        // Content of the innermost open element, up to its end tag or the
        // start of a child.
        for (;;) {
            if (i >= cursor.size()) {
                parsed.end = cursor.size();
                return parsed;
            }
            const char c = cursor.at(i);
            const char next = cursor.at(i + 1);
            if (c == '<' && next == '/') {
                // End tags are not matched by name: each closes the innermost.
                i = cursor.pastClosingBracket(i + 2);
                if (skippedOpen > 0) {
                    --skippedOpen;
                } else {
                    open.pop_back();
                }
                if (open.empty()) {
                    parsed.end = i;
                    return parsed;
                }
                continue;
            }
            if (c == '<' && !isSpace(next)) {
                const bool tooDeep = skippedOpen > 0 || open.size() >= kMaxMarkupDepth;
                if (tooDeep && skippedOpen == 0 && parsed.droppedElements++ == 0) {
                    parsed.firstDropped = i;
                }
                element = tooDeep ? Walk::kNone : walk.child(open.back());
                break;
            }
            if (isSpace(c)) {
                ++i;
                continue;
            }
            // A word. "<" followed by whitespace starts one too, so the
            // reader always moves on.
            const std::size_t end = cursor.scan(i + 1, endsWord);
            if (skippedOpen == 0) {
                walk.words(open.back(), cursor.slice(i, end));
            }
            i = end;
        }
    }
}

}  // namespace

std::size_t XmlNode::parse(std::string_view text, std::size_t start) { return parseReporting(text, start).end; }

XmlNode::Parsed XmlNode::parseReporting(std::string_view text, std::size_t start) {
    const Cursor cursor(text);
    ListCounter counter;
    walkElement(cursor, start, counter);
    TreeBuilder builder(*this, counter.takeSizes());
    return walkElement(cursor, start, builder);
}

const XmlAttribute* XmlNode::findAttribute(const char* name) const {
    if (name == nullptr) {
        return nullptr;
    }
    for (const XmlAttribute& attribute : attributes) {
        if (attribute.name.equals(name)) {
            return &attribute;
        }
    }
    return nullptr;
}

const char* XmlNode::attributeValue(const char* name) const {
    const XmlAttribute* attribute = findAttribute(name);
    return attribute != nullptr ? attribute->value.data() : nullptr;
}

const XmlNode* XmlNode::findFirst(const char* name) const { return findInPreOrder(*this, name, nullptr); }

const XmlNode* XmlNode::findNext(const char* name, const XmlNode* after) const {
    return findInPreOrder(*this, name, after);
}

}  // namespace tolvane
