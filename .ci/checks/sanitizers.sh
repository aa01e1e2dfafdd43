#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The whole project and all its tests once more, built with AddressSanitizer
# and UndefinedBehaviorSanitizer. Any report (memory error, leak, undefined
# behaviour) stops the program that made it, so its test and this check fail.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/install-deps.sh

build=build-asan
cmake -S . -B "$build" -DIMU_SANITIZE=ON -DIMU_BUILD_BENCHMARKS=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"

# The tests set these themselves in this build; exported too, for programs
# the tests start. lsan.supp holds the toolkit's own never-freed allocations.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
cd "$build"
ctest --output-on-failure -j "$(nproc)"
