#pragma once
// The two run-length depth formats: ".schm" (runs of up to 8, with a run
// count) and ".scmhm" (runs of up to 32 in groups of five bytes, no count).
// Headers are little-endian; values above 31 are clamped to 31 on writing,
// and runs are measured on the clamped values.
//
// Readers refuse anything that is not a complete, consistent file: a short
// header (BadHeader), a negative size or one above kMaxDepthFilePixels
// (BadSize), run data that cannot describe the whole map, runs past its end,
// or (".schm") runs that leave it short (BadData). They never hand back a
// partly filled map.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "depth/depth_map.hpp"
#include "depth/file_io.hpp"

namespace tolvane {

// Byte-level encoders and decoders: the encoders append to `out` what
// follows the 8-byte header (".schm": the run count, then the runs); the
// decoders fill all of `map` from what follows it and fail on malformed run
// data; the pixels then hold no meaningful map.
void encodeSchmRuns(const DepthMap& map, std::vector<std::uint8_t>& out);
DepthOutcome decodeSchmRuns(DepthMap& map, std::span<const std::uint8_t> block);
void encodeScmhmGroups(const DepthMap& map, std::vector<std::uint8_t>& out);
DepthOutcome decodeScmhmGroups(DepthMap& map, std::span<const std::uint8_t> block);

// Whole files as bytes.
std::vector<std::uint8_t> encodeSchm(const DepthMap& map);
std::vector<std::uint8_t> encodeScmhm(const DepthMap& map);
DepthResult decodeSchm(std::span<const std::uint8_t> bytes);
DepthResult decodeScmhm(std::span<const std::uint8_t> bytes);
// Width and height from the first bytes of either format (at least 8), for
// budgets checked before a whole file is read.
DepthResult peekCompressedSize(std::span<const std::uint8_t> header, std::int64_t& width,
                               std::int64_t& height);

// Files. The writers replace the target only after a complete write (see
// depth/file_io.hpp).
DepthOutcome saveSchm(const DepthMap& map, const char* fileName);
// Write the whole file into `file`, opened but not yet finished, a chunk at
// a time: nothing the size of the file is held in memory.
DepthOutcome writeSchm(const DepthMap& map, StagedFile& file);
DepthOutcome writeScmhm(const DepthMap& map, StagedFile& file);
DepthOutcome saveScmhm(const DepthMap& map, const char* fileName);
DepthResult loadSchm(const char* fileName);
DepthResult loadScmhm(const char* fileName);

}  // namespace tolvane
