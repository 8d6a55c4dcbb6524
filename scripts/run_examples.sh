#!/usr/bin/env bash
# Installs what is missing to build, builds the libraries, the two example
# programs and the worked kernels (Release, in build/) and runs them; of
# each kernel only the result line is shown (run a kernel program itself for
# its statistics). Nothing else is built, so neither GoogleTest nor Google
# Benchmark is needed: a fresh build tree is configured without the tests;
# one that exists keeps its settings (run_tests.sh builds the rest in the
# same tree).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build
options=(-DCMAKE_BUILD_TYPE=Release -DKMRSIM_BUILD_EXAMPLES=ON)
if [ ! -f build/CMakeCache.txt ]; then
    options+=(-DKMRSIM_BUILD_TESTS=OFF -DKMRSIM_BUILD_BENCH=OFF)
fi
cmake -S . -B build "${options[@]}"
cmake --build build -j"$(nproc)" --target kmrsim_examples

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
