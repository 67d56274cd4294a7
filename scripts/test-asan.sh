#!/bin/bash
# Builds the whole project with AddressSanitizer and UndefinedBehaviorSanitizer
# (KADRIN_SANITIZE=ON) into build-asan/ and runs the test suite there. Any
# sanitizer report, a leak included, fails the test that made it.
#
# Environment: ASAN_BUILD_DIR (default build-asan), JOBS (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${ASAN_BUILD_DIR:-build-asan}
jobs=${JOBS:-2}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DKADRIN_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$jobs" -- --no-print-directory

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# The window tests need no display.
export QT_QPA_PLATFORM=offscreen
# The soak test is ten times slower under the sanitizers: fewer steps here.
export KADRIN_SOAK_STEPS=${KADRIN_SOAK_STEPS:-1000}

cd "$build"
ctest --output-on-failure -j "$jobs"
