#!/usr/bin/env bash
# Installs the server package into a fresh minimal Debian 12 root made with
# debootstrap and reports what it brought in (packages, megabytes, and any
# X11, GL or font package); starts the installed daemon there, in a private
# network namespace, on a saved content folder and checks that it serves
# it on port 5003; then installs the desktop package on top and reports the
# same; removes and purges both. The base system is cached as a tarball.
# With TAVRI_OLD_PACKAGE (the single package of 0.1), it then installs that
# one, as an operator left it (configuration edited, unit enabled, token
# made), and upgrades it to the new packages.
#   scripts/install_test.sh [BUILD_DIR_WITH_DEBS]   (default: build them with scripts/package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "needs root (debootstrap, chroot, namespaces)"; exit 1; }
debs="${1:-}"
if [ -z "$debs" ]; then bash scripts/package.sh >/dev/null; debs=build; fi
server=$(ls "$debs"/tavri-av-server_*.deb)
desktop=$(ls "$debs"/tavri-av-server-desktop_*.deb)
media=$(ls "$debs"/tavri-av-server-media_*.deb)
command -v debootstrap >/dev/null || { apt-get update -qq; apt-get install -y -qq debootstrap >/dev/null; }
cache="${TAVRI_DEBOOTSTRAP_CACHE:-/var/cache/tavri-install-test}/bookworm-base.tgz"
mirror="${TAVRI_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
root=$(mktemp -d /tmp/tavri-install-root.XXXXXX)
cleanup() {
  umount -R "$root/proc" 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
mkdir -p "$(dirname "$cache")"
if [ ! -s "$cache" ]; then
  echo "making the base tarball (once): $cache"
  debootstrap --variant=minbase --make-tarball="$cache" bookworm "$root.tmp" "$mirror" >/dev/null
  rm -rf "$root.tmp"
fi
debootstrap --variant=minbase --unpack-tarball="$cache" bookworm "$root" "$mirror" >/dev/null
mount -t proc proc "$root/proc"
cp "$server" "$desktop" "$media" "$root/tmp/"
in_root() { chroot "$root" env DEBIAN_FRONTEND=noninteractive "$@"; }
installed() { in_root dpkg-query -W -f='${Status} ${Installed-Size}\n' | awk '/install ok installed/ {n++; kb+=$4} END {print n, kb}'; }
graphical() { in_root dpkg-query -W -f='${Status} ${Package}\n' | awk '/install ok installed/ {print $4}' |
  grep -E '^(libx11|libxcb|libxext|libxrender|libgl1|libglapi|libglvnd|libegl|libglx|libopengl|libgbm|libdrm|libvulkan|libwayland|libfontconfig|libfreetype|libharfbuzz|fonts-|libcairo|libpango|libqt6gui|libqt6widgets)' || true; }
report() {  # WHAT BEFORE_COUNT BEFORE_KB
  read -r n kb < <(installed)
  local g; g=$(graphical)
  printf '%-36s %4d packages, %6.1f MB; X11, GL or font packages: %s\n' "$1" $((n - $2)) \
    "$(awk -v k=$((kb - $3)) 'BEGIN {print k / 1024}')" "${g:-none}" | tr '\n' ' '
  echo
}
in_root apt-get update -qq
read -r base_n base_kb < <(installed)
echo "--- the server package into a fresh minimal root (no recommends)"
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$server")" >"$root/tmp/install.log" 2>&1 ||
  { tail -20 "$root/tmp/install.log"; exit 1; }
report "tavri-av-server" "$base_n" "$base_kb"
read -r server_n server_kb < <(installed)

echo "--- the daemon, in a private network namespace"
home=/home/operator
mkdir -p "$root$home/Documents" "$root$home/content"
head -c 100000 /dev/urandom >"$root$home/content/clip.mp4"
printf 'file://%s/content/' "$home" >"$root$home/Documents/tavri_AV_SERVER_FOLDER.sav"
unshare -n bash -c '
  ip link set lo up
  chroot "$1" env HOME="$2" XDG_DATA_HOME="$2/.local/share" XDG_DOCUMENTS_DIR="$2/Documents" \
    tavri-av-serverd >"$1/tmp/app.log" 2>&1 &
  app=$!
  for _ in $(seq 1 100); do (exec 3<>/dev/tcp/127.0.0.1/5003) 2>/dev/null && break; sleep 0.2; done
  exec 3<>/dev/tcp/127.0.0.1/5003 && printf "HEAD /clip.mp4 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n" >&3 && head -1 <&3
  kill -TERM $app; wait $app
' _ "$root" "$home" | tee "$root/tmp/serve.out"
grep -q "200 OK" "$root/tmp/serve.out" && echo "ok: the installed daemon served the saved folder on port 5003"

echo "--- the media helper, then the desktop package on top"
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$media")" >>"$root/tmp/install.log" 2>&1 ||
  { tail -20 "$root/tmp/install.log"; exit 1; }
report "+ tavri-av-server-media" "$server_n" "$server_kb"
read -r media_n media_kb < <(installed)
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$desktop")" >>"$root/tmp/install.log" 2>&1 ||
  { tail -20 "$root/tmp/install.log"; exit 1; }
report "+ tavri-av-server-desktop" "$media_n" "$media_kb"
[ -x "$root/usr/bin/tavri_av_server" ] && echo "ok: the window is installed"

echo "--- remove and purge"
in_root apt-get purge -y -qq tavri-av-server-desktop tavri-av-server-media tavri-av-server >/dev/null
[ ! -e "$root/usr/bin/tavri-av-serverd" ] && [ ! -e "$root/usr/bin/tavri_av_server" ] && echo "ok: the programs are gone"
[ ! -e "$root/etc/tavri-av-server/server.conf" ] && echo "ok: purge removed the configuration"
[ -s "$root$home/Documents/tavri_AV_SERVER_FOLDER.sav" ] && echo "ok: the user's saved state stays"

old="${TAVRI_OLD_PACKAGE:-}"
[ -n "$old" ] || exit 0
echo "--- upgrade from $(basename "$old")"
cp "$old" "$root/tmp/"
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$old")" >>"$root/tmp/install.log" 2>&1 ||
  { tail -20 "$root/tmp/install.log"; exit 1; }
echo "The operator's note: this line stays across upgrades." >>"$root/etc/tavri-av-server/server.conf"
mkdir -p "$root/var/lib/tavri-av-server" "$root/etc/systemd/system/multi-user.target.wants"
echo "0123456789abcdef0123456789abcdef" >"$root/var/lib/tavri-av-server/api_token"
ln -sf /usr/lib/systemd/system/tavri-av-server.service \
  "$root/etc/systemd/system/multi-user.target.wants/tavri-av-server.service"
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$server")" "/tmp/$(basename "$media")" \
  >>"$root/tmp/install.log" 2>&1 || { tail -20 "$root/tmp/install.log"; exit 1; }
in_root dpkg-query -W -f='${Package} ${Version}\n' tavri-av-server tavri-av-server-media | sed 's/^/  /'
grep -q "this line stays" "$root/etc/tavri-av-server/server.conf" && echo "ok: the configuration is kept"
[ "$(cat "$root/var/lib/tavri-av-server/api_token")" = 0123456789abcdef0123456789abcdef ] && echo "ok: the token is kept"
[ -L "$root/etc/systemd/system/multi-user.target.wants/tavri-av-server.service" ] && echo "ok: the unit stays enabled"
grep -q "^ExecStart=/usr/bin/tavri-av-serverd" "$root/usr/lib/systemd/system/tavri-av-server.service" &&
  echo "ok: the unit now runs the daemon"
[ -x "$root/usr/libexec/tavri_av_server/tavri_media_probe" ] && echo "ok: the media helper passed to its own package"
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$desktop")" >>"$root/tmp/install.log" 2>&1 ||
  { tail -20 "$root/tmp/install.log"; exit 1; }
[ -x "$root/usr/bin/tavri_av_server" ] && echo "ok: the window comes back with the desktop package"
in_root apt-get purge -y -qq tavri-av-server-desktop tavri-av-server-media tavri-av-server >/dev/null 2>&1
[ ! -e "$root/etc/tavri-av-server/server.conf" ] && [ ! -e "$root/usr/bin/tavri-av-serverd" ] && echo "ok: purged cleanly"
