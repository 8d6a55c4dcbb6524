#!/usr/bin/env bash
# Installs what is missing, builds the project (Release, in build/) and runs
# every example program that has been built.
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
