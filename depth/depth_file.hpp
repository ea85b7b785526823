#pragma once
// Loading a depth file by the extension written in its name, and the
// one-shot conversion mode of the command line.

#include <string>

#include "depth/depth_map.hpp"

// The four extensions, matched anywhere in the name, case-sensitively.
// Null when none matches or the reader fails; `why`, when given, then
// receives a short reason.
DepthMapPtr loadDepthMap(const char* fileName, std::string* why = nullptr);

enum class ConvertResult {
    Converted,       // every output written
    UnknownExtension,// nothing done
    Failed,          // `why` says what; no output was created or damaged
};

// Converts the named file beside itself. Unlike the classic converter it
// returns instead of ending the process, so the entry decides the status.
ConvertResult convertDepthFile(const char* fileName, std::string* why = nullptr);
