#!/usr/bin/env bash
# Pictures of every window, with demonstration data, taken under Xvfb inside
# a private network namespace (the player commands are broadcasts):
#   scripts/screenshots.sh [OUTPUT_FOLDER]   (default: screenshots/)
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-screenshots}")"
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build build --target window_shots
mkdir -p "$out"
run=(xvfb-run -a -s "-screen 0 1920x1200x24" build/tests/window_shots "$out")
if unshare -n true 2>/dev/null; then
  unshare -n bash -c 'ip link set lo up; exec "$@"' _ "${run[@]}"
else
  echo "cannot make a network namespace here; not running the application" >&2
  exit 1
fi
