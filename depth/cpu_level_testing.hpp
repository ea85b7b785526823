#pragma once
// For tests and benchmarks only: make the kernels of a chosen level run in
// place of the detected ones, so that the levels can be compared with each
// other and with a plain reference.

#include "depth/cpu_level.hpp"

namespace tolvane {

inline constexpr CpuLevel kCpuLevels[] = {CpuLevel::Scalar, CpuLevel::Ssse3, CpuLevel::Avx2, CpuLevel::Avx512};

// "Scalar", "Ssse3", "Avx2" or "Avx512": fit for a test or benchmark name.
const char* cpuLevelName(CpuLevel level);

// While one lives, detectedCpuLevel answers `level`. When this processor
// cannot run `level`, active() is false and nothing changes. Not for nesting
// out of order: each one restores the level it found.
class ForcedCpuLevel {
public:
    explicit ForcedCpuLevel(CpuLevel level);
    ~ForcedCpuLevel();
    ForcedCpuLevel(const ForcedCpuLevel&) = delete;
    ForcedCpuLevel& operator=(const ForcedCpuLevel&) = delete;

    bool active() const { return active_; }

private:
    bool active_ = false;
    int previous_ = -1;  // the level forced before, or none
};

}  // namespace tolvane
