#!/bin/bash
# The main job: builds the runtime, and on a temporary folder starts the window service and the
# XR service with the lenticular driver (the lens runtime on its library path, the API layer
# installed for the loader), then runs the sample application xr_demo through the Khronos
# loader for a few hundred frames. The window service starts the weaving window, which weaves
# the composed frames for the simulated viewer's eyes and sends those eyes back into the
# application's views. Without a display the weaving window writes what it presents as PNG
# files (with the side-by-side input and what each eye sees, now and then). Then everything is
# stopped and nothing is left running. On the basic driver's path (BASIC=1) the gamepad is held
# through its gamepad file (A pressed, left stick pushed), so xr_demo's input line shows it;
# HOLD_PAD=0 leaves the file out and the first real game controller counts.
#   FRAMES=N bash scripts/run.sh     (default 300)
#   BASIC=1 bash scripts/run.sh      the basic driver's desktop window instead of the panel
#   NORVIK_EYES="xL,yL,zL;xR,yR,zR"  fixed eyes (mm) instead of the simulated viewer
#   DISPLAY_LOG=1                    the display side's logs; KEEP_WORK=1 keeps the temporary folder
#   CAPTURES=0                       no PNG captures without a display (the frame rate without their cost)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

scripts/install-deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVIK_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"

work=$(mktemp -d /tmp/norvik-run.XXXXXX)
export NORVIK_PIPE_DIR=$work/pipe NORVIK_REGISTRY_DIR=$work/registry LOCALAPPDATA=$work/local PROGRAMDATA=$work/programdata
export XR_RUNTIME_JSON=$repo/build/stage/norvik_openxr_runtime.json
stage=$repo/build/stage
lenticular=$([[ ${BASIC:-0} == 1 ]] && echo 0 || echo 1)
service_pid=
window_service_pid=
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
stop() {
    if [[ -n $1 ]] && kill -0 "$1" 2>/dev/null; then
        kill -TERM "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}
cleanup() {
    stop "$service_pid"
    stop "$window_service_pid"
    # A weaving window the window service could not end goes with the run.
    pkill -TERM -f "^$stage/Plexa " 2>/dev/null || true
    [[ ${KEEP_WORK:-0} == 1 ]] && echo "work folder kept: $work" || rm -rf "$work"
}
trap cleanup EXIT

# Without a display the basic driver's window is offscreen; it then writes each frame it
# presents as a PNG file, kept after the run.
captures=
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && ${CAPTURES:-1} != 0 ]]; then
    captures=$repo/build/captures
    rm -rf "$captures"
    mkdir -p "$captures"
    export NORVIK_CAPTURE_DIR=$captures
fi

# The service finds its drivers below "RuntimeDir": the staged tree.
mkdir -p "$NORVIK_REGISTRY_DIR/HKEY_LOCAL_MACHINE/SOFTWARE/Norvik/Norvik XR Service"
printf 'sz:%s' "$repo/build/stage" > "$NORVIK_REGISTRY_DIR/HKEY_LOCAL_MACHINE/SOFTWARE/Norvik/Norvik XR Service/RuntimeDir"

if ((lenticular)); then
    if [[ ${DISPLAY_LOG:-0} == 1 ]]; then
        # The display side's log files, under $PROGRAMDATA/OEM/Plexaview/Log.
        mkdir -p "$NORVIK_REGISTRY_DIR/HKEY_LOCAL_MACHINE/SOFTWARE/OEM/Plexaview/Log"
        printf 'dword:1' > "$NORVIK_REGISTRY_DIR/HKEY_LOCAL_MACHINE/SOFTWARE/OEM/Plexaview/Log/Plexaview"
    fi
    echo "== Starting the window service (PlexaSvc) on $work =="
    # It serves the display side's pipe and starts the weaving window when frames arrive.
    NORVIK_SERVICE=1 "$stage/PlexaSvc" >"$work/window-service.out" 2>&1 &
    window_service_pid=$!
    # The API layer gives each view the frustum from the eye to the panel's edges.
    export XDG_DATA_HOME=$work/xdg-data XDG_CONFIG_HOME=$work/xdg-config
    scripts/install-api-layer.sh "$stage" >/dev/null
    # The lenticular driver is used where the display vendor's runtime is installed.
    export LD_LIBRARY_PATH=$stage/LensRuntime${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
fi

echo "== Starting the XR service on $work =="
# The driver's prints go to service.out; service.err gets its debugger output (pipe-thread
# messages) only when NORVIK_DEBUG_OUTPUT=1 is exported.
"build/stage/Norvik XR Service" >"$work/service.out" 2>"$work/service.err" &
service_pid=$!
build/apps/qor_probe/qor_probe --wait 10000 0 >/dev/null
echo "The service answers on $NORVIK_PIPE_DIR/NorvikOpenXRPipe."
read -r start_total start_anon start_shared < <(memory_of "$service_pid")

if ((!lenticular)) && [[ ${HOLD_PAD:-1} != 0 ]]; then
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
if ((lenticular)); then
    # The weaving window ends on the driver's close message, once its captures are written;
    # the window service would end it at once as it stops.
    deadline=$((SECONDS + 30))
    while pgrep -f "^$stage/Plexa " >/dev/null && ((SECONDS < deadline)); do sleep 0.2; done
    grep -h "^Plexa: .* frames presented" "$work/window-service.out" || true
    kill -TERM "$window_service_pid"
    wait "$window_service_pid" && echo "window service exited with code 0"
    window_service_pid=
fi
echo "== Its log =="
cat "$LOCALAPPDATA"/Norvik/OpenXR/Logs/server_*.log
if [[ -n $captures ]]; then
    if ((lenticular)); then
        count=$(find "$captures" -name 'Plexaview_[0-9]*.png' | wc -l)
        last=$(find "$captures" -name 'Plexaview_[0-9]*.png' | sort | tail -n 1)
        echo "== No display: the weaving window's $count woven frames are PNG files in $captures (last: $last);" \
             "Plexaview_input_* are side-by-side inputs, Plexaview_left_*/right_* what each eye sees =="
    else
        count=$(find "$captures" -name '*.png' | wc -l)
        last=$(find "$captures" -name '*.png' | sort | tail -n 1)
        echo "== No display: the window's $count frames are PNG files in $captures (last: $last) =="
    fi
fi
echo "XR service memory: $start_total MB at start-up, $after_total MB after the session" \
     "(anonymous $after_anon MB, shared $after_shared MB)"
