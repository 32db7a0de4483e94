# Shared by the scripts in this folder: package installation and the CMake build.
# shellcheck shell=bash

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Installs whichever of the named Debian packages are missing.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# What configuring and building the whole project needs: the program, its
# tests, its tools and its benchmarks.
build_packages=(g++ cmake ninja-build clang-format clang-tidy libglut-dev libgl-dev libgl1-mesa-dri
    libgtest-dev libbenchmark-dev libx11-dev libxtst-dev)

# What the end-to-end tests add: a virtual X server, a window manager for the
# tests that need one, and the tools that the capture script uses.
e2e_packages=(xvfb xfonts-base openbox xdotool imagemagick x11-utils valgrind)

# What building and checking the Debian package needs.
package_packages=(dpkg-dev lintian desktop-file-utils man-db)

# The second compiler that scripts/test builds with.
clang_packages=(clang)

# Configures and builds into the folder $1, with any further CMake options.
build_korvel() {
    local dir=$1
    shift
    cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir"
}
