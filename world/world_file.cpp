#include "world/world_file.hpp"

#include <cstring>
#include <string_view>

#include "markup/xml.hpp"

namespace tolvane {

namespace {

// Image files are named relative to the description. The catalogue opens
// whatever "file" says, so the tree is given the joined names before the
// world is built from it; messages then name the file actually tried.
void anchorImageFiles(XmlNode& node, const char* worldFile) {
    if (std::strcmp(node.name.data(), "image") == 0) {
        for (const auto& attribute : node.attributes) {
            if (std::strcmp(attribute->name.data(), "file") == 0) {
                attribute->value.assign(std::string_view(worldRelativePath(worldFile, attribute->value.data())));
            }
        }
    }
    // The reader stores no tree deeper than kMaxMarkupDepth, so this
    // recursion is bounded.
    for (const auto& child : node.children) anchorImageFiles(*child, worldFile);
}

}  // namespace

std::string worldRelativePath(const char* worldFile, const char* file) {
    const char* slash = std::strrchr(worldFile, '/');
    if (slash == nullptr || file[0] == '\0' || file[0] == '/') return file;
    return std::string(worldFile, static_cast<std::size_t>(slash - worldFile) + 1) + file;
}

void loadWorld(World& world, const char* worldFile, WorldProblems& problems) {
    XmlNode root;
    const bool opened = root.loadFile(worldFile);
    anchorImageFiles(root, worldFile);
    const XmlNode* w = root.findFirst("World");
    if (!opened) {
        // A bare name is looked for in the working folder: say so, since
        // that is where an author forgets to start the program.
        problems.push_back(std::strchr(worldFile, '/') == nullptr
                               ? "cannot be read from the working folder; the world is empty"
                               : "cannot be read; the world is empty");
    } else if (w == nullptr) {
        problems.push_back("has no \"World\" element; the world is empty");
    }
    world.build(w, &problems);
}

}  // namespace tolvane
