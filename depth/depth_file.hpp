#pragma once
// Loading a depth file by the extension written in its name, and the
// one-shot conversion mode of the command line.

#include <string>

#include "depth/depth_map.hpp"

// The four extensions ".bmp", ".schm", ".scmhm", ".txt" are matched anywhere
// in the name, case-sensitively, tried in that order. Null when none
// matches or the reader fails; `why`, when given, then receives a short
// reason without the file name ("file is shorter than its header").
DepthMapPtr loadDepthMap(const char* fileName, std::string* why = nullptr);

enum class ConvertResult {
    Converted,        // every output written
    UnknownExtension, // nothing done
    Failed,           // `why` says what; no output was created or damaged
};

// Converts the named file beside itself: ".scmhm" and ".schm" to ".bmp",
// ".bmp" to ".schm" and ".scmhm", ".txt" to ".schm" (tried in that order).
// The output name is the input name with the first occurrence of the matched
// extension removed and the new one appended. Every output is written in
// full before any is put in place, so on failure no file has changed.
// `why` receives a one-line message naming the file and the reason
// ("hill.schm: file is shorter than its header").
ConvertResult convertDepthFile(const char* fileName, std::string* why = nullptr);
