#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds with warnings as errors, and runs
# the whole test suite headless: once in a normal build and once under AddressSanitizer
# and UndefinedBehaviorSanitizer. Then checks what an installation gives, and ends with
# small runs of the benchmarks so that they keep working.
set -euo pipefail
cd "$(dirname "$0")/.."
# The compiler cache keys on the paths that unity files and precompiled headers hold: a clone
# builds through one stable path while it runs, so a fresh clone reuses what an earlier one
# compiled. A second run at the same time keeps its own path.
stable="${TMPDIR:-/tmp}/quembe-tree-$(id -u)"
if command -v flock >/dev/null && exec 9>"$stable.lock" && flock -n 9; then
    ln -sfn "$PWD" "$stable"
    cd "$stable"
fi
# Where the run's time goes: seconds since the start at each step, to stderr.
started=$SECONDS
step() { echo "test.sh: $1 at $((SECONDS - started)) s" >&2; }
scripts/install-deps.sh
step "packages checked"
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

scripts/check-format.sh

# The arrows between folders run one way: no file of the first folder includes the second's.
one_way=("dialogs mainwindow" "data quickfind" "data duplicates" "data sync" "data exchange"
         "core data" "quickfind mainwindow" "exchange mainwindow" "sync mainwindow")
# The layers beside each other do not lean on each other either; the build links each alone.
one_way+=("exchange quickfind" "quickfind exchange" "recognize data" "data recognize"
          "exchange sync" "quickfind sync" "exchange duplicates" "quickfind duplicates")
for pair in "${one_way[@]}"; do
    read -r from to <<<"$pair"
    if grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]$to/" "$from"; then
        echo "test: $from/ includes from $to/" >&2
        exit 1
    fi
done

# A compiler cache, where there is one, makes a second run build only what changed.
launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1 CCACHE_SLOPPINESS=pch_defines,time_macros
    # Each hit hashed the precompiled header it used (about 170 MB) anew: the inode cache
    # keeps a file's hash until the file changes.
    export CCACHE_INODECACHE=true
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Ninja keeps both processors busy to the last file, lld links the fifty programs in a
# fraction of the time, and each library compiles as a few large files.
fast=(-G Ninja -DQUEMBE_UNITY=ON)
for kind in EXE SHARED MODULE; do
    fast+=("-DCMAKE_${kind}_LINKER_FLAGS=-fuse-ld=lld")
done
# A folder configured by another generator or through another path cannot be reused: it is
# only a build.
for dir in build build-sanitize; do
    if [ -f "$dir/CMakeCache.txt" ] && {
        ! grep -q "^CMAKE_GENERATOR:INTERNAL=Ninja$" "$dir/CMakeCache.txt" ||
            ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$PWD" "$dir/CMakeCache.txt"
    }; then
        rm -rf "$dir"
    fi
done

step "format and layers checked"
# No debug information: nothing here reads it, and it was a third of the compiling.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
    -DQUEMBE_WERROR=ON "${fast[@]}" "${launcher[@]}"
step "configured"
cmake --build build -j"$jobs"
step "built"

# The normal suite runs while the sanitizer build compiles: the tests spend much of their
# time waiting (locks, child processes, timers), which the compiler then uses.
(
    cd build
    if ctest --output-on-failure -j"$jobs" >ctest.log 2>&1; then echo 0; else echo 1; fi >ctest.rc
) &
tests=$!

# The program reaches the database through SQLite alone, and the data layer's tools
# (which link no window code) load no widget library.
if ldd build/quembe | grep -qi "libQt6Sql"; then
    echo "test: quembe links Qt SQL" >&2
    exit 1
fi
# Recognition is a module loaded at the first picture, not a library of every start.
if ldd build/quembe | grep -qi "libtesseract"; then
    echo "test: quembe links Tesseract at start" >&2
    exit 1
fi
# So are libphonenumber (duplicates) and QtKeychain (the sync's password).
if ldd build/quembe | grep -qiE "libphonenumber|libqt6keychain"; then
    echo "test: quembe links libphonenumber or QtKeychain at start" >&2
    exit 1
fi
if ldd build/mkvelmora | grep -qi "libQt6Widgets"; then
    echo "test: the data library pulls in widgets" >&2
    exit 1
fi
# What an installation gives is checked beside the sanitizer build (packing the Debian
# package is half a minute of one processor).
scripts/check-install.sh build >build/check-install.log 2>&1 &
installed=$!

# Line tables are all a sanitizer report needs, and full debug information is most of
# what this build would compile. -O1, as the sanitizers' documentation advises: unoptimised
# code runs the suite slower than it needs to.
# The layers were checked by the first build; here they are shared libraries, as each test
# linked with its own copy of them was 80 MB to write.
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g1 -O1" \
    -DQUEMBE_SANITIZE=ON -DQUEMBE_BENCH=OFF -DQUEMBE_WERROR=ON -DQUEMBE_LAYER_CHECKS=OFF \
    -DQUEMBE_SHARED_LAYERS=ON "${fast[@]}" "${launcher[@]}"
step "sanitizer build configured"
cmake --build build-sanitize -j"$jobs"
step "sanitizer build built"
wait "$installed" && installed=0 || installed=$?
cat build/check-install.log
[ "$installed" = 0 ] || { echo "test: the installation check failed" >&2; exit 1; }

# The sanitizer suite starts as soon as it is built, beside what is left of the normal one:
# both spend much of their time waiting (servers, child processes, timers).
(
    cd build-sanitize
    # AddressSanitizer's options are each test's own (tests/CMakeLists.txt).
    if UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --output-on-failure -j"$((jobs * 2))" >ctest.log 2>&1; then echo 0; else echo 1; fi \
        >ctest.rc
) &
sanitized=$!

wait "$tests" || true
step "normal suite done"
cat build/ctest.log
[ "$(cat build/ctest.rc)" = 0 ] || { echo "test: the normal suite failed" >&2; exit 1; }

# Small runs of the benchmarks, so that they keep working (their figures mean nothing here:
# the sanitizer suite runs beside them).
if [ -x build/bench/quembe-bench ]; then
    build/bench/quembe-bench --cards 2000
fi
if [ -x build/bench/quembe-ocr-bench ]; then
    build/bench/quembe-ocr-bench --cards 2
fi
if [ -x build/bench/quembe-quickfind-bench ]; then
    build/bench/quembe-quickfind-bench --cards 2000 --runs 3
fi
if [ -x build/bench/quembe-exchange-bench ]; then
    build/bench/quembe-exchange-bench --cards 2000
fi
step "benchmarks run"

wait "$sanitized" || true
step "sanitizer suite done"
cat build-sanitize/ctest.log
[ "$(cat build-sanitize/ctest.rc)" = 0 ] || { echo "test: the sanitizer suite failed" >&2; exit 1; }
