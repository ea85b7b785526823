# Cross-building for 64-bit ARM on Debian: the compilers of
# crossbuild-essential-arm64, the ":arm64" development packages installed
# beside the native ones (multiarch), and qemu-user to run what was built.
#
#   cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake
#
# scripts/cross-test.sh installs all of it and runs the unit tests.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Multiarch libraries live in the host's own /usr, so there is no sysroot:
# only the arm64 library folders are searched, and pkg-config reads the
# arm64 .pc files instead of the native ones.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")

# Test programs, and gtest_discover_tests listing them, run under qemu.
# -L makes it take the dynamic loader of the cross C library; the library
# path makes that loader take the C library of the same build too, rather
# than the multiarch libc6:arm64 that the :arm64 packages pull in: a
# loader and a C library of two builds disagree, and a forked child hangs.
# GoogleTest's death tests fork rather than start the test program anew,
# which the host cannot do with a foreign binary.
set(CMAKE_CROSSCOMPILING_EMULATOR
    qemu-aarch64 -L /usr/aarch64-linux-gnu -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib
    -E GTEST_DEATH_TEST_STYLE=fast)
