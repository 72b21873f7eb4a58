#!/bin/bash
# The main job: builds the runtime, starts the XR service with the basic driver on a temporary
# folder, and runs the sample application xr_demo through the Khronos loader against it for a
# few hundred frames, shown in the basic driver's window (written as PNG files when there is
# no display); then stops the service and leaves nothing running. The gamepad is held through
# the basic driver's gamepad file (A pressed, left stick pushed), so xr_demo's input line shows
# it; HOLD_PAD=0 leaves the file out and the first real game controller counts.
#   FRAMES=N bash scripts/run.sh     (default 300)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

scripts/install-deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVIK_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"

work=$(mktemp -d /tmp/norvik-run.XXXXXX)
export NORVIK_PIPE_DIR=$work/pipe NORVIK_REGISTRY_DIR=$work/registry LOCALAPPDATA=$work/local PROGRAMDATA=$work/programdata
export XR_RUNTIME_JSON=$repo/build/stage/norvik_openxr_runtime.json
service_pid=
# The service's resident memory in MB, from its /proc status: total (VmRSS), anonymous, shared.
memory_of() {
    if [[ ! -r /proc/$1/status ]]; then
        echo "? ? ?"
        return
    fi
    awk '/^(VmRSS|RssAnon|RssShmem):/ { kb[$1] = $2 }
         END { printf "%.1f %.1f %.1f\n", kb["VmRSS:"] / 1024, kb["RssAnon:"] / 1024, kb["RssShmem:"] / 1024 }' \
        "/proc/$1/status"
}
cleanup() {
    if [[ -n $service_pid ]] && kill -0 "$service_pid" 2>/dev/null; then
        kill -TERM "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# Without a display the basic driver's window is offscreen; it then writes each frame it
# presents as a PNG file, kept after the run.
captures=
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    captures=$repo/build/captures
    rm -rf "$captures"
    mkdir -p "$captures"
    export NORVIK_CAPTURE_DIR=$captures
fi

# The service finds its drivers below "RuntimeDir": the staged tree.
mkdir -p "$NORVIK_REGISTRY_DIR/HKEY_LOCAL_MACHINE/SOFTWARE/Norvik/Norvik XR Service"
printf 'sz:%s' "$repo/build/stage" > "$NORVIK_REGISTRY_DIR/HKEY_LOCAL_MACHINE/SOFTWARE/Norvik/Norvik XR Service/RuntimeDir"

echo "== Starting the XR service on $work =="
# The driver's prints go to service.out; service.err gets its debugger output (pipe-thread
# messages) only when NORVIK_DEBUG_OUTPUT=1 is exported.
"build/stage/Norvik XR Service" >"$work/service.out" 2>"$work/service.err" &
service_pid=$!
build/apps/qor_probe/qor_probe --wait 10000 0 >/dev/null
echo "The service answers on $NORVIK_PIPE_DIR/NorvikOpenXRPipe."
read -r start_total start_anon start_shared < <(memory_of "$service_pid")

if [[ ${HOLD_PAD:-1} != 0 ]]; then
    # Raw stick units: after the left stick's dead zone xr_demo reads (0.50, -1.00).
    printf 'a 1\nthumbstick_left_x 20308\nthumbstick_left_y -32767\n' >"$NORVIK_PIPE_DIR/gamepad"
    echo "The gamepad is held through $NORVIK_PIPE_DIR/gamepad: A pressed, left stick right and down."
fi

echo "== xr_demo through the Khronos loader and QorRuntime =="
# The runtime library's load messages go to the debugger output, which reaches standard error
# only when NORVIK_DEBUG_OUTPUT=1 is exported.
build/stage/xr_demo --frames "${FRAMES:-300}" 2>>"$work/xr_demo.err"

# The service logs the session's end once it has let go of what it held for it; buffers that
# another of its threads frees a little later are waited for until the figure is within 10 MB
# of the start-up one, or for at most 5 s.
deadline=$((SECONDS + 10))
until grep -qs "Destroy Session" "$LOCALAPPDATA"/Norvik/OpenXR/Logs/server_*.log; do
    if ((SECONDS >= deadline)); then
        echo "The service has not logged the end of the session within 10 s." >&2
        break
    fi
    sleep 0.1
done
deadline=$((SECONDS + 5))
while :; do
    read -r after_total after_anon after_shared < <(memory_of "$service_pid")
    [[ $after_total != "?" ]] && ((SECONDS < deadline)) &&
        ! awk -v now="$after_total" -v start="$start_total" 'BEGIN { exit !(now <= start + 10) }' || break
    sleep 0.1
done

echo "== Stopping the service =="
kill -TERM "$service_pid"
wait "$service_pid" && echo "service exited with code 0"
service_pid=
echo "== Its log =="
cat "$LOCALAPPDATA"/Norvik/OpenXR/Logs/server_*.log
if [[ -n $captures ]]; then
    count=$(find "$captures" -name '*.png' | wc -l)
    last=$(find "$captures" -name '*.png' | sort | tail -n 1)
    echo "== No display: the window's $count frames are PNG files in $captures (last: $last) =="
fi
echo "XR service memory: $start_total MB at start-up, $after_total MB after the session" \
     "(anonymous $after_anon MB, shared $after_shared MB)"
