#!/usr/bin/env bash
# Builds the Debian packages (tavri-av-server, -desktop, -media) and checks
# them with lintian, desktop-file-validate and appstreamcli.
#   scripts/package.sh     (the packages land in build/)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
export DEBIAN_FRONTEND=noninteractive
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
for p in lintian desktop-file-utils appstream; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || {
    $SUDO apt-get update -qq; $SUDO apt-get install -y -qq --no-install-recommends lintian desktop-file-utils appstream; break; }
done
cmake --preset default >/dev/null
cmake --build build -j "$(nproc)" --target tavri-av-serverd tavri-avctl tavri_av_server tavri_player_sim tavri_media_probe package_files
(cd build && rm -f tavri-av-server*_*.deb && cpack -G DEB >/dev/null)
for deb in build/tavri-av-server*_*.deb; do
  echo "package: $deb ($(du -h "$deb" | cut -f1))"
  dpkg-deb --field "$deb" Depends Recommends | sed 's/^/  /'
done
echo "--- lintian"
lintian --no-tag-display-limit build/tavri-av-server*_*.deb || true
echo "--- desktop-file-validate"
desktop-file-validate packaging/tavri-av-server.desktop && echo "no problems"
echo "--- appstreamcli validate"
appstreamcli validate --no-net --explain packaging/org.tavri.av_server.metainfo.xml || true
# Errors fail the build of the package; warnings are listed above.
! lintian build/tavri-av-server*_*.deb 2>/dev/null | grep -q "^E:"
