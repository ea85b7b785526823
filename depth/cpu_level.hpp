#pragma once

// The vector kernels are built where x86-64 intrinsics and GCC's target
// attributes are there; elsewhere only the scalar level exists.
#if defined(__x86_64__) && defined(__GNUC__)
#define TOLVANE_X86_KERNELS 1
#endif

namespace tolvane {

// The widest vector instructions the kernels may use on this processor. The
// blits and the stereogram transform both choose their kernels by it, so one
// probe answers for the whole engine. Every level draws the same bytes; the
// wider ones only draw them sooner.

enum class CpuLevel {
    Scalar,  // one pixel at a time, on any processor
    Ssse3,   // 16 bytes at a time (the blits need only SSE2 for it)
    Avx2,    // 32 bytes at a time
    Avx512,  // 64 bytes at a time: AVX-512 F, BW and VBMI
};

// The widest level this processor and its operating system run, probed once.
CpuLevel detectedCpuLevel();

}  // namespace tolvane
