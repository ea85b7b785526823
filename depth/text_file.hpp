#pragma once
// The plain text depth grid (".txt"): a header of two integers, width then
// height, whose line's rest is skipped, then one line per row, a character
// per pixel. A line is read at most width + 4 characters at a time, so a
// longer line spills into the next row. CR LF ends a line like LF.
//
// Sound where the file is not: pixels past the end of a short line, and rows
// for which the file has no line, read as depth 0. A header that does not
// start with two integers (BadHeader), or gives a negative size or one above
// kMaxDepthFilePixels (BadSize), is refused. Pixels read from characters
// outside the table (space, digits, "A" to "U") are kept as the table's last
// row says, with one warning that counts them and places the first.

#include <cstdint>
#include <span>
#include <string>

#include "depth/depth_map.hpp"
#include "depth/depth_status.hpp"

namespace tolvane {

// Space gives 0, '1'..'9' give 1..9, '0' gives 10, any other byte c gives
// (c - 54) modulo 256, so 'A'..'U' give 11..31. Nothing is clamped.
std::uint8_t depthFromChar(char c);

DepthResult loadTextDepthMap(const char* fileName);
// The real work, on the file's bytes.
DepthResult decodeTextDepthMap(std::span<const std::uint8_t> bytes);
// Width and height from the first bytes of a file, checked as the reader
// checks them; BadHeader also when `header`, not being the whole file, ends
// before both are surely complete.
DepthResult peekTextSize(std::span<const std::uint8_t> header, bool wholeFile, std::int64_t& width,
                         std::int64_t& height);

}  // namespace tolvane
