#pragma once
// The headless renderer: frames of a world written as pictures, without a
// window and without SDL video, and the pictures key K saves in the demo.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/command_line.hpp"
#include "depth/depth_map.hpp"
#include "depth/depth_status.hpp"
#include "depth/png_file.hpp"
#include "display/display.hpp"

namespace tolvane {

// The file frame `index` of the sequence goes to: OUT itself when the
// files are not `numbered`, else OUT's stem, "-" and the index in at least
// four digits, then its extension ("out.png" gives "out-0000.png",
// "out-0001.png", ...).
std::string renderFileName(const std::string& output, int index, bool numbered);

// Renders as the options ask: frames options.firstFrame to
// options.firstFrame + options.frames - 1 of the sequence, options.jobs at
// a time (0: one per core), each job on an engine of its own that passes
// over the frames before its first. The files are the same, byte for byte,
// whatever the jobs and wherever the sequence is split. 0 when every file
// was written; 2 after one line naming the file and the reason (a failed
// write) on `err`.
int runRenderer(const RenderOptions& options, std::ostream& err);

// The palette `display` holds now, as the picture encoders take it.
RgbPalette currentPalette(const DisplayState& display);

// Writes `image` with `palette` in `format` to `fileName` through the safe
// writer: when it fails nothing is left behind and an existing file is
// untouched.
DepthOutcome savePicture(const DepthMap& image, const RgbPalette& palette, PictureFormat format,
                         const char* fileName);
// The same, encoding into `buffer`, which keeps its capacity for the next.
DepthOutcome savePicture(const DepthMap& image, const RgbPalette& palette, PictureFormat format,
                         const char* fileName, std::vector<std::uint8_t>& buffer);

// Saves `image` as PNG under `name`, "stereogram-NNNN.png" in the working
// folder with the first number from 0001 whose name is free, never
// replacing a file: the complete picture takes the name in one step, so no
// empty file ever holds it. On failure `name` is the name tried, or empty
// when every number is taken.
DepthOutcome saveNumberedPicture(const DepthMap& image, const RgbPalette& palette, std::string& name);

}  // namespace tolvane
