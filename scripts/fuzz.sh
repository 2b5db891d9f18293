#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given
# number of seconds (default 300), seeded with the archive fixtures.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-300}"
bash scripts/install-deps.sh
fuzzers=(keyed_archive_fuzz feedback_fuzz http_head_fuzz range_fuzz signed_request_fuzz)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target "${fuzzers[@]}"
failed=0
for name in "${fuzzers[@]}"; do
  fuzzer="build-fuzz/fuzz/$name"
  mkdir -p "build-fuzz/corpus/$name"
  seeds=()
  extra=()
  [ "$name" = keyed_archive_fuzz ] && [ -d ../shared/fixtures/keyed-archive ] && seeds+=(../shared/fixtures/keyed-archive)
  [ "$name" = feedback_fuzz ] && seeds+=(fuzz/seeds/feedback) && extra+=(-dict=fuzz/feedback.dict)
  [ "$name" = http_head_fuzz ] && seeds+=(fuzz/seeds/http_head) && extra+=(-dict=fuzz/http.dict)
  [ "$name" = range_fuzz ] && seeds+=(fuzz/seeds/range) && extra+=(-dict=fuzz/http.dict)
  [ "$name" = signed_request_fuzz ] && seeds+=(fuzz/seeds/signed_request)
  echo "== $name for ${seconds}s"
  # A crash, leak, time-out or sanitizer finding fails the run.
  if ! "$fuzzer" "${extra[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      "build-fuzz/corpus/$name" "${seeds[@]}" >"build-fuzz/$name.log" 2>&1; then
    echo "FAILED: $name (build-fuzz/$name.log)"; tail -n 40 "build-fuzz/$name.log"; failed=1
  else
    tail -n 2 "build-fuzz/$name.log"
  fi
done
exit $failed
