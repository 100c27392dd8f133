#!/usr/bin/env bash
# Builds and runs the whole test suite: once optimised, once with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

scripts/build.sh build/release -DCMAKE_BUILD_TYPE=Release -DKELTO_SANITIZE=OFF -DKELTO_BUILD_CLI=ON -DKELTO_BUILD_TESTS=ON -DKELTO_BUILD_BENCH=ON
ctest --test-dir build/release --output-on-failure -j"$(nproc)"

scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELTO_SANITIZE=ON -DKELTO_BUILD_CLI=ON -DKELTO_BUILD_TESTS=ON -DKELTO_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j"$(nproc)"
