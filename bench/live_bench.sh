#!/usr/bin/env bash
# The simulated switch with real traffic (scripts/lab.sh), two figures:
#  - a DHCP exchange (udhcpc against dnsmasq, DISCOVER to ACK as tcpdump sees it on the client's interface)
#    through the switch, screening on the server ports, against the same exchange across a plain veth pair
#    (the client's namespace wired straight to the server's): the median of RUNS exchanges each, in turns;
#  - bridge forwarding between two attached ports: trafgen offers DHCP server replies (the frames the
#    classifier does the most work for: parsed to the client's address, a rule looked up, counted) from
#    client 1 to client 2 as fast as it can, on one CPU, and the frames that reach client 2 are counted;
#    screened (client 1's port attached and screened, a rule permitting the replies) and unscreened (the
#    same two veths in a plain Linux bridge of the bench's own, no program), in turns, WINDOW seconds each,
#    ROUNDS times. The screened rate is also set against the user-space fabric's 300,000-350,000 frames/s
#    that forwarded before the kernel did.
#
#   bench/live_bench.sh [DHCPFTR]      (default build/bench/dhcpftr, else the lab's default)
#
# Prints "skipped: ..." and exits 0 where the lab cannot run (not root, no network namespaces, a tool
# missing). The lab has namespaces and a work directory of its own (LAB_PREFIX dhcpftr-bench), taken down
# also when a step fails or the run is interrupted. RUNS (default 20), WINDOW (default 3) and ROUNDS
# (default 3) may be set in the environment.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${RUNS:-20}
window=${WINDOW:-3}
rounds=${ROUNDS:-3}
export LAB_PREFIX=dhcpftr-bench
export LAB_DIR=${TMPDIR:-/tmp}/dhcpftr-bench
if [[ -n ${1:-} ]]; then
  export DHCPFTR=$1
elif [[ -x $root/build/bench/dhcpftr ]]; then
  export DHCPFTR=$root/build/bench/dhcpftr
fi

echo "live lab: a DHCP exchange and bridge forwarding through the simulated switch"
skip() {
  echo "  skipped: $*"
  exit 0
}
[[ $(id -u) -eq 0 ]] || skip "needs root (network namespaces)"
command -v trafgen >/dev/null 2>&1 || skip "trafgen is missing (netsniff-ng; scripts/deps.sh installs it)"
command -v tcpdump >/dev/null 2>&1 || skip "tcpdump is missing (scripts/deps.sh installs it)"

# The lab's functions, for the direct pair and the timed exchanges.
# shellcheck source=scripts/lab.sh
source "$root/scripts/lab.sh"
lab() { "$root/scripts/lab.sh" "$@"; }

