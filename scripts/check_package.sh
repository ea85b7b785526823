#!/usr/bin/env bash
# Installs the package that scripts/package.sh built, checks the installed
# program and purges it again, leaving nothing behind. As root (or with
# sudo): it runs apt-get.
#
#   scripts/check_package.sh [dist/tolvane_VERSION_ARCH.deb]
#
# Checks: the files land where the package says; `tolvane --version` gives
# the project's version; a --render of the installed sample world equals
# docs/demo-stereogram.png byte for byte; the demo started in a folder
# without a world names the installed one; the manual page and the menu
# entry are valid; after the purge no file of the package remains.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

deb=${1:-}
if [ -z "$deb" ]; then
  debs=("$root"/dist/tolvane_*_"$(dpkg --print-architecture)".deb)
  deb=${debs[-1]}
fi
[ -f "$deb" ] || { echo "check_package.sh: no package $deb; scripts/package.sh builds it" >&2; exit 2; }
deb=$(realpath "$deb")
version=$(dpkg-deb --field "$deb" Version)

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-package.XXXXXX")
installed=0
cleanup() {
  if [ "$installed" -eq 1 ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq tolvane >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check_package.sh: $*" >&2; exit 1; }

echo "Installing $deb"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$deb" >"$work/install.log" 2>&1 || {
  cat "$work/install.log" >&2
  fail "apt-get install failed"
}
installed=1
dpkg-query -L tolvane | sort >"$work/files"
echo "Files of the package:"
while read -r path; do [ -d "$path" ] || echo "  $path"; done <"$work/files"

# /usr/games/tolvane, as Debian places games
program=$(grep -E '/(bin|games)/tolvane$' "$work/files" | head -n 1)
[ -x "$program" ] || fail "the package holds no program"
echo "program: $program"
got=$("$program" --version)
[ "$got" = "Tolvane $version" ] || fail "--version says \"$got\", the package is $version"
echo "tolvane --version: $got"

(cd "$work" && "$program" --render stereo.png --world /usr/share/tolvane/world.xml --seed 1 --time 1.05)
cmp "$work/stereo.png" "$root/docs/demo-stereogram.png" ||
  fail "the installed world's picture differs from docs/demo-stereogram.png"
echo "tolvane --render of /usr/share/tolvane/world.xml equals docs/demo-stereogram.png"

mkdir "$work/empty"
(cd "$work/empty" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy TOLVANE_EXIT_AFTER_FRAMES=2 \
  "$program" >/dev/null 2>"$work/demo.err") || fail "the demo without a world failed: $(cat "$work/demo.err")"
grep -q "the sample world is /usr/share/tolvane/world.xml" "$work/demo.err" ||
  fail "the demo without a world does not name the sample world: $(cat "$work/demo.err")"
echo "without a world: $(head -n 1 "$work/demo.err")"

man_warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l /usr/share/man/man6/tolvane.6.gz 2>&1 >/dev/null)
[ -z "$man_warnings" ] || fail "the manual page has warnings: $man_warnings"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate /usr/share/applications/tolvane.desktop || fail "the menu entry is not valid"
fi

echo "Purging"
DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq tolvane >"$work/purge.log" 2>&1 || {
  cat "$work/purge.log" >&2
  fail "apt-get purge failed"
}
installed=0
status=$(dpkg-query -W -f='${db:Status-Abbrev}' tolvane 2>/dev/null || true)
case "$status" in
  "" | "un "*) ;;
  *) fail "dpkg still knows tolvane after the purge: $status" ;;
esac
left=0
while read -r path; do
  # Shared folders such as /usr/share stay; every file and every folder of
  # the package's own must be gone.
  if [ -e "$path" ] && { [ ! -d "$path" ] || [[ "$path" == */tolvane || "$path" == */tolvane/* ]]; }; then
    echo "left behind: $path" >&2
    left=$((left + 1))
  fi
done <"$work/files"
[ "$left" -eq 0 ] || fail "$left paths of the package remain after the purge"
echo "check_package.sh: installed, checked and purged; nothing left behind"
