# Sourced by the namespace tests that drive the screenless service: two
# namespaces joined by a veth pair (veth_pair.sh), the service started in
# the first with a fresh state folder, `ctl` to drive it, and everything
# started (pids) stopped at the end. Set bin and here, define skip, then:
#   start_headless_service NAME   (sets out, a, b, state and pids)
start_headless_service() {
  out=$(mktemp -d)
  a="tavri_$1_a_$$"; b="tavri_$1_b_$$"
  pids=()
  trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null
        ip netns del "$a" 2>/dev/null; ip netns del "$b" 2>/dev/null
        [ -n "${KEEP:-}" ] && echo "kept $out" || rm -rf "$out"' EXIT
  . "$here/veth_pair.sh"
  make_veth_pair "$a" "$b" || skip "$veth_failure"
  state="$out/state"; mkdir -p "$state/content" "$state/Documents"
  printf '[content]\nfolder=%s\n[api]\ntoken_file=%s\n' "$state/content" "$state/api_token" >"$out/server.conf"
  ip netns exec "$a" env -u DISPLAY HOME="$state" XDG_DATA_HOME="$state" XDG_CONFIG_HOME="$state/config" \
    XDG_DOCUMENTS_DIR="$state/Documents" "$bin/tavri-av-serverd" --config "$out/server.conf" \
    >"$out/server.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 600); do ctl status >/dev/null 2>&1 && break; sleep 0.1; done
}
ctl() { ip netns exec "$a" "$bin/tavri-avctl" --token-file "$state/api_token" "$@"; }