captures=()
cleanup() {
  [[ ${#captures[@]} -eq 0 ]] || kill "${captures[@]}" 2>/dev/null
  lab_stop direct-srv dnsmasq
  lab down >/dev/null 2>&1
  rm -rf "$LAB_DIR"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
cleanup   # of a run that was killed

out=$(lab up 2 2>&1)
case $? in
  0) ;;
  77) skip "${out#lab: }" ;;
  *) echo "  failed: $out"; exit 1 ;;
esac
failed() {
  echo "  failed: $*" >&2
  exit 1
}

# The direct pair: the same dnsmasq as the lab's server, the client's veth straight to it.
direct_srv=$(lab_ns direct-srv)
direct_cli=$(lab_ns direct-cli)
{ lab_netns_add "$direct_srv" && lab_netns_add "$direct_cli" &&
  lab_veth "$direct_srv" eth0 "$direct_cli" "$(lab_client_mac 1)" &&
  lab_dnsmasq direct-srv "$direct_srv" "$LAB_SRV_IP" "$lab_srv_range"; } >/dev/null 2>&1 ||
  failed "the direct pair did not come up"

# Through the switch: screening on the server ports with a rule for the server, the rogue stopped so that
# both exchanges have the one server.
lab server rogue stop
lab cli "configure terminal" "ip dhcp screening ports eth1.1-1.2" \
  "ip dhcp screening server-ip $LAB_SRV_IP ports eth1.1" "end" >/dev/null || failed "a session with the switch"

# The exchanges are timed on the client's interface by tcpdump (kernel timestamps): DISCOVER to ACK, and of
# that the time the client waits for the server (DISCOVER to OFFER plus REQUEST to ACK), the part the
# switch adds to; the rest is udhcpc's own time between the OFFER and its REQUEST.
captures=()
capture() {  # NS FILE
  ip netns exec "$1" tcpdump -i eth0 -n -l -tt -v 'udp and (port 67 or port 68)' \
    >"$2" 2>"$2.err" </dev/null &
  captures+=($!)
  for ((i = 0; i < 50; i++)); do
    grep -qs '^tcpdump: listening' "$2.err" && return 0
    sleep 0.1
  done
  failed "tcpdump did not start in $1: $(cat "$2.err")"
}
# exchange NS: one lease from the server.
exchange() {
  local lease
  lease=$(lab_exchange "$1" "$LAB_DIR/bench-udhcpc.log")
  [[ $lease == *" $LAB_SRV_IP" ]] || failed "no lease from the server in $1 (udhcpc: $LAB_DIR/bench-udhcpc.log)"
}
# timings FILE: per exchange "TOTAL WAITING" in microseconds, from tcpdump's -tt -v text.
timings() {
  awk '
    /^[0-9]+\.[0-9]+ / { split($1, t, "."); now = t[1] * 1000000 + t[2]; next }
    /DHCP-Message \(53\)/ {
      type = $NF
      if (type == "Discover" && !open) { discover = now; open = 1 }
      else if (type == "Offer" && open && !offer) offer = now
      else if (type == "Request" && open && offer && !request) request = now
      else if (type == "ACK" && open && request) {
        print now - discover, (offer - discover) + (now - request)
        open = offer = request = 0
      }
    }' "$1"
}
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# One exchange each first (ARP caches, the switch's learning), then the runs in turns.
exchange "$direct_cli"
exchange "$(lab_ns cli1)"
exchange "$(lab_ns cli2)"
capture "$direct_cli" "$LAB_DIR/direct.tcpdump"
capture "$(lab_ns cli1)" "$LAB_DIR/switched.tcpdump"
for ((i = 0; i < runs; i++)); do
  exchange "$direct_cli"
  exchange "$(lab_ns cli1)"
done
sleep 0.2
kill "${captures[@]}" 2>/dev/null
wait "${captures[@]}" 2>/dev/null
captures=()
for f in direct switched; do
  [[ $(timings "$LAB_DIR/$f.tcpdump" | wc -l) -eq $runs ]] ||
    failed "tcpdump saw $(timings "$LAB_DIR/$f.tcpdump" | wc -l) of the $runs exchanges ($f)"
done
dt=$(timings "$LAB_DIR/direct.tcpdump" | cut -d' ' -f1 | median)
dw=$(timings "$LAB_DIR/direct.tcpdump" | cut -d' ' -f2 | median)
st=$(timings "$LAB_DIR/switched.tcpdump" | cut -d' ' -f1 | median)
sw=$(timings "$LAB_DIR/switched.tcpdump" | cut -d' ' -f2 | median)
echo "  DHCP exchange, DISCOVER to ACK on the client's interface (udhcpc and dnsmasq, median of $runs)"
awk -v dt="$dt" -v dw="$dw" -v st="$st" -v sw="$sw" 'BEGIN {
  printf "                                  exchange   waiting for the server\n"
  printf "    across a plain veth pair      %8.2f ms   %8.3f ms\n", dt / 1000, dw / 1000
  printf "    through the simulated switch  %8.2f ms   %8.3f ms\n", st / 1000, sw / 1000
  printf "    switch / direct               %8.2fx     %8.2fx\n", st / dt, sw / dw
  printf "    goal: the exchange through the switch within 1.2x the direct one: %s\n", (st <= 1.2 * dt) ? "met" : "NOT met"
}'

# ---- Bridge forwarding, client 1 (eth1.3) to client 2 (eth1.4). A bridge forgets what it learned on a port
# ---- that leaves it, so client 2 says who it is after each wiring: the frames go to its port alone.
lab cli "configure terminal" "ip dhcp screening ports eth1.3" "ip dhcp screening server-ip 10.10.0.11 ports eth1.3" \
  "end" >/dev/null || failed "a session with the switch"
