#!/usr/bin/env bash
# Installs what is missing, builds the project with its tests (Release, in
# build/) and runs the test suite. KMRSIM_WARNINGS_AS_ERRORS=ON in the
# environment makes every compiler warning an error.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build test
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKMRSIM_BUILD_TESTS=ON \
    -DKMRSIM_WARNINGS_AS_ERRORS="${KMRSIM_WARNINGS_AS_ERRORS:-OFF}"
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
