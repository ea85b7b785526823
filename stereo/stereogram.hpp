#pragma once
// The random-dot stereogram transform, in place over a depth map.
//
// Each row is rewritten right to left: the rightmost P pixels take bytes of
// the pattern row (y mod Q), every other pixel copies the pixel P - d to its
// right, so the dots repeat with a period that shrinks where the depth is
// nearer. P and Q are the pattern's width and height.

#include <cstdint>
#include <optional>
#include <vector>

#include "depth/depth_map.hpp"
#include "stereo/echo_free.hpp"
#include "stereo/random.hpp"

namespace tolvane {

// What the renderer needs to know of the render options, handed down by the
// presenter each frame so that this module reads no one else's state.
struct PatternSettings {
    std::int32_t width = 128;      // P: also the separation at depth 0
    std::int32_t height = 60;      // Q
    bool renewEveryFrame = true;   // new dots on every call
    bool crossEyed = false;        // depth d drawn as 31 - d, for viewers who cross their eyes
    bool echoFree = false;         // transformStereogramEchoFree in place of transformStereogram
};

// What the renderer keeps from frame to frame: the pattern and the
// transforms' working memory, kept so that a steady frame allocates nothing.
// Each engine owns one; two never share.
struct StereogramState {
    DepthMapPtr pattern;
    std::vector<std::uint8_t> doubledRows;
    EchoFreeScratch echoFree;
    // The generator as it stood before the last renewal that
    // skipStereogram passed over: the pattern's bytes are made from it
    // when they are next needed.
    std::optional<RandomGenerator> skippedRenewal;
};

// Creates the pattern on first use (settings.width x settings.height) and
// makes it anew, as on first use, whenever the settings ask for another
// size; renews it from `random` while settings.renewEveryFrame is set, then
// transforms `map` in place (depths mirrored first when settings.crossEyed
// is set) with the plain or, when settings.echoFree is set, the echo-free
// transform.
// When the pattern cannot be created or cannot serve the map (see
// transformStereogram), the map is left untouched.
void renderStereogram(StereogramState& state, RandomGenerator& random, DepthMap& map,
                      const PatternSettings& settings);
// renderStereogram's first half: the pattern made or renewed as it would
// make or renew it, for a caller that transforms a picture a band of rows
// at a time (a band starting on a multiple of the pattern height draws
// what the whole picture would). Null when the pattern cannot be made.
const DepthMap* preparePattern(StereogramState& state, RandomGenerator& random, const PatternSettings& settings);

// What renderStereogram does to the pattern and the generator, without a
// picture: a renewal only moves the generator on (skipRandom). The next
// render or skip leaves both exactly as the same renders would have.
void skipStereogram(StereogramState& state, RandomGenerator& random, const PatternSettings& settings);
// Every pixel byte, in storage order, becomes the next random byte
// (stereo/random.hpp).
void fillRandom(RandomGenerator& random, DepthMap& map);
// Destroys the pattern, if there is one; the next render makes a new one.
void releasePattern(StereogramState& state);

// The transform alone, with a given pattern. Returns false, leaving `map`
// untouched, when the pattern cannot serve the map: pattern empty or wider
// than the map. Depths above P - 1 are taken as P - 1, the nearest depth
// whose source pixel still lies to the right, so that no input reads outside
// the row or the pattern.
bool transformStereogram(DepthMap& map, const DepthMap& pattern);
// The same, keeping its working memory in `doubledRows` for the next call.
bool transformStereogram(DepthMap& map, const DepthMap& pattern, std::vector<std::uint8_t>& doubledRows);

}  // namespace tolvane
