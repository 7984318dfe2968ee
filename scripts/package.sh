#!/usr/bin/env bash
# Builds what a user installs, into build/packages/:
#   Tarnwick-<version>-x64.msi               Windows installer (per user, or ALLUSERS=1)
#   Tarnwick-<version>-win64-portable.zip    the two programs, the user guide, README.md, LICENSE.txt
#   vtxt_<version>_amd64.deb                 vtxt with its man page, for Debian and Ubuntu
# The programs come from the windows and linux presets (only the two targets
# are built); the staged copies are stripped of their debugging information.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root="$PWD"

jobs="${TARNWICK_JOBS:-$(nproc)}"
version="$(sed -n 's/^project(Tarnwick VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' CMakeLists.txt)"
if [ -z "$version" ]; then
    echo "package.sh: no version in the project() line of CMakeLists.txt" >&2
    exit 1
fi

packages="$root/build/packages"
stage="$root/build/package-stage"
windows_stage="$stage/Tarnwick-$version"
linux_stage="$stage/vtxt-linux"
msi="$packages/Tarnwick-$version-x64.msi"
zip="$packages/Tarnwick-$version-win64-portable.zip"

echo "=== building tarnwick.exe and vtxt.exe (windows preset)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target tarnwick vtxt
echo "=== building vtxt (linux preset)"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs" --target vtxt

rm -rf "$stage" "$packages"
mkdir -p "$windows_stage" "$linux_stage" "$packages"

x86_64-w64-mingw32-strip -o "$windows_stage/tarnwick.exe" build/windows/src/tarnwick.exe
x86_64-w64-mingw32-strip -o "$windows_stage/vtxt.exe" build/windows/src/cli/vtxt.exe
# Beside the program, where the About box looks for it.
cp docs/user-guide.html "$windows_stage/user-guide.html"
cp README.md "$windows_stage/README.md"
cp LICENSE "$windows_stage/LICENSE.txt"

echo "=== $(basename "$msi")"
bash packaging/windows/build-msi.sh "$windows_stage" "$version" "$msi"

echo "=== $(basename "$zip")"
# One folder inside, so that unpacking never scatters files; -X leaves out
# the owner and time extras that mean nothing on Windows.
(cd "$stage" && zip -q -X -r "$zip" "Tarnwick-$version")

echo "=== the Debian package of vtxt"
strip -o "$linux_stage/vtxt" build/linux/src/cli/vtxt
if [ -f docs/vtxt.1 ]; then
    gzip -9 -n -c docs/vtxt.1 >"$linux_stage/vtxt.1.gz"
else
    echo "package.sh: docs/vtxt.1 is not there yet; the package has no man page" >&2
fi
cmake -S packaging/linux -B "$stage/deb-build" \
    -DTARNWICK_VERSION="$version" -DVTXT_STAGE_DIR="$linux_stage" >/dev/null
cpack --config "$stage/deb-build/CPackConfig.cmake" -B "$stage/deb-out" >/dev/null
mv "$stage/deb-out/vtxt_${version}_amd64.deb" "$packages/"

echo "=== build/packages:"
(cd "$packages" && ls -l)
