#!/usr/bin/env bash
# Installs what is missing, builds the simulator and the benchmarks (Release,
# in build-bench/) and runs them; the table at the end compares the
# simulator with native loops doing the same work.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build bench
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKMRSIM_BUILD_BENCH=ON -DKMRSIM_BUILD_TESTS=OFF \
    -DKMRSIM_BUILD_EXAMPLES=OFF
cmake --build build-bench -j"$(nproc)" --target kmrsim_bench
build-bench/bench/kmrsim_bench "$@"
