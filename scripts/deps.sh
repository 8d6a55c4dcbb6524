#!/usr/bin/env bash
# Installs on Debian the packages that are missing for the given tasks:
#   build  a C/C++ toolchain, CMake, make, the JSON library and the elfutils
#          headers that failure reports use to name source lines (the
#          libraries and examples)
#   test   GoogleTest and pkg-config (the test suite and its install checks),
#          valgrind (callgrind_annotate reads the call-site profiles) and
#          Python 3 with matplotlib (tools/kmrsim-plot)
#   bench  Google Benchmark
#   fuzz   clang with libFuzzer and the LLVM tools (the fuzz targets, coverage)
# Without arguments, everything.
set -euo pipefail

if [ $# -eq 0 ]; then
    set -- build test bench fuzz
fi

packages=()
for task in "$@"; do
    case "$task" in
    build) packages+=(cmake make g++ libdw-dev nlohmann-json3-dev) ;;
    test) packages+=(libgtest-dev pkgconf valgrind python3 python3-matplotlib) ;;
    bench) packages+=(libbenchmark-dev) ;;
    fuzz) packages+=(clang libclang-rt-14-dev llvm) ;;
    *)
        echo "Error: unknown task '$task' (build, test, bench or fuzz)" >&2
        exit 2
        ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    if ! dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "Error: missing packages (${missing[*]}) and no root rights to install them" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends "${missing[@]}"
