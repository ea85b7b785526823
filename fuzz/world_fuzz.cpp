// The markup reader, then the world built from what it read. The tree must
// be consistent (counts match lists, lookups agree with a plain pre-order
// walk); the world must hold exactly the images and elements of known types
// below its "World" node, keep its images' use counts, and draw into a
// 640 x 480 map only depths 0..31, never touching the last row or column,
// whatever the frame time and the camera.
//
// The "file" attributes can name a small set of depth files of every kind,
// written once per process into a scratch folder that becomes the working
// folder, together with the sample world's files from assets/.

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "depth/bitmap_file.hpp"
#include "depth/compressed_file.hpp"
#include "fuzz/fuzz_support.hpp"
#include "markup/text.hpp"
#include "markup/xml.hpp"
#include "world/elements.hpp"
#include "world/images.hpp"
#include "world/world.hpp"

using namespace tolvane;

namespace {

constexpr std::int32_t kScreenWidth = 640;
constexpr std::int32_t kScreenHeight = 480;

const fuzz::ScratchFolder& folder() {
    static const fuzz::ScratchFolder scratch("world");
    return scratch;
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The files a description may name: a scene of each kind, an empty map, a
// scene larger than the screen, and a sprite sheet of 3 x 2 frames of
// 16 x 16 with a remainder column.
void writeWorldFiles() {
    const fuzz::ScratchFolder& f = folder();
    f.write("a.txt", asBytes("8 4\n12345678\nABCDEFGH\n 0 0 0 0\nUUUUUUUU\n"));
    f.write("e.txt", asBytes("0 0\n"));
    const std::uint8_t small[] = {1, 1, 2, 3, 3, 3};
    f.write("b.schm", encodeSchm(*fuzz::mapOf(3, 2, small)));
    std::vector<std::uint8_t> pixels(40, 5);
    f.write("c.scmhm", encodeScmhm(*fuzz::mapOf(40, 1, pixels)));
    const std::uint8_t odd[] = {0, 31, 7, 8, 9, 30, 1, 2, 3, 4, 5, 6, 16, 17, 18};
    std::vector<std::uint8_t> bitmap;
    FUZZ_CHECK(bool(encodeDepthMapBitmap(*fuzz::mapOf(5, 3, odd), bitmap)));
    f.write("d.bmp", bitmap);
    pixels.assign(700 * 500, 0);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = std::uint8_t((i / 700 + i % 700 / 50) % 32);
    f.write("h.scmhm", encodeScmhm(*fuzz::mapOf(700, 500, pixels)));
    pixels.assign(50 * 32, 0);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = std::uint8_t(i % 50 % 16 < 8 ? (i % 7) * 4 : 0);
    f.write("s.schm", encodeSchm(*fuzz::mapOf(50, 32, pixels)));
    // The sample world's own files, so its description draws for real.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(TOLVANE_SOURCE_DIR "/assets", ignored)) {
        if (entry.path().extension() != ".xml") {
            std::filesystem::copy_file(entry.path(), f.path() / entry.path().filename(), ignored);
        }
    }
}

void preOrder(const XmlNode& node, std::vector<const XmlNode*>& out) {
    out.push_back(&node);
    for (const XmlNode& child : node.children) preOrder(child, out);
}

void checkTree(const XmlNode& node, std::size_t depth) {
    FUZZ_CHECK(depth <= kMaxMarkupDepth);
    FUZZ_CHECK(node.attributeCount() == node.attributes.count());
    FUZZ_CHECK(node.childCount() == node.children.count());
    std::int32_t attributes = 0;
    for ([[maybe_unused]] const XmlAttribute& attribute : node.attributes) ++attributes;
    FUZZ_CHECK(attributes == node.attributeCount());
    std::int32_t children = 0;
    for (const XmlNode& child : node.children) {
        checkTree(child, depth + 1);
        ++children;
    }
    FUZZ_CHECK(children == node.childCount());
    // A text is words joined by single spaces.
    const std::string_view text(node.text.data(), std::size_t(node.text.length()));
    FUZZ_CHECK(text.empty() || (!isSpace(text.front()) && !isSpace(text.back())));
    FUZZ_CHECK(text.find("  ") == std::string_view::npos);
    // The first attribute of a name is the one every lookup gives.
    for (const XmlAttribute& attribute : node.attributes) {
        const XmlAttribute* found = node.findAttribute(attribute.name.data());
        FUZZ_CHECK(found != nullptr && found->name.equals(attribute.name.data()));
        for (const XmlAttribute& earlier : node.attributes) {
            if (earlier.name.equals(attribute.name.data())) {
                FUZZ_CHECK(found == &earlier);
                break;
            }
        }
        FUZZ_CHECK(node.attributeValue(attribute.name.data()) == found->value.data());
    }
}

// findFirst and the findNext chain give exactly the nodes of that name of a
// plain pre-order walk, each once, in order.
void checkLookups(const XmlNode& root, const char* name, const std::vector<const XmlNode*>& order) {
    std::vector<const XmlNode*> expected;
    for (const XmlNode* node : order) {
        if (node->name.equals(name)) expected.push_back(node);
    }
    FUZZ_CHECK(root.findFirst(name) == (expected.empty() ? nullptr : expected.front()));
    std::size_t i = 0;
    for (const XmlNode* n = root.findNext(name, nullptr); n != nullptr; n = root.findNext(name, n)) {
        FUZZ_CHECK(i < expected.size() && n == expected[i]);
        ++i;
    }
    FUZZ_CHECK(i == expected.size());
    const XmlNode outsider;
    FUZZ_CHECK(root.findNext(name, &outsider) == nullptr);
}

bool typeIs(const XmlNode& node, std::initializer_list<const char*> types) {
    const char* type = node.attributeValue("type");
    if (type == nullptr) return false;
    for (const char* t : types) {
        if (textEquals(type, t)) return true;
    }
    return false;
}

// Exactly the nodes of known types, in document order, of the right kinds.
void checkBuilt(const XmlNode& root, const World& world, const WorldProblems& problems) {
    const XmlNode* w = root.findFirst("World");
    std::vector<const XmlNode*> order;
    if (w != nullptr) preOrder(*w, order);
    std::vector<const char*> imageTypes;
    std::vector<const char*> elementTypes;
    for (const XmlNode* node : order) {
        if (node->name.equals("image") && typeIs(*node, {"sprite", "scene"})) {
            imageTypes.push_back(node->attributeValue("type"));
        }
        if (node->name.equals("element") && typeIs(*node, {"scene", "ani", "char"})) {
            elementTypes.push_back(node->attributeValue("type"));
        }
    }
    FUZZ_CHECK(world.images.count() == std::int32_t(imageTypes.size()));
    FUZZ_CHECK(world.elements.count() == std::int32_t(elementTypes.size()));
    for (std::int32_t i = 0; i < world.images.count(); ++i) {
        FUZZ_CHECK(textEquals(world.images[i].typeName(), imageTypes[std::size_t(i)]));
    }
    for (std::int32_t i = 0; i < world.elements.count(); ++i) {
        FUZZ_CHECK(textEquals(world.elements[i].typeName(), elementTypes[std::size_t(i)]));
    }
    if (w == nullptr) FUZZ_CHECK(problems.empty());
    for (const WorldProblem& problem : problems) {
        const std::string line = problemLine(problem);
        FUZZ_CHECK(!line.empty() && line.find('\n') == std::string::npos);
    }
    FUZZ_CHECK(world.cameraX == 0 && world.cameraY == 0);
}

bool sameTree(const XmlNode& a, const XmlNode& b) {
    if (!a.name.equals(b.name.data()) || !a.text.equals(b.text.data()) ||
        a.attributeCount() != b.attributeCount() || a.childCount() != b.childCount()) {
        return false;
    }
    for (std::int32_t i = 0; i < a.attributeCount(); ++i) {
        if (!a.attributes[i].name.equals(b.attributes[i].name.data()) ||
            !a.attributes[i].value.equals(b.attributes[i].value.data())) {
            return false;
        }
    }
    for (std::int32_t i = 0; i < a.childCount(); ++i) {
        if (!sameTree(a.children[i], b.children[i])) return false;
    }
    return true;
}

const BaseImage* boundImage(const BaseElement& element) {
    if (const auto* scene = dynamic_cast<const SceneElement*>(&element)) return scene->image;
    if (const auto* ani = dynamic_cast<const AniElement*>(&element)) return ani->image;
    return nullptr;
}

void checkImages(const World& world) {
    for (const auto& image : world.images) {
        std::int32_t users = 0;
        for (const auto& element : world.elements) users += boundImage(*element) == image.get() ? 1 : 0;
        FUZZ_CHECK(image->useCount == users);
        if (image->map) fuzz::checkWellFormed(*image->map);
        if (const auto* sprite = dynamic_cast<const SpriteImage*>(image.get()); sprite && sprite->hasFrames()) {
            FUZZ_CHECK(sprite->map != nullptr);
            FUZZ_CHECK(std::int64_t(sprite->framesAcross) * sprite->sizeX <= sprite->map->area.w);
            FUZZ_CHECK(std::int64_t(sprite->framesDown) * sprite->sizeY <= sprite->map->area.h);
        }
    }
    for (const auto& element : world.elements) {
        if (const auto* ani = dynamic_cast<const AniElement*>(element.get())) {
            const std::int32_t frame = currentFrame(*ani);
            const std::int32_t across = ani->image != nullptr ? ani->image->framesAcross : 0;
            FUZZ_CHECK(frame == 0 || (frame > 0 && frame < across));
        }
    }
}

void drawAndCheck(const World& world, DepthMap& target) {
    fillDepthMap(target, 0);
    world.draw(target);
    // Eight pixels at a time: no depth above 31 anywhere.
    const std::size_t bytes = std::size_t(kScreenWidth) * kScreenHeight;
    for (std::size_t i = 0; i < bytes; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, target.pixels + i, 8);
        FUZZ_CHECK((word & 0xE0E0E0E0E0E0E0E0ull) == 0);
    }
    // The clipping never reaches the last column or the last row.
    for (std::int32_t y = 0; y < kScreenHeight; ++y) {
        FUZZ_CHECK(target.pixels[std::size_t(y) * kScreenWidth + kScreenWidth - 1] == 0);
    }
    const std::uint8_t* last = target.pixels + std::size_t(kScreenHeight - 1) * kScreenWidth;
    FUZZ_CHECK(std::all_of(last, last + kScreenWidth, [](std::uint8_t v) { return v == 0; }));
    for (const auto& element : world.elements) {
        Rect bounds;
        element->bounds(bounds, world.cameraX, world.cameraY);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    writeWorldFiles();
    FUZZ_CHECK(::chdir(folder().path().c_str()) == 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    XmlNode root;
    const std::size_t end = root.parse(text, 0);
    if (end == 0) {
        FUZZ_CHECK(root.name.length() == 0 && root.text.length() == 0);
        FUZZ_CHECK(root.attributeCount() == 0 && root.childCount() == 0);
    }
    checkTree(root, 1);

    // The same text read from a file gives the same tree.
    folder().write("doc.xml", std::span<const std::uint8_t>(data, size));
    XmlNode fromFile;
    FUZZ_CHECK(fromFile.loadFile("doc.xml") == FileReadStatus::Ok);
    FUZZ_CHECK(sameTree(root, fromFile));
    // The element ends at its last ">" or where the text does, and nothing
    // after it changes what was read.
    const std::size_t textEnd = std::min(text.find('\0'), size);
    FUZZ_CHECK(end <= textEnd);
    FUZZ_CHECK(end == 0 || end == textEnd || text[end - 1] == '>');
    XmlNode prefix;
    FUZZ_CHECK(prefix.parse(text.substr(0, end), 0) == end);
    FUZZ_CHECK(sameTree(root, prefix));
    // Where no element begins, a node is left as it was made.
    XmlNode untouched;
    FUZZ_CHECK(untouched.parse(text, size + 1) == size + 1);
    FUZZ_CHECK(sameTree(untouched, XmlNode()));

    std::vector<const XmlNode*> order;
    preOrder(root, order);
    for (const char* name : {"World", "image", "element", root.name.data(), order.back()->name.data()}) {
        checkLookups(root, name, order);
    }

    // Inputs here are small; the catalogue limit has its own test, and
    // lifting it keeps "every image of a known type is built" exact.
    World world(INT64_MAX);
    WorldProblems problems;
    world.build(&root, &problems);
    checkBuilt(root, world, problems);
    checkImages(world);

    const DepthMapPtr target = createDepthMap(kScreenWidth, kScreenHeight);
    FUZZ_CHECK(target != nullptr);
    constexpr float kInf = std::numeric_limits<float>::infinity();
    for (const float dt : {0.0f, 1.0f / 60, -1.0f / 60, 1e30f, std::nanf(""), -kInf}) {
        world.update(dt);
        checkImages(world);
        drawAndCheck(world, *target);
    }
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    for (const auto& [x, y] : {std::pair{-300, 17}, {kMax, kMin}, {kMin, kMax}}) {
        world.cameraX = x;
        world.cameraY = y;
        drawAndCheck(world, *target);
    }
    return 0;
}
