#!/usr/bin/env bash
# Installs, through apt-get, whatever the build, the tests and the editor need
# and this machine lacks. Runs as root or through sudo; does nothing when all
# is present.
set -euo pipefail

packages=(
    cmake ninja-build g++ make python3 git
    googletest libbenchmark-dev
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    wine wine64 fonts-wine fonts-liberation2 xvfb xauth x11-apps imagemagick
    clang libclang-rt-14-dev
    wixl msitools zip unzip dpkg-dev file x11-utils
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
else
    echo "Missing packages (${missing[*]}) and neither root nor sudo to install them." >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
