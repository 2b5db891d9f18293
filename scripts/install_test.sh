#!/usr/bin/env bash
# Installs the package into a fresh Debian 12 root made with debootstrap,
# starts the installed application there (offscreen, in a private network
# namespace) on a saved content folder, checks that it serves it on port
# 5003, removes the package and checks that the user's saved state stays.
# The base system is cached as a tarball between runs.
#   scripts/install_test.sh [PACKAGE.deb]    (default: build it with scripts/package.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "needs root (debootstrap, chroot, namespaces)"; exit 1; }
deb="${1:-}"
if [ -z "$deb" ]; then bash scripts/package.sh >/dev/null; deb=$(ls build/tavri-av-server_*.deb); fi
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
cp "$deb" "$root/tmp/"
name=$(basename "$deb")
echo "--- install"
chroot "$root" apt-get update -qq
chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "/tmp/$name" \
  >"$root/tmp/install.log" 2>&1 || { tail -20 "$root/tmp/install.log"; exit 1; }
chroot "$root" dpkg -s tavri-av-server | grep -E "^(Version|Installed-Size|Depends):"

echo "--- start, in a private network namespace"
home=/home/operator
mkdir -p "$root$home/Documents" "$root$home/content"
head -c 100000 /dev/urandom >"$root$home/content/clip.mp4"
printf 'file://%s/content/' "$home" >"$root$home/Documents/tavri_AV_SERVER_FOLDER.sav"
unshare -n bash -c '
  ip link set lo up
  chroot "$1" env HOME="$2" XDG_DATA_HOME="$2/.local/share" XDG_DOCUMENTS_DIR="$2/Documents" \
    QT_QPA_PLATFORM=offscreen tavri_av_server >"$1/tmp/app.log" 2>&1 &
  app=$!
  for _ in $(seq 1 100); do (exec 3<>/dev/tcp/127.0.0.1/5003) 2>/dev/null && break; sleep 0.2; done
  exec 3<>/dev/tcp/127.0.0.1/5003 && printf "HEAD /clip.mp4 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n" >&3 && head -1 <&3
  kill -TERM $app; wait $app
' _ "$root" "$home" | tee "$root/tmp/serve.out"
grep -q "200 OK" "$root/tmp/serve.out" && echo "ok: the installed application served the saved folder on port 5003"
state="$root$home/.local/share/tavri_av_server"
ls "$state"

echo "--- remove"
chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq tavri-av-server >/dev/null
[ ! -e "$root/usr/bin/tavri_av_server" ] && echo "ok: the program is gone"
[ -s "$state/tavri_AV_SERVER_WINDOWS.sav" ] && [ -s "$root$home/Documents/tavri_AV_SERVER_FOLDER.sav" ] &&
  echo "ok: the user's saved state stays"
