#include "world/world_file.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "io/file_bytes.hpp"
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
        problems.push_back({WorldProblemKind::UnknownMarkup, {}, std::move(line)});
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
    WorldProblem problem{WorldProblemKind::EmptyDescription, {}, "is empty"};
    if (text.empty()) {
        // as it stands
    } else if (text.starts_with("\xEF\xBB\xBF")) {
        problem = {WorldProblemKind::ByteOrderMark, {},
                   "starts with a byte order mark, which this reader does not skip; save the file without it"};
    } else if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        problem = {WorldProblemKind::ByteOrderMark, {},
                   "starts with a UTF-16 byte order mark; this reader reads single bytes: save the file as UTF-8 "
                   "without a byte order mark"};
    } else if (isSpace(text[0])) {
        problem = {WorldProblemKind::SpaceBeforeFirstTag, {},
                   "starts with blank space, which this reader does not skip: \"<\" must be the very first byte; "
                   "delete what stands before it"};
    } else {
        return false;
    }
    problem.detail += "; the world is empty";
    problems.push_back(std::move(problem));
    return true;
}

// Image files are named relative to the description. The catalogue opens
// whatever "file" says, so the tree is given the joined names before the
// world is built from it; messages then name the file actually tried.
void anchorImageFiles(XmlNode& node, const char* worldFile) {
    if (std::strcmp(node.name.data(), "image") == 0) {
        for (XmlAttribute& attribute : node.attributes) {
            if (std::strcmp(attribute.name.data(), "file") == 0) {
                attribute.value.assign(std::string_view(worldRelativePath(worldFile, attribute.value.data())));
            }
        }
    }
    // The reader stores no tree deeper than kMaxMarkupDepth, so this
    // recursion is bounded.
    for (XmlNode& child : node.children) anchorImageFiles(child, worldFile);
}

}  // namespace

std::string worldRelativePath(const char* worldFile, const char* file) {
    const char* slash = std::strrchr(worldFile, '/');
    if (slash == nullptr || file[0] == '\0' || file[0] == '/') return file;
    return std::string(worldFile, static_cast<std::size_t>(slash - worldFile) + 1) + file;
}

namespace {

// Why the description could not be read, in words that follow "cannot be
// read: ": the system's reason, not only that it failed.
std::string unreadableReason(const FileBytes& file) {
    switch (file.status) {
        case FileReadStatus::CannotOpen:
        case FileReadStatus::CannotRead: {
            // The detail is "cannot open: REASON" or "cannot read: REASON".
            const std::size_t colon = file.detail.find(": ");
            return colon != std::string::npos ? file.detail.substr(colon + 2) : file.detail;
        }
        case FileReadStatus::NotAFile: {
            const std::size_t it = file.detail.find("it is ");
            return it != std::string::npos ? file.detail.substr(it) : file.detail;
        }
        case FileReadStatus::TooLarge:
            return "it is larger than the " + std::to_string(kMaxMarkupFileBytes / (1024 * 1024)) +
                   " MiB a world description may hold";
        case FileReadStatus::OutOfMemory:
            return "there is not enough memory to read it";
        case FileReadStatus::Ok:
            break;
    }
    return file.detail;
}

// The line for elements the reader dropped for nesting too deep.
std::string droppedLine(std::string_view text, const XmlNode::Parsed& parsed) {
    std::string line = "line " + std::to_string(lineOf(text, parsed.firstDropped)) +
                       ": an element nested deeper than " + std::to_string(kMaxMarkupDepth) +
                       " levels, which this reader drops with all it holds";
    if (parsed.droppedElements > 1) line += " (and " + std::to_string(parsed.droppedElements - 1) + " more)";
    return line;
}

bool readWorld(World& world, const char* worldFile, WorldProblems& problems, const char* sampleWorld) {
    XmlNode root;
    // What XmlNode::loadFile does, keeping the text: the lines below name
    // what in it the reader did not take as its author meant.
    const FileBytes file = readFileBytes(worldFile, kMaxMarkupFileBytes);
    if (!file) {
        // A bare name is looked for in the working folder: say so, since
        // that is where an author forgets to start the program.
        const bool bare = std::strchr(worldFile, '/') == nullptr;
        std::string line = (bare ? "cannot be read from the working folder: " : "cannot be read: ") +
                           unreadableReason(file) + "; the world is empty";
        if (bare && sampleWorld != nullptr && *sampleWorld != '\0') {
            line += std::string("; the sample world is ") + sampleWorld;
        }
        problems.push_back({WorldProblemKind::CannotReadDescription, {}, std::move(line)});
        return false;
    }
    const std::string_view text(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size());
    const XmlNode::Parsed parsed = root.parseReporting(text, 0);
    anchorImageFiles(root, worldFile);
    const XmlNode* w = root.findFirst("World");
    if (!reportMarkupTraps(text, parsed.end, root, w != nullptr, problems) && w == nullptr) {
        problems.push_back({WorldProblemKind::NoWorldElement, {}, "has no \"World\" element; the world is empty"});
    }
    if (parsed.droppedElements > 0) {
        problems.push_back({WorldProblemKind::NestedTooDeep, {}, droppedLine(text, parsed)});
    }
    world.build(w, &problems);
    return true;
}

}  // namespace

bool loadWorld(World& world, const char* worldFile, WorldProblems& problems, const char* sampleWorld) {
    try {
        return readWorld(world, worldFile, problems, sampleWorld);
    } catch (const std::bad_alloc&) {
        // The tree and the text are gone by now; what was built of the world
        // goes too, so that a half-built world is never drawn.
        world.clear();
        problems.push_back({WorldProblemKind::OutOfMemory, {}, "there is not enough memory to read it; the world is empty"});
        return false;
    }
}

}  // namespace tolvane