cat >"$LAB_DIR/frames.trafgen" <<EOF
{ eth(da=$(lab_client_mac 2), sa=$(lab_client_mac 1)), ipv4(saddr=10.10.0.11, daddr=255.255.255.255),
  udp(sp=67, dp=68), 0x02, 0x01, 0x06, 0x00, fill(0x00, 24), $(lab_client_mac 2 | sed 's/^/0x/; s/:/, 0x/g'),
  fill(0x00, 10) }
EOF
sw_ns=$(lab_ns sw)
plain=dhcpftr-plain0
ip -n "$sw_ns" link add "$plain" type bridge && ip -n "$sw_ns" link set "$plain" up || failed "no plain bridge"
# wire screened|unscreened: the two veths as ports of the switch, or of the plain bridge.
wire() {
  if [[ $1 == screened ]]; then
    ip -n "$sw_ns" link set cli1 nomaster && ip -n "$sw_ns" link set cli2 nomaster &&
      lab cli "platform port attach eth1.3 cli1" "platform port attach eth1.4 cli2"
  else
    lab cli "platform port detach eth1.3" "platform port detach eth1.4" &&
      ip -n "$sw_ns" link set cli1 master "$plain" && ip -n "$sw_ns" link set cli2 master "$plain"
  fi || return 1
  ip netns exec "$(lab_ns cli2)" trafgen --dev eth0 --num 1 --cpus 1 --no-sock-mem \
    "{ eth(da=ff:ff:ff:ff:ff:ff, sa=$(lab_client_mac 2)), fill(0x00, 50) }" >/dev/null 2>&1
}
received() { ip netns exec "$(lab_ns cli2)" cat /sys/class/net/eth0/statistics/rx_packets; }
# rate: the frames per second that reach client 2 over WINDOW seconds of a flood from client 1.
rate() {
  local t0 t1 r0 r1 generator
  timeout $((window + 5)) ip netns exec "$(lab_ns cli1)" trafgen --dev eth0 --conf "$LAB_DIR/frames.trafgen" \
    --cpus 1 --no-sock-mem >"$LAB_DIR/trafgen.log" 2>&1 &
  generator=$!
  sleep 1
  t0=$EPOCHREALTIME r0=$(received)
  sleep "$window"
  t1=$EPOCHREALTIME r1=$(received)
  kill -INT "$generator" 2>/dev/null
  wait "$generator" 2>/dev/null
  awk -v f=$((r1 - r0)) -v t0="$t0" -v t1="$t1" 'BEGIN { printf "%.0f\n", f / (t1 - t0) }'
}
screened=() unscreened=()
for ((i = 0; i < rounds; i++)); do
  out=$(wire unscreened) && [[ -z $out ]] || failed "cannot wire the plain bridge: $out"
  unscreened+=("$(rate)")
  out=$(wire screened) && [[ -z $out ]] || failed "cannot attach the ports again: $out"
  screened+=("$(rate)")
done
forwarded=$(lab cli "platform port show" | awk '$1 == "eth1.3" { print $4 }')
[[ ${forwarded:-0} -gt 0 ]] || failed "the classifier permitted none of the replies (trafgen: $(tail -n 3 "$LAB_DIR/trafgen.log"))"
ip -n "$sw_ns" link del "$plain"
s=$(printf '%s\n' "${screened[@]}" | median)
u=$(printf '%s\n' "${unscreened[@]}" | median)
echo "  Bridge forwarding, eth1.3 to eth1.4, DHCP server replies from trafgen on one CPU (median of $rounds x ${window} s)"
echo "    screened:   ${screened[*]} frames/s"
echo "    unscreened: ${unscreened[*]} frames/s"
awk -v s="$s" -v u="$u" 'BEGIN {
  printf "    bridge forwarding: screened %.0f frames/s, unscreened %.0f frames/s, ratio %.3f (goal >= 0.95): %s\n",
    s, u, s / u, (s >= 0.95 * u) ? "met" : "NOT met"
  printf "    against the user-space fabric (300000-350000 frames/s): %.1fx to %.1fx (goal >= 3x): %s\n",
    s / 350000, s / 300000, (s >= 3 * 350000) ? "met" : "NOT met"
}'
