#!/usr/bin/env bash
# Installs what is missing, builds the project (Release, in build/) and runs
# every example program that has been built. Of the worked kernels only the
# result line is shown; run a kernel program itself for its statistics.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"

for example in example_flat example_vec; do
    program=build/examples/software/simple/$example
    if [ -x "$program" ]; then
        echo "== $example"
        "$program"
    fi
done

for kernel in fir filter3x3 matmul threshold; do
    for variant in flat vec; do
        program=build/examples/kernels/kernel_${kernel}_$variant
        if [ -x "$program" ]; then
            output=$("$program")
            echo "== kernel_${kernel}_$variant: ${output%%$'\n'*}"
        fi
    done
done
