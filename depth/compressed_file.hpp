#pragma once
// The two run-length depth formats: ".schm" (runs of up to 8, with a run
// count) and ".scmhm" (runs of up to 32 in groups of five bytes, no count).
// Headers are little-endian; values above 31 are clamped to 31 on writing,
// and runs are measured on the clamped values.
//
// Readers refuse (null, with a reason) anything that is not a complete,
// consistent file: a short header, a negative size, a side above
// kMaxDepthFileSide, run data that cannot describe the whole map, runs past
// its end, or (".schm") runs that leave it short. They never hand back a
// partly filled map.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "depth/depth_map.hpp"
#include "depth/file_io.hpp"

// Byte-level encoders and decoders: the encoders append to `out` what
// follows the 8-byte header (".schm": the run count, then the runs); the
// decoders fill all of `map` from what follows it and return false, with a
// reason, on malformed run data; the pixels then hold no meaningful map.
void encodeSchmRuns(const DepthMap& map, std::vector<std::uint8_t>& out);
bool decodeSchmRuns(DepthMap& map, std::span<const std::uint8_t> block, std::string* why = nullptr);
void encodeScmhmGroups(const DepthMap& map, std::vector<std::uint8_t>& out);
bool decodeScmhmGroups(DepthMap& map, std::span<const std::uint8_t> block, std::string* why = nullptr);

// Whole files as bytes.
std::vector<std::uint8_t> encodeSchm(const DepthMap& map);
std::vector<std::uint8_t> encodeScmhm(const DepthMap& map);
DepthMapPtr decodeSchm(std::span<const std::uint8_t> bytes, std::string* why = nullptr);
DepthMapPtr decodeScmhm(std::span<const std::uint8_t> bytes, std::string* why = nullptr);

// Files. The writers replace the target only after a complete write (see
// depth/file_io.hpp) and return false when anything failed.
bool saveSchm(const DepthMap& map, const char* fileName, std::string* why = nullptr);
bool saveScmhm(const DepthMap& map, const char* fileName, std::string* why = nullptr);
DepthMapPtr loadSchm(const char* fileName, std::string* why = nullptr);
DepthMapPtr loadScmhm(const char* fileName, std::string* why = nullptr);
