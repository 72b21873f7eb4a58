#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for FUZZ_SECONDS
# (default 20) on a working copy of its seed corpus. Fails when a fuzzer finds a crash,
# a leak, a timeout or undefined behaviour; the input that did it is left in
# build-fuzz/fuzz-artifacts/TARGET/ for replay: build-fuzz/tests/fuzz/TARGET FILE
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-fuzz"
seconds="${FUZZ_SECONDS:-20}"
targets=(dispatch_fuzz wire_fuzz gamepad_report_fuzz winpipe_fuzz eyes_fuzz)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DNORVIK_FUZZ=ON -DNORVIK_BUILD_BENCH=OFF >/dev/null
ninja -C "$build" "${targets[@]}"

# UBSan findings abort instead of scrolling by; the targets set the same by default.
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

failed=()
for target in "${targets[@]}"; do
    seeds="$root/tests/fuzz/corpus/${target%_fuzz}"
    corpus="$build/fuzz-corpus/$target"
    artifacts="$build/fuzz-artifacts/$target"
    # The working corpus keeps what earlier runs found; the seeds in the tree stay untouched.
    mkdir -p "$corpus" "$artifacts"
    if [[ -d "$seeds" ]]; then cp -f "$seeds"/* "$corpus"/ 2>/dev/null || true; fi
    rm -f "$artifacts"/*

    echo "== $target: ${seconds}s"
    status=0
    # The pipe carries at most 8192 bytes, so longer inputs say nothing new.
    "$build/tests/fuzz/$target" "$corpus" \
        -max_total_time="$seconds" -max_len=8192 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" || status=$?
    if (( status != 0 )) || compgen -G "$artifacts/*" >/dev/null; then
        echo "== $target FAILED (exit $status); artifacts:" >&2
        ls -l "$artifacts" >&2 || true
        failed+=("$target")
    fi
done

if (( ${#failed[@]} != 0 )); then
    echo "fuzz.sh: findings in ${failed[*]}" >&2
    exit 1
fi
echo "fuzz.sh: no findings in ${targets[*]} (${seconds}s each)"
