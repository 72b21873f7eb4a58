#!/bin/bash
# Installs the staged API layer "XR_APILAYER_NORVIK_stereoview" as an implicit OpenXR layer for
# the current user: its manifest and library are linked into
# ${XDG_DATA_HOME:-~/.local/share}/openxr/1/api_layers/implicit.d, where the Khronos loader
# looks (and the XR service's layer list with it). The library is linked beside the manifest
# because the loader resolves the manifest's relative library path from the link's folder.
#   scripts/install-api-layer.sh [STAGE]            (default: build/stage)
#   scripts/install-api-layer.sh --remove
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
folder=${XDG_DATA_HOME:-$HOME/.local/share}/openxr/1/api_layers/implicit.d
files=(XrApiLayer_stereoview.json libXrApiLayer_stereoview.so)

if [[ ${1:-} == --remove ]]; then
    for file in "${files[@]}"; do rm -f "$folder/$file"; done
    echo "Removed the stereoview layer from $folder."
    exit 0
fi

stage=$(cd "${1:-$repo/build/stage}" && pwd)
for file in "${files[@]}"; do
    [[ -f $stage/$file ]] || { echo "$stage/$file is missing: build the tree first." >&2; exit 1; }
done
mkdir -p "$folder"
for file in "${files[@]}"; do ln -sfn "$stage/$file" "$folder/$file"; done
echo "Installed the stereoview layer in $folder."
