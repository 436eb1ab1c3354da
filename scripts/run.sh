#!/usr/bin/env bash
# Installs what is missing, builds, puts a fresh database beside the program if there is
# none, and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target quembe
exec build/quembe
