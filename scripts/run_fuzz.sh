#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz/) and runs each for
# a bounded time, starting from a copy of the seed corpus in
# tests/fuzz/corpus/<target>/; the inputs the fuzzer adds stay in that copy,
# never in the repository. A failing input is saved in
# build-fuzz/artifacts/ and the end of the target's output is printed.
#   scripts/run_fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
jobs="${KMRSIM_BUILD_JOBS:-$(nproc)}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKMRSIM_FUZZ=ON \
    -DKMRSIM_BUILD_TESTS=OFF -DKMRSIM_BUILD_EXAMPLES=OFF -DKMRSIM_WARNINGS_AS_ERRORS=ON
cmake --build build-fuzz -j"$jobs" --target kmrsim_fuzz_valid kmrsim_fuzz_invalid

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p build-fuzz/artifacts

for target in valid invalid; do
    cp -r "tests/fuzz/corpus/$target" "$work/$target"
    echo "Fuzzing kmrsim_fuzz_$target for ${seconds} s"
    # The simulator's warnings go to standard error; the log keeps them out
    # of the CI output.
    if ! "build-fuzz/tests/fuzz/kmrsim_fuzz_$target" -max_total_time="$seconds" -timeout=30 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$target-" \
        "$work/$target" >"$work/$target.log" 2>&1; then
        tail -n 60 "$work/$target.log"
        echo "Error: kmrsim_fuzz_$target found a failing input (see build-fuzz/artifacts/)" >&2
        exit 1
    fi
    # Executions, coverage (cov: edges reached) and the inputs it added.
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::new_units_added)' "$work/$target.log" || true
done
