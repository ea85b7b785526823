#pragma once
// The world: camera offset, image catalogue and placed elements, built once
// from the "World" node of "world.xml" and then updated and drawn every frame.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tolvane {

class BaseImage;
class BaseElement;
class XmlNode;
struct DepthMap;

// An owning, append-only list: iteration runs from the head in insertion
// order, and teardown releases the items in that same order.
template <typename T>
class LinkedList {
public:
    LinkedList() = default;
    LinkedList(const LinkedList&) = delete;
    LinkedList& operator=(const LinkedList&) = delete;
    ~LinkedList() { clear(); }

    void append(std::unique_ptr<T> item) { items_.push_back(std::move(item)); }
    std::int32_t count() const { return static_cast<std::int32_t>(items_.size()); }
    bool empty() const { return items_.empty(); }
    T& operator[](std::int32_t i) const { return *items_[static_cast<std::size_t>(i)]; }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

    void clear() {
        for (auto& item : items_) item.reset();
        items_.clear();
    }

private:
    std::vector<std::unique_ptr<T>> items_;
};

// What in a world description cannot be shown as written, by cause. Tests
// and callers branch on these; the wording is for people.
enum class WorldProblemKind {
    // The description as a whole.
    CannotReadDescription,  // missing, not a file, too large, unreadable: the world is empty
    OutOfMemory,            // its tree or its world does not fit in memory: the world is empty
    EmptyDescription,       // no bytes at all
    ByteOrderMark,          // a byte order mark (UTF-8 or UTF-16) before the first "<"
    SpaceBeforeFirstTag,    // blank space before the first "<"
    UnknownMarkup,          // a declaration or comment, read as an element
    NoWorldElement,
    NestedTooDeep,          // elements below kMaxMarkupDepth, dropped
    MoreProblemsNotShown,   // the count past kMaxWorldProblemLines
    // An image or an element.
    MissingAttribute,
    CannotReadImageFile,
    ImageFileWarning,       // read, but probably not as meant
    PastPixelBudget,
    DuplicateImageName,
    BadFrameSize,           // "sizex" or "sizey" not a positive number
    FrameLargerThanSheet,
    UnknownSlope,           // a "slope" other than "none": the ground slope applies
    NoSuchImage,
    NotASprite,
    ZeroFps,
    FpsTooLarge,
    NegativeFps,            // shown, running backwards
    NegativeStartFrame,     // shown, counting back from the last frame
    NoFiniteFrame,
};

struct WorldProblem {
    WorldProblemKind kind;
    // Which image or element, as an author finds it ("image 3 \"ball\"",
    // "element 5 (ani \"sky\")"); empty for the description as a whole.
    std::string element;
    // What is wrong and what is done about it, names escaped for printing.
    std::string detail;
};

using WorldProblems = std::vector<WorldProblem>;

// The line printed after the description's name: "element: detail", or the
// detail alone, escaped so that it stays one line.
std::string problemLine(const WorldProblem& problem);

// Most lines World::build adds for the problems of images and elements; a
// last line counts the rest.
inline constexpr std::size_t kMaxWorldProblemLines = 100;

// Most depth-image pixels the catalogue holds at once: every file may hold a
// map of the largest size, and a description may name such files again and
// again, so the total is bounded too. Images past it are not loaded.
inline constexpr std::int64_t kMaxWorldImagePixels = std::int64_t{1} << 28;

// A camera coordinate moved by `delta`, as a drag moves it: it wraps rather
// than overflowing after absurdly long drags (added unsigned, since signed
// overflow is undefined).
inline std::int32_t moveBy(std::int32_t position, std::int32_t delta) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(position) + static_cast<std::uint32_t>(delta));
}

class World {
public:
    // Scroll offset added to every element's position when drawing; the
    // frame loop's mouse drags write these.
    std::int32_t cameraX = 0;
    std::int32_t cameraY = 0;
    LinkedList<BaseImage> images;
    LinkedList<BaseElement> elements;

    // `imagePixelBudget` bounds the pixels of all catalogued images together.
    explicit World(std::int64_t imagePixelBudget = kMaxWorldImagePixels);
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Builds from `node` if it is named "World", else from the first "World"
    // below it; with neither, nothing happens. Every image is loaded before
    // any element, so elements may name images written after them. The
    // camera goes back to (0, 0). Problems are added to `problems` when
    // given, each labelled with its image or element.
    void build(const XmlNode* node, WorldProblems* problems = nullptr);
    void addImage(std::unique_ptr<BaseImage> image);
    void addElement(std::unique_ptr<BaseElement> element);
    BaseImage* findImage(const char* name) const;  // first exact match, or null

    void update(float dt);
    // Every animation `seconds` after the world was built, beyond what update
    // added: a renderer computes each frame's time afresh, so that no error
    // builds up over a long sequence or a late start.
    void setElapsed(double seconds);
    // Draws every "scene" element in list order, then every other element,
    // the depth bands following cameraY.
    void draw(DepthMap& target) const;

    // Teardown: every element (giving back its image use), then every image.
    void clear();

private:
    std::int64_t imagePixelBudget_;
    // The elements in drawing order, scenes and then the rest, each in list
    // order: settled when an element is added, so drawing compares no names.
    std::vector<BaseElement*> scenes_;
    std::vector<BaseElement*> others_;
    // The first image of each name, so binding an element costs no walk of
    // the catalogue, however large it is.
    std::unordered_map<std::string, BaseImage*> imagesByName_;
};

}  // namespace tolvane
