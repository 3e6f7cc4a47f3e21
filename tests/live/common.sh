# What the live tests share (sourced, not run): the reasons to skip, a lab of the test's own prefix that is
# taken down however the test ends, the failures, the switch's counters, DHCP server replies for trafgen and
# frame counts taken by the kernel.
#
#   live_up DHCPFTR SOURCE_DIR PREFIX CLIENTS   exits 77 (skipped) or 1, or returns with the lab up
#   live_end                                    the verdict: exit 1 when a check failed, else 0
set -uo pipefail

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

lab() { "$live_root/scripts/lab.sh" "$@"; }

live_cleanup() {
  lab down >/dev/null 2>&1   # also ends what the test started in the lab's namespaces (trafgen, tcpdump)
  rm -rf "$LAB_DIR"
}

live_up() {
  [[ -z ${DHCPFTR_EMULATOR:-} ]] || { echo "skipped: the live lab runs only a build for this host"; exit 77; }
  [[ $(id -u) -eq 0 ]] || { echo "skipped: needs root"; exit 77; }
  local tool out
  for tool in trafgen tcpdump; do
    command -v $tool >/dev/null 2>&1 || { echo "skipped: $tool is missing (scripts/deps.sh installs it)"; exit 77; }
  done
  live_root=$2
  export LAB_PREFIX=$3
  export LAB_DIR=${TMPDIR:-/tmp}/$3
  export DHCPFTR=$1
  trap live_cleanup EXIT
  trap 'exit 1' INT TERM HUP
  live_cleanup   # a lab of a test run that was killed
  out=$(lab up "$4" 2>&1)
  case $? in
    0) ;;
    77) echo "skipped: ${out#lab: }"; exit 77 ;;
    *) echo "FAIL: the lab did not come up: $out"; exit 1 ;;
  esac
}

live_end() {
  if [[ $failures -ne 0 ]]; then
    echo "--- switch log (last lines)"
    tail -n 20 "$LAB_DIR/switch.log"
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all checks passed"
}

# counter TABLE-COMMAND INTERFACE COLUMN: the number in the row of INTERFACE under the header naming COLUMN.
counter() {
  lab cli "$1" | awk -v ifname="$2" -v column="$3" '
    { for (i = 1; i <= NF; i++) if ($i == column) { col = i; next } }
    col && $1 == ifname { print $col; exit }'
}

# dhcp_reply SERVER CLIENT: trafgen's text of a BOOTREPLY from SERVER (IPv4) with the rogue's MAC, to client
# N's MAC and with its chaddr.
dhcp_reply() {
  local mac
  mac=$(printf '0x%02x' "$2")
  echo "{ eth(da=02:00:00:00:01:${mac#0x}, sa=02:00:00:00:00:02), ipv4(saddr=$1, daddr=255.255.255.255),
    udp(sp=67, dp=68), 0x02, 0x01, 0x06, 0x00, fill(0x00, 24), 0x02, 0x00, 0x00, 0x00, 0x01, $mac,
    fill(0x00, 202) }"
}

# tap NAME NAMESPACE INTERFACE FILTER: starts counting the frames on the interface that match the filter;
# tapped NAME stops it and prints the count (-1 when tcpdump gave none). The count is tcpdump's "received by
# filter", which the kernel keeps: exact however fast the frames come, also when tcpdump cannot keep up.
declare -A taps
tap() {
  local i
  ip netns exec "$2" tcpdump -n -s 64 -w /dev/null -i "$3" "$4" 2>"$LAB_DIR/$1.tap" &
  taps[$1]=$!
  for ((i = 0; i < 50; i++)); do
    grep -qs 'listening on' "$LAB_DIR/$1.tap" && return 0
    sleep 0.1
  done
  fail "tcpdump did not start: $(cat "$LAB_DIR/$1.tap")"
}
tapped() {
  local i count
  kill -INT "${taps[$1]}"
  for ((i = 0; i < 50; i++)); do
    count=$(sed -n 's/^\([0-9]*\) packets\{0,1\} received by filter$/\1/p' "$LAB_DIR/$1.tap")
    [[ -n $count ]] && break
    sleep 0.1
  done
  echo "${count:--1}"
}
