#!/usr/bin/env bash
# Installs what is needed, builds, and starts the application.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)" --target tavri_av_server
exec build/src/tavri_av_server "$@"
