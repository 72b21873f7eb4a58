#!/bin/bash
# The main job: builds the runtime, starts the XR service in the foreground on a temporary
# folder, shows it answering on its pipe and an OpenXR application reaching it through the
# Khronos loader, then stops it.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

scripts/install-deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVIK_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"

work=$(mktemp -d /tmp/norvik-run.XXXXXX)
export NORVIK_PIPE_DIR=$work/pipe NORVIK_REGISTRY_DIR=$work/registry LOCALAPPDATA=$work/local PROGRAMDATA=$work/programdata
service_pid=
cleanup() {
    if [[ -n $service_pid ]] && kill -0 "$service_pid" 2>/dev/null; then
        kill -TERM "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The service finds its drivers below "RuntimeDir": the staged tree.
mkdir -p "$NORVIK_REGISTRY_DIR/HKEY_LOCAL_MACHINE/SOFTWARE/Norvik/Norvik XR Service"
printf 'sz:%s' "$repo/build/stage" > "$NORVIK_REGISTRY_DIR/HKEY_LOCAL_MACHINE/SOFTWARE/Norvik/Norvik XR Service/RuntimeDir"

echo "== Starting the XR service on $work =="
# Its debugger output (pipe-thread messages) goes to service.err, the driver's prints to service.out.
"build/stage/Norvik XR Service" >"$work/service.out" 2>"$work/service.err" &
service_pid=$!

probe=build/apps/qor_probe/qor_probe
echo "== Asking it over $NORVIK_PIPE_DIR/NorvikOpenXRPipe =="
# 0 liveness, 10000 API layers, 12345 unlisted, 100005 reserved extension function.
$probe --wait 10000 0 10000:00000000 12345 100005

echo "== An OpenXR application through the Khronos loader =="
# The runtime library forwards each call to the service, which answers from the basic
# driver's display system.
XR_RUNTIME_JSON=$repo/build/stage/norvik_openxr_runtime.json build/apps/xr_hello/xr_hello 2>>"$work/service.err"

echo "== A second copy exits at once =="
"build/stage/Norvik XR Service" && echo "second copy exited with code 0"
$probe 0

echo "== Stopping it =="
kill -TERM "$service_pid"
wait "$service_pid" && echo "service exited with code 0"
service_pid=
echo "== Its log =="
cat "$LOCALAPPDATA"/Norvik/OpenXR/Logs/server_*.log
