#pragma once
// The plain text depth grid (".txt").

#include <cstdint>
#include <span>
#include <string>

#include "depth/depth_map.hpp"

std::uint8_t depthFromChar(char c);
DepthMapPtr loadTextDepthMap(const char* fileName, std::string* why = nullptr);
// The real work, on the file's bytes.
DepthMapPtr decodeTextDepthMap(std::span<const std::uint8_t> bytes, std::string* why = nullptr);
