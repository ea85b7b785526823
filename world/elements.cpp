#include "world/elements.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "markup/text.hpp"
#include "markup/xml.hpp"
#include "world/images.hpp"

namespace tolvane {

namespace {

// The blits take 32-bit destinations and clip by adding the source size, so
// anything wholly outside the target is turned away here, in 64 bits, with
// the same test the clipping makes. What passes has x in [-w, target width)
// and y in [-h, target height), where those sums cannot overflow.
bool mayTouch(const DepthMap& target, std::int64_t x, std::int64_t y, std::int32_t w,
              std::int32_t h) {
    return x + w >= 0 && y + h >= 0 && x < target.area.w && y < target.area.h;
}

std::int32_t readPosition(const XmlNode& node, const char* attribute, WorldProblems& problems) {
    const char* text = node.attributeValue(attribute);
    if (text == nullptr) {
        problems.push_back({WorldProblemKind::MissingAttribute, {}, "missing " + quoted(attribute) + "; using 0"});
        return 0;
    }
    return parseInt(text);
}

// Looks up "imagename"; null (with the reason in `problems`) when there is
// nothing to bind.
BaseImage* findNamedImage(const World* world, const XmlNode& node, WorldProblems& problems) {
    const char* name = node.attributeValue("imagename");
    if (name == nullptr) {
        problems.push_back({WorldProblemKind::MissingAttribute, {}, "missing \"imagename\"; nothing is drawn"});
        return nullptr;
    }
    BaseImage* image = world != nullptr ? world->findImage(name) : nullptr;
    if (image == nullptr) {
        problems.push_back({WorldProblemKind::NoSuchImage, {}, "no image named " + quoted(name) + "; nothing is drawn"});
    }
    return image;
}

}  // namespace

// ---- BaseElement

BaseElement::~BaseElement() = default;
const char* BaseElement::typeName() const { return "baseelementclass"; }
void BaseElement::draw(DepthMap&, std::int32_t, std::int32_t) const {}
void BaseElement::load(const XmlNode&, WorldProblems&) {}
void BaseElement::bounds(Rect&, std::int32_t, std::int32_t) const {}
void BaseElement::update(float) {}
void BaseElement::setElapsed(double) {}

// ---- SceneElement

SceneElement::~SceneElement() {
    if (image != nullptr) --image->useCount;
}

const char* SceneElement::typeName() const { return "scene"; }

void SceneElement::load(const XmlNode& node, WorldProblems& problems) {
    image = findNamedImage(world, node, problems);
    if (image != nullptr) ++image->useCount;
    x = readPosition(node, "x", problems);
    y = readPosition(node, "y", problems);
}

void SceneElement::draw(DepthMap& target, std::int32_t ox, std::int32_t oy) const {
    if (image == nullptr || !image->map) return;
    const DepthMap& source = *image->map;
    const std::int64_t dx = std::int64_t{ox} + x;
    const std::int64_t dy = std::int64_t{oy} + y;
    if (!mayTouch(target, dx, dy, source.area.w, source.area.h)) return;
    if (image->keepsDepths) {
        blitSceneFlat(source, source.area, target, static_cast<std::int32_t>(dx), static_cast<std::int32_t>(dy));
    } else {
        blitScene(source, source.area, target, static_cast<std::int32_t>(dx), static_cast<std::int32_t>(dy),
                  computeRowPhase(oy));
    }
}

void SceneElement::bounds(Rect& out, std::int32_t ox, std::int32_t oy) const {
    if (image != nullptr) {
        image->placedRect(out, saturate32(std::int64_t{ox} + x), saturate32(std::int64_t{oy} + y));
    }
}

// ---- AniElement

AniElement::~AniElement() {
    if (image != nullptr) --image->useCount;
}

const char* AniElement::typeName() const { return "ani"; }

void AniElement::load(const XmlNode& node, WorldProblems& problems) {
    BaseImage* named = findNamedImage(world, node, problems);
    image = dynamic_cast<SpriteImage*>(named);
    if (named != nullptr && image == nullptr) {
        problems.push_back({WorldProblemKind::NotASprite, {},
                            quoted(named->name.data()) + " is a " + named->typeName() +
                                " image, not a sprite; nothing is drawn"});
    }
    if (image != nullptr) ++image->useCount;
    x = readPosition(node, "x", problems);
    y = readPosition(node, "y", problems);

    const char* fpsText = node.attributeValue("fps");
    const char* startText = node.attributeValue("startframe");
    fps = static_cast<float>(parseFloat(fpsText != nullptr ? fpsText : ""));
    const double start = parseFloat(startText != nullptr ? startText : "");
    // Divided in double by the stored float, so that time x fps gives back
    // the start frame. Rounding the quotient to float may leave the product
    // a hair below it (0.1f x 10 is 1.0000000149, but -0.1f x 10 is below
    // -1), and the frame number is its floor: one float further on puts the
    // product at or above the start frame, which is the frame the author
    // wrote.
    time = static_cast<float>(start / static_cast<double>(fps));
    if (std::isfinite(time) && std::isfinite(fps) && fps != 0.0f &&
        static_cast<double>(time) * static_cast<double>(fps) < start) {
        time = std::nextafter(time, fps > 0.0f ? HUGE_VALF : -HUGE_VALF);
    }

    if (fpsText == nullptr) {
        problems.push_back({WorldProblemKind::MissingAttribute, {}, "missing \"fps\"; showing frame 0"});
    } else if (fps == 0.0f) {
        problems.push_back(
            {WorldProblemKind::ZeroFps, {}, "\"fps\" " + escapeForDisplay(fpsText) + " is zero; showing frame 0"});
    } else if (!std::isfinite(fps)) {
        problems.push_back({WorldProblemKind::FpsTooLarge, {},
                            "\"fps\" " + escapeForDisplay(fpsText) + " is too large; showing frame 0"});
    } else if (fps < 0.0f) {
        problems.push_back({WorldProblemKind::NegativeFps, {},
                            "\"fps\" " + escapeForDisplay(fpsText) + " is negative; the frames run backwards"});
    }
    if (startText == nullptr) {
        problems.push_back({WorldProblemKind::MissingAttribute, {}, "missing \"startframe\"; starting at frame 0"});
    } else if (start < 0.0) {
        problems.push_back({WorldProblemKind::NegativeStartFrame, {},
                            "\"startframe\" " + escapeForDisplay(startText) +
                                " is negative; counting back from the last frame"});
    }
    if (fps != 0.0f && std::isfinite(fps) &&
        !std::isfinite(static_cast<double>(time) * static_cast<double>(fps))) {
        problems.push_back({WorldProblemKind::NoFiniteFrame, {},
                            "\"startframe\" " + escapeForDisplay(startText != nullptr ? startText : "") +
                                " gives no finite frame number; showing frame 0"});
    }
}

void AniElement::update(float dt) { time += dt; }

void AniElement::setElapsed(double seconds) { elapsed = seconds; }

void AniElement::drawFrame(DepthMap& target, std::int64_t dx, std::int64_t dy, std::int32_t sheetRow,
                           std::int32_t cameraY) const {
    if (!mayTouch(target, dx, dy, image->sizeX, image->sizeY)) return;
    Rect source;
    image->frameRect(source, currentFrame(*this), sheetRow);
    blitSprite(*image->map, source, target, static_cast<std::int32_t>(dx),
               static_cast<std::int32_t>(dy), computeRowPhase(cameraY));
}

void AniElement::draw(DepthMap& target, std::int32_t ox, std::int32_t oy) const {
    if (image == nullptr || !image->hasFrames()) return;
    drawFrame(target, std::int64_t{ox} + x - image->sizeX / 2, std::int64_t{oy} + y - image->sizeY, 0, oy);
}

void AniElement::bounds(Rect& out, std::int32_t ox, std::int32_t oy) const {
    if (image != nullptr) {
        image->placedRect(out, saturate32(std::int64_t{ox} + x), saturate32(std::int64_t{oy} + y));
    }
}

// ---- CharElement

const char* CharElement::typeName() const { return "char"; }

void CharElement::load(const XmlNode& node, WorldProblems& problems) {
    AniElement::load(node, problems);
    row = 0;
}

void CharElement::draw(DepthMap& target, std::int32_t ox, std::int32_t oy) const {
    if (image == nullptr || !image->hasFrames()) return;
    std::int32_t sheetRow = row % image->framesDown;
    if (sheetRow < 0) sheetRow += image->framesDown;
    drawFrame(target, std::int64_t{ox} - image->sizeX / 2, std::int64_t{oy} - image->sizeY, sheetRow, oy);
}

void CharElement::bounds(Rect& out, std::int32_t ox, std::int32_t oy) const {
    if (image != nullptr) image->placedRect(out, ox, oy);
}

// ---- currentFrame

std::int32_t currentFrame(const AniElement& element) {
    const SpriteImage* image = element.image;
    if (image == nullptr || image->framesAcross <= 0) return 0;
    const std::int32_t across = image->framesAcross;
    double count = (static_cast<double>(element.time) + element.elapsed) * static_cast<double>(element.fps);
    if (!std::isfinite(count)) return 0;
    // A render puts frame k at T + k/F; with a sprite rate equal to F the
    // product lands an ulp or two below k for some k (123/30 x 30), which
    // the floor would turn into a repeated column. Counts that close to a
    // whole number are that whole number.
    const double nearest = std::round(count);
    if (std::abs(count - nearest) <= 1e-12 * std::max(1.0, std::abs(count))) count = nearest;
    // Floor, not truncation: frame n is shown for the count in [n, n + 1) on
    // both sides of 0, so a backward animation shows frame 0 for one frame
    // period like every other frame, not for two.
    const double frame = std::floor(count);
    std::int32_t column;
    if (frame >= -2147483648.0 && frame < 2147483648.0) {
        column = static_cast<std::int32_t>(frame) % across;
    } else {
        // Beyond 32 bits the frame number is exact in double, and so is fmod.
        column = static_cast<std::int32_t>(std::fmod(frame, across));
    }
    return column < 0 ? column + across : column;
}

}  // namespace tolvane
