#!/usr/bin/env bash
# The daemon as built: no GUI, X11, GL or font library among what it loads,
# and it answers on its command line.
#   usage: layer_check.sh DAEMON
set -u
daemon="$1"
failed=0
check() { if eval "$1"; then echo "ok: $2"; else echo "FAILED: $2"; failed=1; fi; }
libs=$(ldd "$daemon" | awk '{print $1}')
gui=$(echo "$libs" | grep -E 'libQt6(Gui|Widgets|OpenGL|DBus|XcbQpa)|libX11|libxcb|libGL|libEGL|libOpenGL|libGLX|libgbm|libdrm|libfontconfig|libfreetype|libharfbuzz|libxkbcommon|libwayland' || true)
check '[ -z "$gui" ]' "the daemon loads no GUI, X11, GL or font library${gui:+: $(echo $gui)}"
check 'echo "$libs" | grep -q libQt6Core' "the daemon is built on Qt Core"
check '"$daemon" --version | grep -q "^tavri-av-serverd "' "the daemon answers --version"
check '! "$daemon" --headless >/dev/null 2>&1' "the daemon refuses the window's --headless (it has no window)"
exit $failed
