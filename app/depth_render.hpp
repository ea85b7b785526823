#pragma once
// The stereogram of a depth picture at its own size: `--render OUT --depth
// FILE`. No world, no ground slope, no camera: the picture's levels are
// divided into L depths (--depth-levels, 32 by default) and transformed as
// they are, with random dots (as the demo draws them) or a texture picture
// as the pattern. A numbered name pattern makes a sequence, one picture a
// frame.

#include <cstdint>
#include <iosfwd>
#include <string>

#include "app/render.hpp"

namespace tolvane {

// Pattern widths a depth picture takes: from 16 up to the picture's width.
inline constexpr std::int32_t kMinDepthPatternWidth = 16;
inline constexpr std::int32_t kMaxDepthPatternWidth = std::int32_t{1} << 28;

// Rows of the random-dot pattern, as in the demo.
inline constexpr std::int32_t kDepthPatternRows = 60;

// Frame `index`'s name from `pattern`, after ffmpeg's image2 convention:
// "%d" is the index, "%0Nd" the index in at least N digits with leading
// zeros (N from 1 to 20), "%%" a percent sign; a name without "%d" names
// every frame. False, with a one-line reason in `error`, for any other "%"
// (such as "%s", "%5d" or a "%" at the end) and for a second number.
bool depthFrameName(const std::string& pattern, int index, std::string& name, std::string& error);

// Renders `options.depthFile` (options as parseCommandLine left them,
// depthFile not empty). 0 when every file was written; 2 with one line
// naming the file or option on `err` when an input cannot be read, the
// pictures of a sequence differ in size, the options do not fit the picture
// (pattern wider than it, levels not below the pattern width) or a write
// fails. Everything that can be checked before the first file is written
// is: a failure then leaves no output behind.
int runDepthRenderer(const RenderOptions& options, std::ostream& err);

// Where the two guide marks go on a W x H picture with pattern width P: the
// centres (leftX, y) and (leftX + P, y) and the radius, the marks lying
// across the middle of the picture near its top. False when the picture is
// too small to hold them (they are then left out).
struct GuideMarks {
    std::int32_t leftX = 0;
    std::int32_t y = 0;
    std::int32_t radius = 0;
};
bool placeGuideMarks(std::int32_t width, std::int32_t height, std::int32_t patternWidth, GuideMarks& marks);

}  // namespace tolvane
