#!/usr/bin/env bash
# The shipped Prometheus rules pass promtool, and every metric the rules and
# the Grafana dashboard name is one a running service exports (besides
# Prometheus' own "up").   usage: monitoring_check.sh BINARY_FOLDER SOURCE_FOLDER
set -u
bin="$1"; src="$2"
rules="$src/packaging/monitoring/tavri-alerts.yml"; dashboard="$src/packaging/monitoring/tavri-dashboard.json"
skip() { echo "SKIPPED: $*"; exit 77; }
command -v promtool >/dev/null || skip "promtool (Debian's prometheus) is not installed"
[ "$(id -u)" -eq 0 ] || skip "creating network namespaces needs root"
failed=0
promtool check rules "$rules" || failed=1
python3 -c "import json,sys; json.load(open(sys.argv[1]))" "$dashboard" || { echo "FAILED: the dashboard is not JSON"; failed=1; }
here="$(cd "$(dirname "$0")/netns" && pwd)"
. "$here/headless_service.sh"
start_headless_service metrics
metrics=$(ip netns exec "$a" curl -s -H "Authorization: Bearer $(cat "$state/api_token")" http://127.0.0.1:5080/metrics)
exported=$(printf '%s\n' "$metrics" | sed -n 's/^\(tavri_[a-z0-9_]*\).*/\1/p' | sort -u)
[ -n "$exported" ] || { echo "FAILED: no metrics from the service"; exit 1; }
for name in $(grep -oh 'tavri_[a-z0-9_]*' "$rules" "$dashboard" | sort -u); do
  if printf '%s\n' "$exported" | grep -qx "$name"; then echo "ok: $name is exported"
  else echo "FAILED: $name is named but not exported"; failed=1; fi
done
exit $failed
