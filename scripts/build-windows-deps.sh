#!/bin/bash
# Builds the third-party libraries of the Windows cross build (GoogleTest and jsoncpp) as
# static MinGW-w64 libraries into a prefix:
#   scripts/build-windows-deps.sh [PREFIX]      (default: build-win-deps at the repository root)
# Afterwards configure with -DCMAKE_PREFIX_PATH=PREFIX -Djsoncpp_DIR=PREFIX/lib/cmake/jsoncpp.
# A library already installed in the prefix is not built again. jsoncpp's source comes from
# Debian through a private deb-src list, so the system's apt lists and caches stay untouched.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix=${1:-$repo/build-win-deps}
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
work=$prefix/work
toolchain=$repo/cmake/mingw-w64-x86_64-posix.cmake
jobs=$(nproc 2>/dev/null || echo 2)

mkdir -p "$work"

configure_and_install() {  # source-dir build-dir cmake-options...
    local source=$1 build=$2
    shift 2
    cmake -S "$source" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        "$@"
    cmake --build "$build" -j "$jobs"
    cmake --install "$build"
}

# --- GoogleTest, from the googletest package's sources -------------------------------------
if [[ -f $prefix/lib/cmake/GTest/GTestConfig.cmake ]]; then
    echo "GoogleTest: already in $prefix"
else
    [[ -f /usr/src/googletest/CMakeLists.txt ]] || {
        echo "GoogleTest sources missing: apt-get install googletest" >&2
        exit 1
    }
    # googletest uses Win32 threads on MinGW whatever gtest_disable_pthreads says; the
    # option stays at its default so nothing else changes.
    configure_and_install /usr/src/googletest "$work/googletest-build" \
        -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF
fi

# --- jsoncpp, from Debian's source package ---------------------------------------------------
if [[ -f $prefix/lib/cmake/jsoncpp/jsoncppConfig.cmake ]]; then
    echo "jsoncpp: already in $prefix"
else
    command -v dpkg-source >/dev/null || {
        echo "apt-get source needs dpkg-dev: apt-get install dpkg-dev" >&2
        exit 1
    }
    apt_dir=$work/apt
    mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
    # The deb-src twin of the system's deb822 sources (same URIs, suites and keys).
    system_sources=/etc/apt/sources.list.d/debian.sources
    if [[ -f $system_sources ]]; then
        sed -e 's/^Types:.*/Types: deb-src/' "$system_sources" >"$apt_dir/sources.list.d/debian-src.sources"
    else
        cat >"$apt_dir/sources.list.d/debian-src.sources" <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    fi
    apt_options=(
        -o "Dir::Etc::SourceList=/dev/null"
        -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
        -o "Dir::State::Lists=$apt_dir/lists"
        -o "Dir::Cache=$apt_dir/cache"
        -o "Dir::Cache::pkgcache="
        -o "Dir::Cache::srcpkgcache="
        # The private folders belong to whoever runs this; apt's download user may not reach them.
        -o "APT::Sandbox::User=$(id -un)"
    )
    apt-get "${apt_options[@]}" update
    rm -rf "$work/jsoncpp-src"
    mkdir -p "$work/jsoncpp-src"
    (cd "$work/jsoncpp-src" && apt-get "${apt_options[@]}" source libjsoncpp)
    source_dir=$(find "$work/jsoncpp-src" -mindepth 1 -maxdepth 1 -type d -name 'libjsoncpp-*' | head -n 1)
    [[ -n $source_dir && -f $source_dir/CMakeLists.txt ]] || {
        echo "apt-get source libjsoncpp gave no source tree" >&2
        exit 1
    }
    configure_and_install "$source_dir" "$work/jsoncpp-build" \
        -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF \
        -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
        -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DJSONCPP_WITH_CMAKE_PACKAGE=ON
fi

echo "Windows dependencies in $prefix"
