#pragma once
// The markup reader for "world.xml": a small, forgiving tag grammar (not
// general XML) read into an owning tree of XmlNode objects.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "markup/text.hpp"

namespace tolvane {

// An owning list of objects in insertion order.
template <typename T>
class PointerList {
public:
    std::int32_t count() const { return static_cast<std::int32_t>(items_.size()); }
    T& operator[](std::int32_t i) const { return *items_[static_cast<std::size_t>(i)]; }
    T& add() { return *items_.emplace_back(std::make_unique<T>()); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<std::unique_ptr<T>> items_;
};

struct XmlAttribute {
    TextBuffer name;
    TextBuffer value;
};

class XmlNode {
public:
    TextBuffer name;
    TextBuffer text;
    PointerList<XmlAttribute> attributes;
    PointerList<XmlNode> children;

    std::int32_t attributeCount() const { return attributes.count(); }
    std::int32_t childCount() const { return children.count(); }

    // Reads the whole file and parses its first element into this (fresh)
    // node. False when the file cannot be opened or read, is neither a
    // regular file nor a pipe, is larger than kMaxMarkupFileBytes or does not
    // fit in memory (io/file_bytes.hpp); the node is then unchanged. Any text read gives
    // true, even when it yields an empty or partial tree.
    bool loadFile(const char* fileName);

    // Parses one element starting at `start` into this node. Returns the
    // index just after the element, or `start` when no element begins there.
    // Every scan stops at the end of `text` or at its first NUL, whichever
    // comes first; a text that ends early keeps what was read and returns
    // that end. Elements nested deeper than kMaxMarkupDepth are read past but
    // not stored.
    std::size_t parse(std::string_view text, std::size_t start);

    const XmlAttribute* findAttribute(const char* name) const;
    const char* attributeValue(const char* name) const;  // null when absent
    // Pre-order lookups over this node's subtree, this node included. Feeding
    // each findNext result back as `after`, starting from null, visits every
    // match once in document order; an `after` outside the subtree gives null.
    const XmlNode* findFirst(const char* name) const;
    const XmlNode* findNext(const char* name, const XmlNode* after) const;
};

// Largest world description loadFile accepts.
inline constexpr long kMaxMarkupFileBytes = 16L * 1024 * 1024;

// Deepest element stored, the root being at depth 1. Deeper elements are
// skipped up to their end tag, so no document can build a tree deep enough to
// hurt its teardown.
inline constexpr std::size_t kMaxMarkupDepth = 256;

}  // namespace tolvane
