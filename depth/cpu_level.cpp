#include "depth/cpu_level.hpp"

#include <atomic>

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

// The two process-wide facts about the processor, read by render jobs on
// every thread: the probe's answer, kept once asked (every thread that
// races to ask finds the same), and the level a test forced, if any.
constexpr int kNotYet = -1;
constinit std::atomic<int> probed{kNotYet};
constinit std::atomic<int> forced{kNotYet};

CpuLevel probedCpuLevel() {
    int level = probed.load(std::memory_order_relaxed);
    if (level == kNotYet) {
        level = static_cast<int>(probeCpuLevel());
        probed.store(level, std::memory_order_relaxed);
    }
    return static_cast<CpuLevel>(level);
}

}  // namespace

CpuLevel detectedCpuLevel() {
    const int level = forced.load(std::memory_order_relaxed);
    return level == kNotYet ? probedCpuLevel() : static_cast<CpuLevel>(level);
}

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
    previous_ = forced.exchange(static_cast<int>(level));
}

ForcedCpuLevel::~ForcedCpuLevel() {
    if (active_) {
        forced.store(previous_);
    }
}

}  // namespace tolvane
