#!/usr/bin/env bash
# Installs the build and test dependencies on Debian when they are missing:
# a C/C++ toolchain, CMake, GoogleTest and Google Benchmark.
set -euo pipefail

packages=(cmake make g++ libgtest-dev libbenchmark-dev)

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
