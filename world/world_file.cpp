#include "world/world_file.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "markup/file_bytes.hpp"
#include "markup/xml.hpp"

namespace tolvane {

namespace {

std::size_t lineOf(std::string_view text, std::size_t at) {
    return std::size_t(std::count(text.begin(), text.begin() + std::ptrdiff_t(at), '\n')) + 1;
}

// How a declaration or comment at `at` of `read` opens, shown in a message:
// "<!--", or "<?" or "<!" and the name after it ("<?xml", "<!DOCTYPE").
std::string tagOpening(std::string_view read, std::size_t at) {
    if (read.substr(at, 4) == "<!--") return quoted("<!--");
    constexpr std::size_t kLongestName = 12;
    std::size_t end = at + 2;
    while (end < read.size() && end - at < kLongestName + 2 && std::isalnum(static_cast<unsigned char>(read[end]))) {
        ++end;
    }
    return quoted(std::string(read.substr(at, end - at)).c_str());
}

// Markup the reader has no rule for, read as elements: "<?" and "<!"
// (declarations, "<!--" comments) open an element named "?xml" or "!--"
// whose first word takes everything up to the next "=" as an attribute
// name, so whatever follows (often the "World" start tag or an image) is
// lost. Only `read`, what the reader took in, is searched: markup after the
// end of the first element is never read, and does no harm there.
void reportUnknownMarkup(std::string_view read, bool worldLost, WorldProblems& problems) {
    struct Kind {
        const char* noun;
        std::size_t first = std::string_view::npos;
        std::size_t count = 0;
    };
    Kind declarations{"declaration"};
    Kind comments{"comment"};
    for (std::size_t at = read.find('<'); at != std::string_view::npos; at = read.find('<', at + 1)) {
        if (at + 1 >= read.size() || (read[at + 1] != '?' && read[at + 1] != '!')) continue;
        Kind& kind = read.substr(at, 4) == "<!--" ? comments : declarations;
        if (kind.count++ == 0) kind.first = at;
    }
    // In the order they first appear; the first is the one that can have
    // swallowed "World".
    const bool declarationFirst = declarations.first < comments.first;
    Kind* first = declarationFirst ? &declarations : &comments;
    Kind* second = declarationFirst ? &comments : &declarations;
    for (Kind* kind : {first, second}) {
        if (kind->count == 0) continue;
        std::string line = "line " + std::to_string(lineOf(read, kind->first)) + ": a " + kind->noun + " " +
                           tagOpening(read, kind->first) +
                           ", which this reader does not know: it reads it as an element that swallows "
                           "what follows up to the next \"=\"; delete it";
        if (kind->count > 1) line += " (and " + std::to_string(kind->count - 1) + " more)";
        if (worldLost && kind == first) line += "; the world is empty";
        problems.push_back(std::move(line));
    }
}

// The causes the reader itself never reports, for a text from which it read
// `readEnd` bytes into `root`: a start it cannot read at all, and markup it
// reads as something else. True when a line explains why there is no
// "World" element, so that no other line needs to say so.
bool reportMarkupTraps(std::string_view text, std::size_t readEnd, const XmlNode& root, bool worldFound,
                       WorldProblems& problems) {
    if (readEnd > 0) {
        // A root named "?xml" or "!--" is such markup at the very top: it
        // is why no "World" was found.
        const char lead = root.name.data()[0];
        const bool worldSwallowed = !worldFound && (lead == '?' || lead == '!');
        reportUnknownMarkup(text.substr(0, readEnd), worldSwallowed, problems);
        return worldSwallowed;
    }
    // Nothing was read: the text does not start with "<" and a name.
    const char* cause = nullptr;
    if (text.empty()) {
        cause = "is empty";
    } else if (text.starts_with("\xEF\xBB\xBF")) {
        cause = "starts with a byte order mark, which this reader does not skip; save the file without it";
    } else if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        cause = "starts with a UTF-16 byte order mark; this reader reads single bytes: save the file as UTF-8 "
                "without a byte order mark";
    } else if (isSpace(text[0])) {
        cause = "starts with blank space, which this reader does not skip: \"<\" must be the very first byte; "
                "delete what stands before it";
    }
    if (cause == nullptr) return false;
    problems.push_back(std::string(cause) + "; the world is empty");
    return true;
}

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

void loadWorld(World& world, const char* worldFile, WorldProblems& problems, const char* sampleWorld) {
    XmlNode root;
    // What XmlNode::loadFile does, keeping the text: the lines below name
    // what in it the reader did not take as its author meant.
    const FileBytes file = readFileBytes(worldFile, kMaxMarkupFileBytes);
    const std::string_view text(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size());
    const std::size_t readEnd = file ? root.parse(text, 0) : 0;
    anchorImageFiles(root, worldFile);
    const XmlNode* w = root.findFirst("World");
    if (!file) {
        // A bare name is looked for in the working folder: say so, since
        // that is where an author forgets to start the program.
        if (std::strchr(worldFile, '/') != nullptr) {
            problems.push_back("cannot be read; the world is empty");
        } else if (sampleWorld == nullptr || *sampleWorld == '\0') {
            problems.push_back("cannot be read from the working folder; the world is empty");
        } else {
            problems.push_back(std::string("cannot be read from the working folder; the world is empty; the sample "
                                           "world is ") +
                               sampleWorld);
        }
    } else if (!reportMarkupTraps(text, readEnd, root, w != nullptr, problems) && w == nullptr) {
        problems.push_back("has no \"World\" element; the world is empty");
    }
    world.build(w, &problems);
}

}  // namespace tolvane
