#pragma once
// The markup reader for "world.xml": a small, forgiving tag grammar (not
// general XML) read into an owning tree of XmlNode objects.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "io/file_bytes.hpp"
#include "markup/text.hpp"

namespace tolvane {

// An owning list of objects in insertion order, held in one block. The
// reader sizes each list before filling it, so a tree holds no spare room;
// add() may move the items of a list that outgrows its size, so keep no
// pointer into a list being added to. Two words, where a vector takes three:
// every node of a tree holds two lists.
template <typename T>
class ItemList {
public:
    std::int32_t count() const { return static_cast<std::int32_t>(count_); }
    T& operator[](std::int32_t i) { return items_[static_cast<std::size_t>(i)]; }
    const T& operator[](std::int32_t i) const { return items_[static_cast<std::size_t>(i)]; }
    T& add() {
        if (count_ == capacity_) reserve(capacity_ == 0 ? 4 : 2 * std::size_t{capacity_});
        return items_[count_++];
    }
    // Room for `count` items in all; never shrinks.
    void reserve(std::size_t count) {
        if (count <= capacity_) return;
        auto grown = std::make_unique<T[]>(count);
        for (std::uint32_t i = 0; i < count_; ++i) grown[i] = std::move(items_[i]);
        items_ = std::move(grown);
        capacity_ = static_cast<std::uint32_t>(count);
    }
    T* begin() { return items_.get(); }
    T* end() { return items_.get() + count_; }
    const T* begin() const { return items_.get(); }
    const T* end() const { return items_.get() + count_; }

private:
    std::unique_ptr<T[]> items_;
    std::uint32_t count_ = 0;
    std::uint32_t capacity_ = 0;
};

struct XmlAttribute {
    TextBuffer name;
    TextBuffer value;
};

class XmlNode {
public:
    TextBuffer name;
    TextBuffer text;
    ItemList<XmlAttribute> attributes;
    ItemList<XmlNode> children;

    std::int32_t attributeCount() const { return attributes.count(); }
    std::int32_t childCount() const { return children.count(); }

    // Reads the whole file and parses its first element into this (fresh)
    // node. Ok, or why not (io/file_bytes.hpp): the file cannot be
    // opened or read, is neither a regular file nor a pipe, is larger than
    // kMaxMarkupFileBytes or does not
    // fit in memory, or its tree does not (OutOfMemory); the node is then
    // unchanged. Any text read gives Ok, even when it yields an empty or
    // partial tree.
    FileReadStatus loadFile(const char* fileName);

    // Parses one element starting at `start` into this node. Returns the
    // index just after the element, or `start` when no element begins there.
    // Every scan stops at the end of `text` or at its first NUL, whichever
    // comes first; a text that ends early keeps what was read and returns
    // that end. Elements nested deeper than kMaxMarkupDepth are read past but
    // not stored.
    std::size_t parse(std::string_view text, std::size_t start);

    // What parse did with the text: where it stopped, and the elements it
    // read past for being too deep (the outermost of each such subtree;
    // `firstDropped` is the index of the first one's "<").
    struct Parsed {
        std::size_t end = 0;
        std::size_t droppedElements = 0;
        std::size_t firstDropped = 0;
    };
    // parse, telling also what was dropped.
    Parsed parseReporting(std::string_view text, std::size_t start);

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
