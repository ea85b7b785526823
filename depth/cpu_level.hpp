#pragma once

// The vector kernels are built where x86-64 intrinsics and GCC's target
// attributes are there; elsewhere only the scalar level exists.
#if defined(__x86_64__) && defined(__GNUC__)
#define TOLVANE_X86_KERNELS 1
// What each level lets a kernel use, as GCC target attributes: every kernel
// of a level is compiled for exactly this, and runs only when
// detectedCpuLevel() answers that level or a wider one.
#define TOLVANE_TARGET_SSSE3 __attribute__((target("ssse3")))
#define TOLVANE_TARGET_AVX2 __attribute__((target("avx2")))
#define TOLVANE_TARGET_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512vbmi")))
#endif

namespace tolvane {

// The widest vector instructions the kernels may use on this processor.
// Every kernel (the blits, both stereogram transforms, the random pattern)
// is chosen by it and by nothing else, so one probe answers for the whole
// engine and a test that forces a level runs that level everywhere. Every
// level draws the same bytes; the wider ones only draw them sooner.

enum class CpuLevel {
    Scalar,  // one pixel at a time, on any processor
    Ssse3,   // 16 bytes at a time (the blits need only SSE2 for it)
    Avx2,    // 32 bytes at a time
    Avx512,  // 64 bytes at a time: AVX-512 F, BW, VL and VBMI
};

// The widest level this processor and its operating system run, probed once.
CpuLevel detectedCpuLevel();

}  // namespace tolvane
