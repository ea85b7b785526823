#pragma once
// The two run-length depth formats: ".schm" (runs of up to 8, with a run
// count) and ".scmhm" (runs of up to 32 in groups of five bytes, no count).
// Headers are little-endian; values above 31 are clamped to 31 on writing.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "depth/depth_map.hpp"

// Byte-level encoders and decoders: the encoders append to `out` what
// follows the 8-byte header; the decoders fill `map` from what follows it
// and return false on malformed run data.
void encodeSchmRuns(const DepthMap& map, std::vector<std::uint8_t>& out);
bool decodeSchmRuns(DepthMap& map, std::span<const std::uint8_t> block);
void encodeScmhmGroups(const DepthMap& map, std::vector<std::uint8_t>& out);
bool decodeScmhmGroups(DepthMap& map, std::span<const std::uint8_t> block);

// Whole files as bytes.
std::vector<std::uint8_t> encodeSchm(const DepthMap& map);
std::vector<std::uint8_t> encodeScmhm(const DepthMap& map);
DepthMapPtr decodeSchm(std::span<const std::uint8_t> bytes, std::string* why = nullptr);
DepthMapPtr decodeScmhm(std::span<const std::uint8_t> bytes, std::string* why = nullptr);

bool saveSchm(const DepthMap& map, const char* fileName);
bool saveScmhm(const DepthMap& map, const char* fileName);
DepthMapPtr loadSchm(const char* fileName, std::string* why = nullptr);
DepthMapPtr loadScmhm(const char* fileName, std::string* why = nullptr);
