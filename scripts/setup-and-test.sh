#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the whole suite,
# the unit tests again under AddressSanitizer and UBSan, the threaded ones
# under ThreadSanitizer, and each fuzzer for a short time.
#   TAVRI_FUZZ_SECONDS (default 15) sets the time per fuzzer; 0 skips them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs="$(nproc)"
step() { echo; echo "=== $* ($(date +%T))"; }
# Three full builds from nothing: one translation unit per library compiles
# a quarter faster on two cores.
unity=-DCMAKE_UNITY_BUILD=ON

step "build and test"
cmake --preset default -DTAVRI_WERROR=ON "$unity"
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

step "AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan "$unity" >/dev/null
cmake --build --preset asan -j "$jobs" --target sanitize_tests
ctest --preset asan -j "$jobs"

step "ThreadSanitizer"
cmake --preset tsan "$unity" >/dev/null
cmake --build --preset tsan -j "$jobs" --target thread_tests
ctest --preset tsan -j "$jobs"

seconds="${TAVRI_FUZZ_SECONDS:-15}"
if [ "$seconds" -gt 0 ]; then
  step "fuzzers, ${seconds}s each"
  bash scripts/fuzz.sh "$seconds"
fi
step "all passed"
