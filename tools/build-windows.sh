#!/usr/bin/env bash
# Builds the Windows programs and their tests with mingw-w64 into build-windows/ (the .exe files
# directly in that folder, statically linked), the installer modbus-bridge-setup.exe and the
# portable zip beside them, and sets up the wine environment that runs them.
# Installs the Debian packages it needs; builds jsoncpp and GoogleTest once into
# build-windows/deps/prefix and reuses them while they are there.
#
#   tools/build-windows.sh                            then: ctest --test-dir build-windows
#
# jsoncpp's source: $MODBUS_BRIDGE_JSONCPP_TARBALL if set, else ../shared/third-party/ beside the
# repository (or beside its main checkout, for a git worktree), else Debian's source archive.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${MODBUS_BRIDGE_WINDOWS_BUILD:-$root/build-windows}
jobs=$(nproc)

jsoncpp_version=1.9.5
# The release archive, and Debian's copy of it: compressed anew, the same tar inside.
jsoncpp_release_sha256=422d872d629333ab56772866ab67abd139a85f69143cd29a90613ac95325b7c8
jsoncpp_debian_sha256=f409856e5920c18d0c2fb85276e24ee607d2a09b5e7d5f0a371368903c275da2
jsoncpp_tar_sha256=b1bbc00d64d99522ba24265c144820c4c7e86439421715d103338117f063aac4
jsoncpp_debian_file=pool/main/libj/libjsoncpp/libjsoncpp_${jsoncpp_version}.orig.tar.gz

packages=(g++-mingw-w64-x86-64-posix wine64 wine nsis cmake ninja-build curl ca-certificates socat
    googletest xvfb bsdutils)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    echo "build-windows: installing ${missing[*]}"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
fi

deps=$build/deps
prefix=$deps/prefix
toolchain=$root/cmake/mingw-w64-x86_64.cmake

# Prints the path of a jsoncpp archive whose content is the release's, fetching Debian's copy
# when no local one is there.
jsoncpp_archive() {
    local candidates=()
    if [ -n "${MODBUS_BRIDGE_JSONCPP_TARBALL:-}" ]; then
        candidates+=("$MODBUS_BRIDGE_JSONCPP_TARBALL")
    fi
    candidates+=("$root/../shared/third-party/jsoncpp-$jsoncpp_version.tar.gz")
    local common
    if common=$(git -C "$root" rev-parse --path-format=absolute --git-common-dir 2>/dev/null); then
        candidates+=("$(dirname "$common")/../shared/third-party/jsoncpp-$jsoncpp_version.tar.gz")
    fi
    for archive in "${candidates[@]}"; do
        if [ -f "$archive" ]; then
            echo "$archive"
            return
        fi
    done
    local fetched=$deps/download/libjsoncpp_$jsoncpp_version.orig.tar.gz
    mkdir -p "$deps/download"
    if [ ! -f "$fetched" ]; then
        # From the Debian archive this machine's apt uses for jsoncpp's Linux package.
        local archive_url
        archive_url=$(apt-cache policy libjsoncpp-dev | awk '$2 ~ /^https?:\/\// {print $2; exit}')
        if [ -z "$archive_url" ]; then
            echo "build-windows: no jsoncpp archive here and no Debian archive known to apt" >&2
            return 1
        fi
        echo "build-windows: no local jsoncpp archive; fetching Debian's source" >&2
        curl -fsS --retry 3 -o "$fetched.part" "$archive_url/$jsoncpp_debian_file"
        mv "$fetched.part" "$fetched"
    fi
    echo "$fetched"
}

# Either archive is accepted only with its own checksum and the release's tar inside it.
check_jsoncpp_archive() {
    local archive=$1 sum
    sum=$(sha256sum "$archive" | cut -d' ' -f1)
    if [ "$sum" != "$jsoncpp_release_sha256" ] && [ "$sum" != "$jsoncpp_debian_sha256" ]; then
        echo "build-windows: $archive has sha256 $sum, not jsoncpp $jsoncpp_version's" >&2
        return 1
    fi
    sum=$(gzip -dc "$archive" | sha256sum | cut -d' ' -f1)
    if [ "$sum" != "$jsoncpp_tar_sha256" ]; then
        echo "build-windows: $archive does not hold jsoncpp $jsoncpp_version's tar" >&2
        return 1
    fi
}

build_dependencies() {
    local archive
    archive=$(jsoncpp_archive)
    check_jsoncpp_archive "$archive"
    echo "build-windows: building jsoncpp $jsoncpp_version ($archive) and GoogleTest into $prefix"
    rm -rf "$deps/src" "$deps/work" "$prefix"
    mkdir -p "$deps/src"
    tar -xzf "$archive" -C "$deps/src"

    local log=$deps/build.log
    : >"$log"
    if ! {
        cmake -S "$deps/src/jsoncpp-$jsoncpp_version" -B "$deps/work/jsoncpp" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
            -DBUILD_OBJECT_LIBS=OFF -DJSONCPP_WITH_TESTS=OFF \
            -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF \
            -DJSONCPP_WITH_CMAKE_PACKAGE=ON &&
            cmake --build "$deps/work/jsoncpp" -j "$jobs" --target install &&
            cmake -S /usr/src/googletest -B "$deps/work/googletest" -G Ninja \
                -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
                -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF -DBUILD_SHARED_LIBS=OFF &&
            cmake --build "$deps/work/googletest" -j "$jobs" --target install
    } >>"$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "build-windows: building the dependencies failed (whole output: $log)" >&2
        return 1
    fi

    rm -rf "$deps/src" "$deps/work"
    touch "$prefix/.complete"
}

mkdir -p "$build"
if [ ! -f "$prefix/.complete" ]; then
    build_dependencies
fi

# Test discovery runs the test programs under wine while building.
source "$root/tools/wine-env.sh" "$build"
wine_env_start

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMODBUS_BRIDGE_WERROR=ON -DMODBUS_BRIDGE_BENCH=OFF \
    -DMODBUS_BRIDGE_REQUIRE_TEST_DEPS=ON -DMODBUS_BRIDGE_WINDOWS_PREFIX="$prefix" \
    -DMODBUS_BRIDGE_WINE="$root/tools/wine-run.sh;$build"
cmake --build "$build" -j "$jobs"
