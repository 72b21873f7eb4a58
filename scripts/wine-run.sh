#!/bin/bash
# CTest's emulator for the Windows cross build: runs a Windows program under Wine.
#   wine-run.sh PROGRAM.exe [ARGS...]    runs it and returns its exit code
#   wine-run.sh --init                   only makes sure the prefix is initialised
# The prefix is $NORVIK_WINEPREFIX (scripts/test-windows.sh sets a fresh one per run), else
# ./wineprefix. It is initialised once; parallel tests wait for that under a lock.
set -euo pipefail

export WINEPREFIX=${NORVIK_WINEPREFIX:-$PWD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install prompts during initialisation.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

marker=$WINEPREFIX/.norvik-initialised
if [[ ! -f $marker ]]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [[ ! -f $marker ]]; then
        wineboot -i >/dev/null 2>&1
        # Without an X server top-level windows need Wine's null display driver; under
        # xvfb-run (DISPLAY set) the X11 driver stays.
        if [[ -z ${DISPLAY:-} ]]; then
            wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        fi
        touch "$marker"
    fi
    flock -u 9
    exec 9>&-
fi

if [[ ${1:-} == --init ]]; then
    exit 0
fi
exec wine "$@"
