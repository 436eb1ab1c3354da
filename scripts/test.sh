#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless: once in a
# normal build and once under AddressSanitizer and UndefinedBehaviorSanitizer. Ends with
# a small run of the benchmark so that it keeps working.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQUEMBE_SANITIZE=ON -DQUEMBE_BENCH=OFF
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j"$jobs")

if [ -x build/bench/quembe-bench ]; then
    build/bench/quembe-bench --cards 2000
fi
if [ -x build/bench/quembe-ocr-bench ]; then
    build/bench/quembe-ocr-bench --cards 6
if [ -x build/bench/quembe-quickfind-bench ]; then
    build/bench/quembe-quickfind-bench --cards 2000 --runs 3
fi
