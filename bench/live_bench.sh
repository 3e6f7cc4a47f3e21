#!/usr/bin/env bash
# The simulated switch with real traffic (scripts/lab.sh), two figures:
#  - a DHCP exchange (udhcpc against dnsmasq, DISCOVER to ACK as tcpdump sees it on the client's interface)
#    through the switch, screening on the server ports, against the same exchange across a plain veth pair
#    (the client's namespace wired straight to the server's): the median of RUNS exchanges each, in turns;
#  - the forwarding rate between two attached ports: trafgen offers 60-byte IPv4/UDP frames from client 1 to
#    client 2 faster than the switch can take them, and the frames the switch sends out of client 2's port
#    over WINDOW seconds are counted (platform port show), once a second.
#
#   bench/live_bench.sh [DHCPFTR]      (default build/bench/dhcpftr, else the lab's default)
#
# Prints "skipped: ..." and exits 0 where the lab cannot run (not root, no network namespaces, a tool
# missing). The lab has namespaces and a work directory of its own (LAB_PREFIX dhcpftr-bench), taken down
# also when a step fails or the run is interrupted. RUNS (default 20) and WINDOW (default 5) may be set in
# the environment.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${RUNS:-20}
window=${WINDOW:-5}
export LAB_PREFIX=dhcpftr-bench
export LAB_DIR=${TMPDIR:-/tmp}/dhcpftr-bench
if [[ -n ${1:-} ]]; then
  export DHCPFTR=$1
elif [[ -x $root/build/bench/dhcpftr ]]; then
  export DHCPFTR=$root/build/bench/dhcpftr
fi

echo "live lab: a DHCP exchange and the forwarding rate through the simulated switch"
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
  "ip dhcp screening server-ip $LAB_SRV_IP ports eth1.1" "end" >/dev/null || failed "the switch's console"

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
  printf "    goal: the exchange through the switch within 2x the direct one: %s\n", (st <= 2 * dt) ? "met" : "NOT met"
}'

# ---- Forwarding: client 2's MAC is learned (its exchange above), so the frames go to its port alone.
cat >"$LAB_DIR/frames.trafgen" <<EOF
{ eth(da=$(lab_client_mac 2), sa=$(lab_client_mac 1)), ipv4(saddr=10.10.0.11, daddr=10.10.0.12),
  udp(sp=9, dp=9), fill(0x00, 18) }
EOF
# sample: "TIME OFFERED RECEIVED SENT": the clock, client 1's transmitted frames, the frames eth1.3 took in,
# the frames eth1.4 sent out.
sample() {
  local t offered counters
  t=$EPOCHREALTIME
  counters=$(lab cli "platform port show" | awk '
    NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
    $1 == "eth1.3" { received = $col["Received"] }
    $1 == "eth1.4" { sent = $col["Sent"] }
    END { print received, sent }')
  offered=$(ip -n "$(lab_ns cli1)" -s link show eth0 | awk '/TX:/ { getline; print $2; exit }')
  echo "$t $offered $counters"
}
# At most 20 million frames and 4 s beyond the window, on one CPU, without touching the socket memory
# settings of the host.
pin=()
if [[ $(nproc) -ge 2 ]] && command -v taskset >/dev/null 2>&1; then
  taskset -a -p -c 1 "$(cat "$LAB_DIR/switch.pid")" >/dev/null && pin=(taskset -c 0)
fi
timeout $((window + 4)) "${pin[@]}" ip netns exec "$(lab_ns cli1)" trafgen --dev eth0 --conf "$LAB_DIR/frames.trafgen" \
  --num 20000000 --cpus 1 --no-sock-mem >"$LAB_DIR/trafgen.log" 2>&1 &
generator=$!
sleep 1
samples=("$(sample)")
for ((i = 0; i < window; i++)); do
  sleep 1
  samples+=("$(sample)")
done
kill "$generator" 2>/dev/null
wait "$generator" 2>/dev/null
read -r _ _ _ s0 <<<"${samples[0]}"
read -r _ _ _ s1 <<<"${samples[-1]}"
[[ -n $s1 && $s1 -gt $s0 ]] || failed "no frames forwarded (trafgen: $(tail -n 3 "$LAB_DIR/trafgen.log"))"
echo "  Forwarding, eth1.3 to eth1.4, 60-byte frames offered by trafgen (${window} s, a sample a second)"
# Per second: "MICROSECONDS OFFERED TAKEN-IN FORWARDED".
intervals=$(printf '%s\n' "${samples[@]}" | awk '
  { t = $1; sub(/\./, "", t)
    if (NR > 1) print t - t0, $2 - o0, $3 - r0, $4 - s0
    t0 = t; o0 = $2; r0 = $3; s0 = $4 }')
rates=$(awk '{ printf "%.0f\n", $4 * 1e6 / $1 }' <<<"$intervals" | sort -n)
awk -v median="$(median <<<"$rates")" -v low="$(head -n 1 <<<"$rates")" -v high="$(tail -n 1 <<<"$rates")" '
  { us += $1; o += $2; r += $3; s += $4 }
  END {
    printf "    offered                   %10.0f frames/s\n", o * 1e6 / us
    printf "    taken in by the switch    %10.0f frames/s\n", r * 1e6 / us
    printf "    forwarded                 %10.0f frames/s\n", s * 1e6 / us
    printf "    forwarded, each second    %10.0f frames/s median, %d to %d\n", median, low, high
    printf "    goal: above 200000 frames/s forwarded: %s\n", (s * 1e6 / us > 200000) ? "met" : "NOT met"
  }' <<<"$intervals"
