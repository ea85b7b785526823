#pragma once
// The image catalogue's entries: a named depth map, drawn whole ("scene") or
// cut into equal animation frames ("sprite").

#include <cstdint>

#include "depth/depth_map.hpp"
#include "markup/text.hpp"
#include "world/world.hpp"

namespace tolvane {

class ImageFiles;

class BaseImage {
public:
    TextBuffer name;
    DepthMapPtr map;  // null when the file could not be read
    std::int32_t useCount = 0;
    ImageFiles* files = nullptr;  // set for load by a world build: its files are read through it
    // A scene image with slope="none": its depths are shown as stored,
    // wherever it is drawn, with no ground slope taken out or put back.
    bool keepsDepths = false;

    BaseImage() = default;
    BaseImage(const BaseImage&) = delete;
    BaseImage& operator=(const BaseImage&) = delete;
    virtual ~BaseImage();

    virtual const char* typeName() const;  // "baseimagetype"
    // The rectangle the image covers when placed at (x, y); the base leaves
    // `out` alone.
    virtual void placedRect(Rect& out, std::int32_t x, std::int32_t y) const;
    // Takes "name" and loads "file" by its extension. What cannot be used
    // is added to `problems`, one each, its `element` left empty.
    virtual void load(const XmlNode& node, WorldProblems& problems);
};

class SceneImage : public BaseImage {
public:
    const char* typeName() const override;  // "scene"
    // (x, y) is the top-left corner.
    void placedRect(Rect& out, std::int32_t x, std::int32_t y) const override;
    // The file holds the depths shown unscrolled; the slope is taken out
    // here and put back by the scene blit, unless slope="none" asks for the
    // depths as they are.
    void load(const XmlNode& node, WorldProblems& problems) override;
};

class SpriteImage : public BaseImage {
public:
    std::int32_t sizeX = 0;         // one frame's width ("sizex")
    std::int32_t sizeY = 0;         // one frame's height ("sizey")
    std::int32_t framesAcross = 0;  // animation frames per sheet row
    std::int32_t framesDown = 0;    // alternative sequences

    const char* typeName() const override;  // "sprite"
    // (x, y) is the bottom centre.
    void placedRect(Rect& out, std::int32_t x, std::int32_t y) const override;
    // Frame counts stay 0 unless the map is there and a frame of a positive
    // size fits on it, so a sprite with frames always has a map.
    void load(const XmlNode& node, WorldProblems& problems) override;
    // Frame (column, row) of the sheet; inside the map whenever column and
    // row are below framesAcross and framesDown.
    void frameRect(Rect& out, std::int32_t column, std::int32_t row) const;

    bool hasFrames() const { return framesAcross > 0 && framesDown > 0; }
};

}  // namespace tolvane
