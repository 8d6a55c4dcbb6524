#!/usr/bin/env bash
# Installs what is missing, builds the project with its tests (Release, in
# build/) and runs the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKMRSIM_BUILD_TESTS=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
