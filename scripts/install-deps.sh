#!/bin/bash
# Installs the Debian packages a task needs, skipping those already present.
#   install-deps.sh GROUP...    groups: build, windows, fuzz
set -euo pipefail

declare -A groups=(
    [build]="cmake ninja-build g++ pkg-config libopenxr-dev libopenxr-loader1 libjsoncpp-dev libssl-dev
             libsdl2-dev libsdl2-ttf-dev fonts-dejavu-core libinih-dev libpng-dev googletest libgtest-dev
             libbenchmark-dev"
    [windows]="g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth dpkg-dev"
    [fuzz]="clang libclang-rt-14-dev"
)

wanted=()
for group in "$@"; do
    [[ -n ${groups[$group]:-} ]] || { echo "install-deps: unknown group '$group'" >&2; exit 2; }
    for package in ${groups[$group]}; do
        status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
        [[ $status == "install ok installed" ]] || wanted+=("$package")
    done
done
[[ ${#wanted[@]} -eq 0 ]] && exit 0

echo "Installing: ${wanted[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${wanted[@]}" >/dev/null
