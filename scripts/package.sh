#!/usr/bin/env bash
# Builds the Debian package dist/tolvane_VERSION_ARCH.deb with CPack and
# checks it with lintian, which must find no errors.
#
#   scripts/package.sh
#
# The build folder is build-package: installed to /usr, the program in
# /usr/games as Debian wants for section games, with Debian's hardening
# and optimisation flags (dpkg-buildflags, all hardening on), without tests
# and benchmarks. CPack takes the dependencies from dpkg-shlibdeps and
# strips the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-package"
dist="$root/dist"

"$root/scripts/setup.sh" --package

cd "$root"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_BINDIR=games \
  -DTOLVANE_BUILD_TESTS=OFF -DTOLVANE_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build" -j"$(nproc)"

rm -rf "$build/cpack"
(cd "$build" && cpack -G DEB -B "$build/cpack" >"$build/cpack.log") || {
  cat "$build/cpack.log" >&2
  echo "package.sh: cpack failed" >&2
  exit 1
}
made=("$build"/cpack/tolvane_*.deb)
if [ ${#made[@]} -ne 1 ] || [ ! -f "${made[0]}" ]; then
  echo "package.sh: cpack made no single package: ${made[*]}" >&2
  exit 1
fi
mkdir -p "$dist"
deb="$dist/$(basename "${made[0]}")"
mv "${made[0]}" "$deb"

echo "Built $deb"
dpkg-deb --field "$deb" Package Version Architecture Section Depends Installed-Size
echo "lintian:"
# Errors fail the build; warnings and notes are shown.
lintian --fail-on error --display-info --tag-display-limit 0 "$deb"
echo "lintian: no errors"
