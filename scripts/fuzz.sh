#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given
# number of seconds (default 300), seeded with the archive fixtures.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-300}"
bash scripts/install-deps.sh
export DEBIAN_FRONTEND=noninteractive
dpkg-query -W -f='${Status}' clang libclang-rt-14-dev 2>/dev/null | grep -c "install ok installed" | grep -q 2 \
  || apt-get install -y -qq clang libclang-rt-14-dev
cmake --preset fuzz
cmake --build --preset fuzz -j "$(nproc)"
for fuzzer in build-fuzz/fuzz/*_fuzz; do
  name=$(basename "$fuzzer")
  mkdir -p "build-fuzz/corpus/$name"
  seeds=()
  extra=()
  [ "$name" = keyed_archive_fuzz ] && [ -d ../shared/fixtures/keyed-archive ] && seeds+=(../shared/fixtures/keyed-archive)
  [ "$name" = feedback_fuzz ] && seeds+=(fuzz/seeds/feedback) && extra+=(-dict=fuzz/feedback.dict)
  [ "$name" = http_head_fuzz ] && seeds+=(fuzz/seeds/http_head) && extra+=(-dict=fuzz/http.dict)
  [ "$name" = range_fuzz ] && seeds+=(fuzz/seeds/range) && extra+=(-dict=fuzz/http.dict)
  echo "== $name for ${seconds}s"
  "$fuzzer" "${extra[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 "build-fuzz/corpus/$name" "${seeds[@]}" 2>&1 | tail -n 3
done
