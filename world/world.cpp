#include "world/world.hpp"

#include <string>
#include <vector>

#include "depth/depth_file.hpp"
#include "depth/depth_map.hpp"
#include "markup/text.hpp"
#include "markup/xml.hpp"
#include "world/elements.hpp"
#include "world/image_files.hpp"
#include "world/images.hpp"

namespace tolvane {

namespace {

std::unique_ptr<BaseImage> createImage(const char* type) {
    if (textEquals(type, "sprite")) return std::make_unique<SpriteImage>();
    if (textEquals(type, "scene")) return std::make_unique<SceneImage>();
    return nullptr;
}

std::unique_ptr<BaseElement> createElement(const char* type) {
    if (textEquals(type, "scene")) return std::make_unique<SceneElement>();
    if (textEquals(type, "ani")) return std::make_unique<AniElement>();
    if (textEquals(type, "char")) return std::make_unique<CharElement>();
    return nullptr;
}

// Hands `found` on, each problem labelled with the image or element.
// Only the first kMaxWorldProblemLines lines are kept; the rest are counted
// in `unshown`, so a description naming thousands of missing files costs a
// screenful of lines, not megabytes of them.
void report(WorldProblems* problems, const std::string& label, const WorldProblems& found, std::size_t& shown,
            std::size_t& unshown) {
    if (problems == nullptr) return;
    for (const WorldProblem& problem : found) {
        if (shown == kMaxWorldProblemLines) {
            ++unshown;
            continue;
        }
        problems->push_back({problem.kind, label, problem.detail});
        ++shown;
    }
}

// Every "image" and every "element" node of the tree under `root`, in
// document order. One pre-order walk: a chain of findNext calls would walk
// again from the root for each node, quadratic in a large description.
struct DescriptionNodes {
    std::vector<const XmlNode*> images;
    std::vector<const XmlNode*> elements;
};

DescriptionNodes collectNodes(const XmlNode& root) {
    DescriptionNodes found;
    std::vector<const XmlNode*> pending{&root};
    while (!pending.empty()) {
        const XmlNode* node = pending.back();
        pending.pop_back();
        if (node->name.equals("image")) {
            found.images.push_back(node);
        } else if (node->name.equals("element")) {
            found.elements.push_back(node);
        }
        for (std::int32_t i = node->childCount() - 1; i >= 0; --i) pending.push_back(&node->children[i]);
    }
    return found;
}

std::int64_t pixelsOf(const BaseImage& image) {
    return image.map ? std::int64_t{image.map->area.w} * image.map->area.h : 0;
}

}  // namespace

std::string problemLine(const WorldProblem& problem) {
    // Names and values are escaped where they go in; escaping the whole line
    // again changes nothing there and keeps it one line, whatever it held.
    return escapeForDisplay(problem.element.empty() ? problem.detail : problem.element + ": " + problem.detail);
}

World::World(std::int64_t imagePixelBudget) : imagePixelBudget_(imagePixelBudget) {}

World::~World() { clear(); }

void World::build(const XmlNode* node, WorldProblems* problems) {
    const XmlNode* w = node != nullptr ? node->findFirst("World") : nullptr;
    if (w == nullptr) return;

    // Labels count the "image" and "element" nodes in document order, so an
    // author can find the one meant even when it has no usable name.
    const DescriptionNodes nodes = collectNodes(*w);
    WorldProblems found;
    std::size_t shown = 0;
    std::size_t unshown = 0;
    std::int64_t pixels = 0;
    for (const auto& image : images) pixels += pixelsOf(*image);
    // Every file is read once however often it is named: the uses are
    // counted first, so that a file's map is freed after its last.
    ImageFiles files;
    for (const XmlNode* n : nodes.images) {
        const char* type = n->attributeValue("type");
        const char* file = n->attributeValue("file");
        if (type != nullptr && file != nullptr && (textEquals(type, "sprite") || textEquals(type, "scene"))) {
            files.expect(file);
        }
    }
    std::int32_t number = 0;
    for (const XmlNode* n : nodes.images) {
        ++number;
        found.clear();
        const char* type = n->attributeValue("type");
        std::unique_ptr<BaseImage> image = type != nullptr ? createImage(type) : nullptr;
        if (type == nullptr) found.push_back({WorldProblemKind::MissingAttribute, {}, "missing \"type\"; skipped"});
        if (image) {
            // The header's size is checked before the pixels are read, so a
            // description naming a huge file again and again costs no more
            // than reading its headers. A pipe's size shows only once read.
            std::int64_t width = 0;
            std::int64_t height = 0;
            const char* file = n->attributeValue("file");
            const bool known = file != nullptr && files.peekSize(file, width, height);
            std::int64_t size = known ? width * height : 0;
            if (pixels + size <= imagePixelBudget_) {
                image->files = &files;
                image->load(*n, found);
                image->files = nullptr;
                size = pixelsOf(*image);
            } else {
                files.skip(file);
            }
            if (pixels + size > imagePixelBudget_) {
                found.push_back({WorldProblemKind::PastPixelBudget, {},
                                 "its " + std::to_string(size) + " pixels would take the images past " +
                                     std::to_string(imagePixelBudget_) + " pixels in all; not loaded"});
                image.reset();
            } else {
                pixels += size;
            }
        }
        if (image) {
            if (findImage(image->name.data()) != nullptr) {
                found.push_back({WorldProblemKind::DuplicateImageName, {},
                                 "an earlier image has the same name; elements show that one"});
            }
        }
        std::string label = "image " + std::to_string(number);
        if (const char* name = n->attributeValue("name")) label.append(" ").append(quoted(name));
        report(problems, label, found, shown, unshown);
        if (image) addImage(std::move(image));
    }

    number = 0;
    for (const XmlNode* n : nodes.elements) {
        ++number;
        found.clear();
        const char* type = n->attributeValue("type");
        std::unique_ptr<BaseElement> element = type != nullptr ? createElement(type) : nullptr;
        if (type == nullptr) found.push_back({WorldProblemKind::MissingAttribute, {}, "missing \"type\"; skipped"});
        if (element) {
            element->world = this;
            element->load(*n, found);
        }
        std::string label = "element " + std::to_string(number);
        if (type != nullptr) {
            label.append(" (").append(escapeForDisplay(type));
            if (const char* imageName = n->attributeValue("imagename")) {
                label.append(" ").append(quoted(imageName));
            }
            label.append(")");
        }
        report(problems, label, found, shown, unshown);
        if (element) addElement(std::move(element));
    }

    if (problems != nullptr && unshown > 0) {
        problems->push_back({WorldProblemKind::MoreProblemsNotShown, {},
                             std::to_string(unshown) + " more problems with images and elements are not shown"});
    }
    cameraX = 0;
    cameraY = 0;
}

void World::addImage(std::unique_ptr<BaseImage> image) {
    if (!image) return;
    imagesByName_.emplace(image->name.data(), image.get());  // an earlier one of the name stays
    images.append(std::move(image));
}

void World::addElement(std::unique_ptr<BaseElement> element) {
    if (!element) return;
    (textEquals(element->typeName(), "scene") ? scenes_ : others_).push_back(element.get());
    elements.append(std::move(element));
}

BaseImage* World::findImage(const char* name) const {
    if (name == nullptr) return nullptr;
    const auto found = imagesByName_.find(name);
    return found != imagesByName_.end() ? found->second : nullptr;
}

void World::update(float dt) {
    for (const auto& element : elements) element->update(dt);
}

void World::setElapsed(double seconds) {
    for (const auto& element : elements) element->setElapsed(seconds);
}

void World::draw(DepthMap& target) const {
    // Scenes are opaque and overwrite each other in list order; sprites then
    // keep only what is nearer, so their own order does not matter.
    for (BaseElement* element : scenes_) element->draw(target, cameraX, cameraY);
    for (BaseElement* element : others_) element->draw(target, cameraX, cameraY);
}

void World::clear() {
    scenes_.clear();
    others_.clear();
    imagesByName_.clear();
    elements.clear();
    images.clear();
}

}  // namespace tolvane
