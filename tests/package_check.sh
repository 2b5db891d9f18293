#!/usr/bin/env bash
# The Debian package from the built tree: what it holds, and what lintian,
# desktop-file-validate and appstreamcli say.
#   usage: package_check.sh BUILD_DIR SOURCE_DIR
set -u
build="$1"; src="$2"
skip() { echo "SKIPPED: $*"; exit 77; }
for tool in cpack dpkg-deb lintian desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
failed=0
check() { if eval "$1"; then echo "ok: $2"; else echo "FAILED: $2"; failed=1; fi; }
out=$(mktemp -d); trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
# Each package and what it must hold.
holds() {  # PACKAGE FILE...
  local package="$1" deb
  shift
  deb=$(ls "$out/${package}"_*.deb 2>/dev/null) || { check false "the package $package is built"; return; }
  dpkg-deb --contents "$deb" | awk '{print $6}' >"$out/$package.contents"
  for f in "$@"; do check "grep -qx './$f' '$out/$package.contents'" "$package holds $f"; done
}
holds tavri-av-server usr/bin/tavri-av-serverd usr/bin/tavri-avctl usr/bin/tavri_player_sim \
  usr/share/man/man1/tavri-av-serverd.1.gz usr/share/man/man1/tavri-avctl.1.gz usr/share/man/man1/tavri_player_sim.1.gz \
  usr/share/bash-completion/completions/tavri-avctl usr/lib/systemd/system/tavri-av-server.service \
  usr/lib/sysusers.d/tavri-av-server.conf etc/tavri-av-server/server.conf usr/share/doc/tavri-av-server/copyright \
  usr/share/tavri-av-server/monitoring/tavri-alerts.yml usr/share/tavri-av-server/monitoring/tavri-dashboard.json
holds tavri-av-server-desktop usr/bin/tavri_av_server usr/bin/tavri-av-server-headless \
  usr/share/applications/tavri-av-server.desktop usr/share/metainfo/org.tavri.av_server.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/tavri-av-server.svg usr/share/icons/hicolor/16x16/apps/tavri-av-server.png \
  usr/share/icons/hicolor/512x512/apps/tavri-av-server.png usr/share/man/man1/tavri_av_server.1.gz \
  usr/lib/systemd/user/tavri-av-server.service usr/share/doc/tavri-av-server-desktop/copyright
holds tavri-av-server-media usr/libexec/tavri_av_server/tavri_media_probe usr/share/doc/tavri-av-server-media/copyright
server=$(ls "$out"/tavri-av-server_*.deb)
check 'dpkg-deb -f "$server" Depends | grep -q "libqt6core6"' "its dependencies come from dpkg-shlibdeps"
check '! dpkg-deb -f "$server" Depends | grep -qE "libqt6gui|libqt6widgets|libx11|libgl|libfontconfig|libfreetype"' \
  "the server package depends on no GUI, X11, GL or font library"
check '! dpkg-deb -c "$server" | grep -q "usr/bin/tavri_av_server$"' "the window is not in the server package"
for deb in "$out"/*.deb; do lintian "$deb" >>"$out/lintian" 2>/dev/null; done
check '! grep -q "^E:" "$out/lintian"' "lintian reports no errors"
check 'desktop-file-validate "$src/packaging/tavri-av-server.desktop"' "desktop-file-validate accepts the desktop entry"
check 'appstreamcli validate --no-net "$src/packaging/org.tavri.av_server.metainfo.xml" >/dev/null' \
  "appstreamcli accepts the metainfo"
[ $failed -eq 0 ] || cat "$out/lintian"
exit $failed
