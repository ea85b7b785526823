#pragma once
// The placed things of the world: a whole scene image at a position, an
// animated sprite, and a sprite that stands at the camera offset.

#include <cstdint>

#include "depth/depth_map.hpp"
#include "world/world.hpp"

namespace tolvane {

class SpriteImage;

class BaseElement {
public:
    World* world = nullptr;  // set before load; images are looked up in it

    BaseElement() = default;
    BaseElement(const BaseElement&) = delete;
    BaseElement& operator=(const BaseElement&) = delete;
    virtual ~BaseElement();  // gives back the image use taken at load

    virtual const char* typeName() const;  // "baseelementclass"
    // (ox, oy) is the camera offset.
    virtual void draw(DepthMap& target, std::int32_t ox, std::int32_t oy) const;
    // Reads the attributes and binds the image. What cannot be shown as
    // written is added to `problems`, one each, its `element` left empty.
    virtual void load(const XmlNode& node, WorldProblems& problems);
    // Where draw would put the image, saturated to 32 bits; the base leaves
    // `out` alone.
    virtual void bounds(Rect& out, std::int32_t ox, std::int32_t oy) const;
    virtual void update(float dt);
    // Puts the element `seconds` after its start, counted afresh rather than
    // summed frame by frame, on top of whatever update has added.
    virtual void setElapsed(double seconds);
};

class SceneElement : public BaseElement {
public:
    BaseImage* image = nullptr;  // not owned; null when the name matched nothing
    std::int32_t x = 0;          // world position of the image's top-left corner
    std::int32_t y = 0;

    ~SceneElement() override;
    const char* typeName() const override;  // "scene"
    void draw(DepthMap& target, std::int32_t ox, std::int32_t oy) const override;
    void load(const XmlNode& node, WorldProblems& problems) override;
    void bounds(Rect& out, std::int32_t ox, std::int32_t oy) const override;
};

class AniElement : public BaseElement {
public:
    SpriteImage* image = nullptr;  // not owned; null unless a sprite image was named
    std::int32_t x = 0;            // world column of the sprite's bottom centre
    std::int32_t y = 0;            // world row just below the sprite's bottom row
    float fps = 0.0f;
    float time = 0.0f;             // seconds, counted so that time x fps is the frame number
    double elapsed = 0.0;          // seconds set by setElapsed, added to time in double precision

    ~AniElement() override;
    const char* typeName() const override;  // "ani"
    void draw(DepthMap& target, std::int32_t ox, std::int32_t oy) const override;
    void load(const XmlNode& node, WorldProblems& problems) override;
    void bounds(Rect& out, std::int32_t ox, std::int32_t oy) const override;
    void update(float dt) override;
    void setElapsed(double seconds) override;

protected:
    // Blits frame (currentFrame, sheetRow) with its top-left corner at the
    // 64-bit destination, after rejecting what lies wholly outside `target`;
    // the depth bands follow the camera's y, `cameraY`.
    void drawFrame(DepthMap& target, std::int64_t x, std::int64_t y, std::int32_t sheetRow,
                   std::int32_t cameraY) const;
};

// Animates one row of its sheet and stands with its feet at the camera offset
// itself: "x" and "y" are read but take no part in drawing.
class CharElement : public AniElement {
public:
    std::int32_t row = 0;

    const char* typeName() const override;  // "char"
    void draw(DepthMap& target, std::int32_t ox, std::int32_t oy) const override;
    void load(const XmlNode& node, WorldProblems& problems) override;
    void bounds(Rect& out, std::int32_t ox, std::int32_t oy) const override;
};

// The sheet column shown now: the floor of (time + elapsed) x fps (in double precision),
// taken modulo framesAcross into 0 .. framesAcross - 1, also for a negative
// count or one beyond 32 bits, so every column, 0 included, shows for one
// frame period whichever way the animation runs; 0 when time x fps is not
// finite or the element has no frames.
std::int32_t currentFrame(const AniElement& element);

}  // namespace tolvane
