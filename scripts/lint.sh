#!/usr/bin/env bash
# Static analysis of the project's own code (programs and libraries, not the
# tests): clang-tidy with the checked-in .clang-tidy, then cppcheck. Fails on
# any finding.
# Usage: scripts/lint.sh [BUILD_DIR]   (a build configured here with compile commands)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-lint}

cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

mapfile -t sources < <(git ls-files -- '*.cpp' | grep -E '^(common|sensorbus|net|server|client|cgi|probe)/')
echo "lint: clang-tidy on ${#sources[@]} files"
clang-tidy -p "$build" --quiet "${sources[@]}" 2>/dev/null | grep -E -A3 'warning:|error:' && exit 1

echo "lint: cppcheck"
cppcheck --enable=warning,performance,portability --std=c++20 --inline-suppr --quiet \
  --error-exitcode=1 -I. common sensorbus net server client cgi probe 2>&1
echo "lint: clean"
