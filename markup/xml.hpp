#pragma once
// The markup reader for "world.xml": a small, forgiving tag grammar (not
// general XML) read into an owning tree of XmlNode objects.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "markup/text.hpp"

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
    // node. False when the file cannot be opened or is too large; the node is
    // then unchanged.
    bool loadFile(const char* fileName);

    // Parses one element starting at `start` into this node. Returns the
    // index just after the element, or `start` when no element begins there.
    // Every scan stops at the end of `text`.
    std::size_t parse(std::string_view text, std::size_t start);

    const XmlAttribute* findAttribute(const char* name) const;
    const char* attributeValue(const char* name) const;  // null when absent
    const XmlNode* findFirst(const char* name) const;
    const XmlNode* findNext(const char* name, const XmlNode* after) const;
};

// Largest world description loadFile accepts.
inline constexpr long kMaxMarkupFileBytes = 16L * 1024 * 1024;
