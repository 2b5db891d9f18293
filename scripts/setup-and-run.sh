#!/usr/bin/env bash
# Installs what is needed, builds, and starts the server: the window where
# there is a display, the service alone (tavri-av-serverd) where there is none.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  cmake --build --preset default -j "$(nproc)" --target tavri_av_server
  exec build/src/tavri_av_server "$@"
fi
cmake --build --preset default -j "$(nproc)" --target tavri-av-serverd tavri-avctl tavri_media_probe
cat <<TEXT
No display here: starting the service without a window (tavri-av-serverd).
  web console:  http://127.0.0.1:5080/  (the API's address and port: [api] in ~/.config/tavri_av_server/server.conf)
  first admin of the console, from another terminal:  build/src/tavri-avctl user add NAME --role admin
  the same by command line:  build/src/tavri-avctl status
From another machine: ssh -L 5080:127.0.0.1:5080 $(id -un)@$(hostname)
TEXT
exec build/src/tavri-av-serverd "$@"
