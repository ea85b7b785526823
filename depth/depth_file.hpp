#pragma once
// Loading a depth file by the extension written in its name, and the
// one-shot conversion mode of the command line.

#include <cstdint>

#include "depth/depth_map.hpp"
#include "depth/depth_status.hpp"

namespace tolvane {

class PngRowListener;

// The five extensions ".bmp", ".png", ".schm", ".scmhm", ".txt" are matched
// anywhere in the file's own name (after its last "/"; folder names never
// count), case-sensitively, tried in that order. UnknownExtension when none
// matches, else the reader's result, warnings included. Running out of
// memory is a status (OutOfMemory) like any other.
DepthResult loadDepthMap(const char* fileName);

// The width and height a regular file's header gives, read from its first
// bytes only, so a caller can refuse a map before its pixels are allocated.
// False when they cannot be known so cheaply (a pipe, whose bytes would be
// lost; a header the reader will refuse): the reader then has the last word.
// A depth picture in any of the five forms with its range divided into
// `levels` depths (2 to 256): a PNG's grey level v with b bits a sample
// gives floor(v x levels / 2^b), a depth d of the own forms (0 to 31, more
// counting as 31) floor(d x levels / 32). With 32 levels this is exactly
// loadDepthMap. A `listener` follows the rows as they are decoded (a PNG)
// or hears of them all at once (the own forms).
DepthResult loadDepthLevels(const char* fileName, int levels, PngRowListener* listener = nullptr);

bool peekDepthFileSize(const char* fileName, std::int64_t& width, std::int64_t& height);

// Converts the named file beside itself: ".scmhm" and ".schm" to ".bmp",
// ".bmp" and ".png" to ".schm" and ".scmhm", ".txt" to ".schm" (tried in
// the order ".scmhm", ".schm", ".bmp", ".png", ".txt",
// in the file's own name as for loading). The output is in the input's
// folder, named as the input with the first occurrence of the matched
// extension removed from the file's own name and the new one appended:
// "v1.bmp-exports/hill.bmp" gives "v1.bmp-exports/hill.schm". Every output
// is checked and written in full before any is put in place, so on failure
// no file has changed. Ok when every output was written; UnknownExtension
// when nothing was done; any other status on failure. The detail is one
// line naming the file (escaped for printing) and the reason ("hill.schm:
// file is shorter than its header"). The warnings are those of the reader.
DepthOutcome convertDepthFile(const char* fileName);

}  // namespace tolvane
