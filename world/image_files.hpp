#pragma once
// The depth files of one world build: each file is read once, however often
// the description names it.

#include <cstdint>
#include <map>
#include <utility>

#include "depth/depth_status.hpp"

namespace tolvane {

class ImageFiles {
public:
    // Counts one use of `fileName` to come; every counted use must end in
    // load or skip, so that a file's map is freed after its last use.
    void expect(const char* fileName);
    // As peekDepthFileSize, answered from the map when the file was read
    // already.
    bool peekSize(const char* fileName, std::int64_t& width, std::int64_t& height);
    // As loadDepthMap. A file named again gets a copy of the map read the
    // first time (scene images change theirs), and the last use gets that
    // map itself. Files that are not regular (a pipe) are read every time.
    DepthResult load(const char* fileName);
    // A counted use that loads nothing.
    void skip(const char* fileName);

private:
    struct Entry {
        std::int32_t usesLeft = 0;
        bool read = false;
        DepthResult result;
    };
    using Identity = std::pair<std::uint64_t, std::uint64_t>;  // device, inode
    using Entries = std::map<Identity, Entry>;
    Entries::iterator find(const char* fileName);
    // Counts a use of `at`, freeing it after the last.
    void used(Entries::iterator at);

    Entries entries_;
};

}  // namespace tolvane
