#pragma once
// The echo-free stereogram transform, in place over a depth map: an opt-in
// alternative to transformStereogram that is symmetric about each point and
// respects what each eye can see, so near shapes leave no echoes beside them.
//
// Per row (W the width, P and Q the pattern's width and height, d(x) the
// depth at column x):
// - the point at x has separation s = P - d(x); its left image is
//   l = x - floor(s / 2), its right image r = l + s;
// - it is hidden when a nearer surface crosses one eye's sight line, which
//   rises two depth levels per pixel: for some t >= 1 with d(x) + 2t <= 31,
//   d(x - t) or d(x + t) (within the row) is at least d(x) + 2t;
// - every visible point whose images both lie in the row requires pixel l to
//   equal pixel r; these requirements are merged into chains so that they all
//   hold at once, each pixel linked to at most one pixel on its right;
// - the row is filled right to left: a linked pixel copies the pixel it links
//   to, any other pixel takes the pattern row's (y mod Q) byte at x mod P.
// A depth map that is all 0 gives exactly transformStereogram's picture.
//
// Depths above P - 1 are taken as P - 1 throughout, as transformStereogram
// does: every separation is then at least 1, so a right image always lies
// right of its left one, and no depth reads or writes outside the row or the
// pattern. Depths from 32 up are never hidden, and hide others exactly as 31
// does (the sight line leaves the depth range before it could tell them
// apart).

#include <memory>

#include "depth/depth_map.hpp"

namespace tolvane {

// The transform's per-row working memory, kept by its owner from call to
// call: it is only made anew when the width or the pattern width changes,
// so a steady frame size allocates nothing.
class EchoFreeScratch {
public:
    struct Rows;
    EchoFreeScratch();
    ~EchoFreeScratch();
    EchoFreeScratch(EchoFreeScratch&&) noexcept;
    EchoFreeScratch& operator=(EchoFreeScratch&&) noexcept;
    std::unique_ptr<Rows> rows;
};

// Same contract as transformStereogram: returns false, leaving `map`
// untouched, when the pattern is empty or wider than the map (or when the
// per-row scratch cannot be had).
bool transformStereogramEchoFree(DepthMap& map, const DepthMap& pattern, EchoFreeScratch& scratch);
// The same with working memory of its own, for a single call.
bool transformStereogramEchoFree(DepthMap& map, const DepthMap& pattern);

}  // namespace tolvane
