#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test:
#   1. the normal build (warnings as errors) with all unit, command-line,
#      player, front-end and corpus-replay tests;
#   2. the same converter tests built with AddressSanitizer and
#      UndefinedBehaviorSanitizer (any report fails the run);
#   3. each libFuzzer target for a short bounded time (clang).
# Build folders live under build/ and are reused when present.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

./tools/install-deps.sh

jobs=$(nproc)

echo "== formatting"
if ! git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror; then
    echo "formatting differs from .clang-format: run clang-format -i on the files above"
    exit 1
fi
fuzz_seconds=${FUZZ_SECONDS:-15}

echo "== 1/3 normal build and tests"
cmake -S . -B build/ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build/ci -j"$jobs"
(cd build/ci && ctest -j"$jobs" --output-on-failure --timeout 900)

echo "== 2/3 sanitizer build and tests"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
cmake -S . -B build/ci-sanitize -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON \
    -DBUILD_FRONTEND=OFF -DWARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build/ci-sanitize -j"$jobs"
(cd build/ci-sanitize && ctest -j"$jobs" --output-on-failure --timeout 1800 -E '^bench')

echo "== 3/3 fuzz targets, ${fuzz_seconds}s each"
CC=clang CXX=clang++ cmake -S . -B build/ci-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON \
    -DSANITIZE=ON -DBUILD_FRONTEND=OFF >/dev/null
targets=()
for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
cmake --build build/ci-fuzz -j"$jobs" --target "${targets[@]}"
fuzz_failed=0
passed=0
for t in "${targets[@]}"; do
    work=$(mktemp -d)
    cp -r "fuzz/corpus/$t/." "$work/" 2>/dev/null || true
    cp -r "fuzz/regressions/$t/." "$work/" 2>/dev/null || true
    echo "-- $t"
    if (cd "$work" && "$root/build/ci-fuzz/fuzz/$t" -max_total_time="$fuzz_seconds" -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=0 "$work" >"$work.log" 2>&1); then
        passed=$((passed + 1))
        tail -n 1 "$work.log"
    else
        fuzz_failed=$((fuzz_failed + 1))
        echo "fuzz target $t failed:"
        tail -n 60 "$work.log"
    fi
    rm -rf "$work" "$work.log"
done
echo "fuzz: ${passed} passed, ${fuzz_failed} failed"
[ "$fuzz_failed" -eq 0 ]

