# Sourced by the namespace tests: two network namespaces joined by a veth
# pair, 192.0.2.1 in the first and 192.0.2.2 in the second, no gateway.
#   make_veth_pair NS_A NS_B || skip "$veth_failure"
make_veth_pair() {
  veth_failure=""
  ip netns add "$1" 2>/dev/null || { veth_failure="cannot create a network namespace"; return 1; }
  ip netns add "$2" || { veth_failure="cannot create a second network namespace"; return 1; }
  ip link add va netns "$1" type veth peer name vb netns "$2" || { veth_failure="cannot create a veth pair"; return 1; }
  ip -n "$1" addr add 192.0.2.1/24 brd + dev va
  ip -n "$2" addr add 192.0.2.2/24 brd + dev vb
  for ns in "$1" "$2"; do ip -n "$ns" link set lo up; done
  ip -n "$1" link set va up
  ip -n "$2" link set vb up
}
