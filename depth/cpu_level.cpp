#include "depth/cpu_level.hpp"

#include "depth/cpu_level_testing.hpp"

namespace tolvane {

namespace {

CpuLevel probeCpuLevel() {
#if defined(__x86_64__) && defined(__GNUC__)
    // These also ask whether the operating system saves the wide registers.
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi")) {
        return CpuLevel::Avx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return CpuLevel::Avx2;
    }
    if (__builtin_cpu_supports("ssse3")) {
        return CpuLevel::Ssse3;
    }
#endif
    return CpuLevel::Scalar;
}

CpuLevel probedCpuLevel() {
    static const CpuLevel level = probeCpuLevel();
    return level;
}

// What detectedCpuLevel answers: the probe's result unless a test forced another.
CpuLevel& currentLevel() {
    static CpuLevel level = probedCpuLevel();
    return level;
}

}  // namespace

CpuLevel detectedCpuLevel() { return currentLevel(); }

const char* cpuLevelName(CpuLevel level) {
    switch (level) {
        case CpuLevel::Scalar:
            return "Scalar";
        case CpuLevel::Ssse3:
            return "Ssse3";
        case CpuLevel::Avx2:
            return "Avx2";
        case CpuLevel::Avx512:
            return "Avx512";
    }
    return "Unknown";
}

ForcedCpuLevel::ForcedCpuLevel(CpuLevel level) {
    if (level > probedCpuLevel()) {
        return;
    }
    active_ = true;
    previous_ = currentLevel();
    currentLevel() = level;
}

ForcedCpuLevel::~ForcedCpuLevel() {
    if (active_) {
        currentLevel() = previous_;
    }
}

}  // namespace tolvane
