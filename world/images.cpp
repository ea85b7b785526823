#include "world/images.hpp"

#include <algorithm>
#include <string>

#include "depth/depth_file.hpp"
#include "markup/text.hpp"
#include "markup/xml.hpp"
#include "world/image_files.hpp"

namespace tolvane {

namespace {

// Reads a frame side for `attribute`, kept as written, and tells whether it
// can cut a sheet side of `sheetSide` pixels into frames.
bool readFrameSide(const XmlNode& node, const char* attribute, const char* what,
                   const DepthMap* sheet, std::int32_t sheetSide, std::int32_t& side,
                   WorldProblems& problems) {
    const char* text = node.attributeValue(attribute);
    side = parseInt(text != nullptr ? text : "");
    if (text == nullptr) {
        problems.push_back({WorldProblemKind::MissingAttribute, {}, "missing " + quoted(attribute) + "; nothing is drawn"});
        return false;
    }
    if (side <= 0) {
        problems.push_back({WorldProblemKind::BadFrameSize, {},
                            quoted(attribute) + " " + escapeForDisplay(text) + " is not a positive " + what +
                                "; nothing is drawn"});
        return false;
    }
    if (sheet != nullptr && side > sheetSide) {
        problems.push_back({WorldProblemKind::FrameLargerThanSheet, {},
                            quoted(attribute) + " " + escapeForDisplay(text) + " is larger than the sheet's " +
                                std::to_string(sheetSide) + " px " + what + "; nothing is drawn"});
        return false;
    }
    return true;
}

}  // namespace

BaseImage::~BaseImage() = default;

const char* BaseImage::typeName() const { return "baseimagetype"; }

void BaseImage::placedRect(Rect&, std::int32_t, std::int32_t) const {}

void BaseImage::load(const XmlNode& node, WorldProblems& problems) {
    const char* nameText = node.attributeValue("name");
    if (nameText == nullptr) {
        problems.push_back(
            {WorldProblemKind::MissingAttribute, {}, "missing \"name\"; it is named \"\" (imagename=\"\" shows it)"});
        name.assign("");
    } else {
        name.assign(nameText);
    }
    map.reset();
    const char* file = node.attributeValue("file");
    if (file == nullptr) {
        problems.push_back({WorldProblemKind::MissingAttribute, {}, "missing \"file\"; nothing is drawn"});
        return;
    }
    DepthResult loaded = files != nullptr ? files->load(file) : loadDepthMap(file);
    if (!loaded) {
        problems.push_back({WorldProblemKind::CannotReadImageFile, {},
                            "cannot read " + quoted(file) + ": " + loaded.detail + "; nothing is drawn"});
    }
    // Read, but probably not as meant (a palette that is not a grey ramp).
    for (const std::string& warning : loaded.warnings) {
        problems.push_back({WorldProblemKind::ImageFileWarning, {}, quoted(file) + ": " + warning});
    }
    map = std::move(loaded.map);
}

const char* SceneImage::typeName() const { return "scene"; }

void SceneImage::placedRect(Rect& out, std::int32_t x, std::int32_t y) const {
    out = Rect{x, y, map ? map->area.w : 0, map ? map->area.h : 0};
}

void SceneImage::load(const XmlNode& node, WorldProblems& problems) {
    BaseImage::load(node, problems);
    keepsDepths = false;
    if (const char* slope = node.attributeValue("slope"); slope != nullptr) {
        keepsDepths = textEquals(slope, "none");
        if (!keepsDepths) {
            problems.push_back({WorldProblemKind::UnknownSlope, {},
                                "\"slope\" " + quoted(slope) + " is not \"none\"; the ground slope applies"});
        }
    }
    if (!map) return;
    // Depth tops out at 31; a value above it (a text "!" gives 235) is taken
    // as the nearest depth rather than left to wrap through the slope.
    constexpr std::uint8_t kNearest = 31;
    std::uint8_t* pixels = map->pixels;
    for (std::size_t i = 0, n = pixelCount(*map); i < n; ++i) pixels[i] = std::min(pixels[i], kNearest);
    if (!keepsDepths) removeDepthSlope(*map);
}

const char* SpriteImage::typeName() const { return "sprite"; }

void SpriteImage::placedRect(Rect& out, std::int32_t x, std::int32_t y) const {
    out = Rect{saturate32(std::int64_t{x} - sizeX / 2), saturate32(std::int64_t{y} - sizeY), sizeX,
               sizeY};
}

void SpriteImage::load(const XmlNode& node, WorldProblems& problems) {
    BaseImage::load(node, problems);
    const DepthMap* sheet = map.get();
    const std::int32_t width = sheet ? sheet->area.w : 0;
    const std::int32_t height = sheet ? sheet->area.h : 0;
    const bool acrossFits = readFrameSide(node, "sizex", "width", sheet, width, sizeX, problems);
    const bool downFits = readFrameSide(node, "sizey", "height", sheet, height, sizeY, problems);
    // Frame counts of 0 mark a sheet that cannot be cut; the remainder right
    // of and below the last whole frame is never shown.
    const bool usable = sheet != nullptr && acrossFits && downFits;
    framesAcross = usable ? width / sizeX : 0;
    framesDown = usable ? height / sizeY : 0;
}

void SpriteImage::frameRect(Rect& out, std::int32_t column, std::int32_t row) const {
    out = Rect{column * sizeX, row * sizeY, sizeX, sizeY};
}

}  // namespace tolvane
