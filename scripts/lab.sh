#!/usr/bin/env bash
# A live lab: real DHCP servers (dnsmasq) and clients (udhcpc) in network namespaces of their own, each
# joined by a veth pair to a port of the simulated switch, which runs in a namespace of its own: the veths'
# switch-side ends are ports of the switch's Linux bridge (dhcpftr0), screened in the kernel. Nothing
# touches the host's interfaces: every address, route and frame lives inside the lab's namespaces.
#
#   scripts/lab.sh up [CLIENTS]         build the lab with CLIENTS clients (default 1, at most 46)
#   scripts/lab.sh down                 stop everything the lab started, delete its namespaces (idempotent)
#   scripts/lab.sh status               what runs, and the switch's attached ports
#   scripts/lab.sh cli [LINE...]        run lines in a session with the switch (standard input without LINEs), print their output
#   scripts/lab.sh lease N              one DHCP exchange of client N: "client N: IP from SERVER" or "client N: no lease"
#   scripts/lab.sh server srv|rogue stop|start   stop or start one of the two DHCP servers
#   scripts/lab.sh restart [-9]         end the switch (SIGTERM, or SIGKILL with -9) and start it again
#
# The lab (LAN 10.10.0.0/24):
#   eth1.1   legitimate server  10.10.0.1  02:00:00:00:00:01  leases 10.10.0.100-149
#   eth1.2   rogue server       10.10.0.2  02:00:00:00:00:02  leases 10.10.0.150-199
#   eth1.3…  client 1…          no address 02:00:00:00:01:01… (client N has 02:00:00:00:01:NN, NN in hex)
#
# Environment: LAB_PREFIX (default dhcpftr-lab) names the namespaces PREFIX-sw, PREFIX-srv, PREFIX-rogue and
# PREFIX-cliN; LAB_DIR (default /run/PREFIX) holds the lab's state: PIDs, the switch's session socket, the logs;
# DHCPFTR is the switch binary (default build/dhcpftr, else build/release/dhcpftr, else build/debug/dhcpftr);
# DHCPFTR_CLI the client (default dhcpftr-cli beside the switch binary, in its build tree, or build/dhcpftr-cli);
# LAB_TRIES is the number of DISCOVERs of one lease, a second apart (default 3).
#
# Exit status 77 when this machine cannot host a lab (not root, no network namespaces, a tool missing), 1 on
# any other failure. A failure during `up` takes down whatever was built. The script can also be sourced (by
# the live test and benchmark) for its functions; it then does nothing by itself.

lab_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
lab_prefix=${LAB_PREFIX:-dhcpftr-lab}
lab_dir=${LAB_DIR:-/run/$lab_prefix}
lab_tries=${LAB_TRIES:-3}

LAB_SRV_IP=10.10.0.1
LAB_ROGUE_IP=10.10.0.2
LAB_SRV_MAC=02:00:00:00:00:01
LAB_ROGUE_MAC=02:00:00:00:00:02
lab_srv_range=10.10.0.100,10.10.0.149
lab_rogue_range=10.10.0.150,10.10.0.199
lab_max_clients=46   # ports eth1.3 to eth1.48

lab_client_mac() { printf '02:00:00:00:01:%02x' "$1"; }
lab_ns() { echo "$lab_prefix-$1"; }

lab_die() { echo "lab: $*" >&2; exit 1; }
lab_unable() { echo "lab: $*" >&2; exit 77; }

# The machine can host a lab: root, the tools, network namespaces (tried by the caller's first `ip netns add`).
lab_require() {
  [[ $(id -u) -eq 0 ]] || lab_unable "needs root (network namespaces, veth pairs, BPF programs)"
  local tool
  for tool in ip dnsmasq udhcpc setsid timeout; do
    command -v "$tool" >/dev/null 2>&1 || lab_unable "$tool is missing (scripts/deps.sh installs it)"
  done
}

lab_switch_binary() {
  local b
  for b in ${DHCPFTR:-} "$lab_root/build/dhcpftr" "$lab_root/build/release/dhcpftr" "$lab_root/build/debug/dhcpftr"; do
    [[ -x $b ]] && { echo "$b"; return 0; }
  done
  return 1
}

# ---- Processes: each PID is kept in DIR/NAME.pid; a process is only signalled while /proc says it still is
# ---- the program that was started (a PID reused by another program is left alone).
lab_alive() {  # NAME COMM
  local pid state
  pid=$(cat "$lab_dir/$1.pid" 2>/dev/null) || return 1
  [[ $pid =~ ^[0-9]+$ && $(cat "/proc/$pid/comm" 2>/dev/null) == "$2" ]] || return 1
  state=$(sed -n 's/^State:[[:space:]]*\(.\).*/\1/p' "/proc/$pid/status" 2>/dev/null)
  [[ -n $state && $state != Z ]]   # a zombie has ended
}

lab_stop() {  # NAME COMM [SECONDS-TO-END-BY-ITSELF]
  local pid i
  pid=$(cat "$lab_dir/$1.pid" 2>/dev/null) || return 0
  for ((i = 0; i < ${3:-0} * 10; i++)); do
    lab_alive "$1" "$2" || break
    sleep 0.1
  done
  if lab_alive "$1" "$2"; then
    kill "$pid" 2>/dev/null
    for ((i = 0; i < 50; i++)); do
      lab_alive "$1" "$2" || break
      sleep 0.1
    done
    lab_alive "$1" "$2" && kill -KILL "$pid" 2>/dev/null
  fi
  rm -f "$lab_dir/$1.pid"
}

# ---- Namespaces: each one created is listed in DIR/netns; `down` also finds the lab's names in `ip netns`
# ---- when DIR is gone.
lab_netns_add() {  # NAME
  ip netns add "$1" || return 1
  echo "$1" >>"$lab_dir/netns"
  # No IPv6 in the lab: no router solicitations or neighbour discovery among the frames.
  ip netns exec "$1" sh -c 'for f in /proc/sys/net/ipv6/conf/*/disable_ipv6; do echo 1 >"$f"; done' 2>/dev/null
  ip -n "$1" link set lo up
}

lab_netns_names() {
  { cat "$lab_dir/netns" 2>/dev/null
    ip netns list 2>/dev/null | awk '{print $1}' |
      grep -E "^$(sed 's/[.[\*^$]/\\&/g' <<<"$lab_prefix")-(sw|srv|rogue|cli[0-9]+|direct-srv|direct-cli)$"
  } | sort -u
}

# A veth pair: SWIF in namespace A (the switch's side), eth0 with MAC in namespace B, with the offloads a
# veth has by default: frames cross the switch's bridge in the kernel as they would between two veths.
lab_veth() {  # NS_A IF_A NS_B MAC
  ip -n "$1" link add "$2" type veth peer name eth0 netns "$3" address "$4" || return 1
  ip -n "$1" link set "$2" up && ip -n "$3" link set eth0 up
}

# dnsmasq as a DHCP server only (no DNS), on eth0 of its namespace, leases in memory, 2-minute leases (the
# shortest it grants), no ping before an offer (the lab's answers come at once), its log in DIR/NAME.log.
lab_dnsmasq() {  # NAME NS ADDRESS RANGE
  ip -n "$2" addr replace "$3/24" dev eth0 || return 1
  rm -f "$lab_dir/$1.pid"
  ip netns exec "$2" dnsmasq --conf-file=/dev/null --port=0 --no-resolv --no-hosts \
    --interface=eth0 --bind-interfaces --dhcp-range="$4,255.255.255.0,2m" --leasefile-ro --no-ping \
    --user=root --group=root --pid-file="$lab_dir/$1.pid" --log-facility="$lab_dir/$1.log" \
    </dev/null >>"$lab_dir/$1.log" 2>&1 || return 1
  lab_alive "$1" dnsmasq
}

# ---- The switch: it runs without a console and serves operator sessions on DIR/vty.sock, which `cli` speaks
# ---- to with dhcpftr-cli; what it prints goes to DIR/switch.out. Its startup configuration is
# ---- DIR/startup-config ("write memory" saves it, a restart replays it).
lab_start_switch() {  # BINARY
  : >"$lab_dir/switch.out"
  echo "$1" >"$lab_dir/switch.binary"
  lab_run_switch
}

# Starts the switch; true once it runs and its socket is there (clients wait in the socket's queue while it
# boots).
lab_run_switch() {
  local binary i comm
  binary=$(cat "$lab_dir/switch.binary")
  rm -f "$lab_dir/vty.sock"   # a switch killed with SIGKILL leaves its socket
  ip netns exec "$(lab_ns sw)" setsid "$binary" --no-console --vty-socket "$lab_dir/vty.sock" \
    --startup-config "$lab_dir/startup-config" --log-file "$lab_dir/switch.log" --log-level 104 \
    </dev/null >>"$lab_dir/switch.out" 2>&1 &
  echo $! >"$lab_dir/switch.pid"
  comm=$(basename "$binary" | cut -c 1-15)
  echo "$comm" >"$lab_dir/switch.comm"
  for ((i = 0; i < 50; i++)); do
    lab_alive switch "$comm" && [[ -S $lab_dir/vty.sock ]] && return 0
    sleep 0.1
  done
  return 1
}

lab_switch_comm() { cat "$lab_dir/switch.comm" 2>/dev/null || echo dhcpftr; }

lab_client_binary() {
  local b dir
  dir=$(dirname "$(cat "$lab_dir/switch.binary")")
  for b in ${DHCPFTR_CLI:-} "$dir/dhcpftr-cli" "$dir/tools/dhcpftr-cli/dhcpftr-cli" "$lab_root/build/dhcpftr-cli"; do
    [[ -x $b ]] && { echo "$b"; return 0; }
  done
  return 1
}

# Runs lines in one session with the switch (standard input without LINEs); prints their output. Fails when
# the switch cannot be reached or does not finish within 60 s; a refused line is no failure (its "% ..." line
# is in the output).
lab_cli() {  # [LINE...]
  [[ -e $lab_dir/switch.binary ]] || lab_die "no lab is up in $lab_dir"
  lab_alive switch "$(lab_switch_comm)" || lab_die "the switch is not running (log: $lab_dir/switch.log)"
  local client line args=()
  client=$(lab_client_binary) || lab_die "no dhcpftr-cli: run make (or set DHCPFTR_CLI)"
  if [[ $# -eq 0 ]]; then
    args=(-f -)
  else
    for line in "$@"; do args+=(-c "$line"); done
  fi
  timeout 60 "$client" -s "$lab_dir/vty.sock" "${args[@]}"
  case $? in
    0 | 1) return 0 ;;
    124) lab_die "the switch did not answer within 60 s" ;;
    *) lab_die "the switch cannot be reached (log: $lab_dir/switch.log)" ;;
  esac
}

# ---- Leases: udhcpc once in a client's namespace. It configures nothing: its script writes the lease into
# ---- the file named by LAB_RESULT.
lab_write_udhcpc_script() {
  cat >"$lab_dir/udhcpc.script" <<'SCRIPT'
#!/bin/sh
# udhcpc's event script of the lab: records the lease, configures nothing.
case $1 in
  bound) echo "$ip $serverid" >"$LAB_RESULT" ;;
esac
SCRIPT
  chmod +x "$lab_dir/udhcpc.script"
}

# One exchange in namespace NS: prints "IP SERVER", or nothing when there is no lease. udhcpc starts with a
# DISCOVER every time.
lab_exchange() {  # NS LOG
  local result="$lab_dir/exchange.$BASHPID"
  : >"$result"
  LAB_RESULT=$result timeout $((lab_tries + 10)) ip netns exec "$1" \
    udhcpc -f -i eth0 -n -q -t "$lab_tries" -T 1 -s "$lab_dir/udhcpc.script" >>"$2" 2>&1
  cat "$result"
  rm -f "$result"
}

lab_lease() {  # N
  local n=$1 ns out ip server
  [[ $n =~ ^[0-9]+$ ]] || lab_die "usage: lab.sh lease N"
  ns=$(lab_ns "cli$n")
  ip netns list | awk '{print $1}' | grep -qx "$ns" || lab_die "no client $n in this lab"
  out=$(lab_exchange "$ns" "$lab_dir/cli$n.log")
  if [[ -n $out ]]; then
    read -r ip server _ <<<"$out"
    echo "client $n: $ip from $server"
  else
    echo "client $n: no lease"
    return 1
  fi
}

# ---- up, down, status
# Everything the lab started ends and its namespaces go; the logs and the switch's output stay in DIR.
lab_down() {
  # The switch ends on SIGTERM, taking its ports out of the bridge (a sanitizer's report at exit lands in
  # switch.out).
  lab_stop switch "$(lab_switch_comm)"
  lab_stop srv dnsmasq
  lab_stop rogue dnsmasq
  local ns pid
  for ns in $(lab_netns_names); do
    # What still runs inside the lab's own namespaces is the lab's (an interrupted udhcpc).
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -KILL "$pid" 2>/dev/null; done
    ip netns del "$ns" 2>/dev/null
  done
  [[ -d $lab_dir ]] &&
    rm -f "$lab_dir"/{netns,clients,vty.sock,switch.comm,switch.binary,udhcpc.script,exchange.*}
  return 0
}

lab_mapping() {
  local n=${1:-0} i
  printf '%-8s %-10s %-24s %-18s %s\n' Port "Host if" Role MAC Namespace
  printf '%-8s %-10s %-24s %-18s %s\n' eth1.1 srv "server $LAB_SRV_IP" $LAB_SRV_MAC "$(lab_ns srv)"
  printf '%-8s %-10s %-24s %-18s %s\n' eth1.2 rogue "rogue server $LAB_ROGUE_IP" $LAB_ROGUE_MAC "$(lab_ns rogue)"
  for ((i = 1; i <= n; i++)); do
    printf '%-8s %-10s %-24s %-18s %s\n' "eth1.$((i + 2))" "cli$i" "client $i" "$(lab_client_mac "$i")" "$(lab_ns "cli$i")"
  done
}

lab_up() {  # CLIENTS
  local n=${1:-1} binary i out
  [[ $n =~ ^[0-9]+$ && $n -ge 1 && $n -le $lab_max_clients ]] || lab_die "CLIENTS is 1 to $lab_max_clients"
  lab_require
  binary=$(lab_switch_binary) || lab_die "no switch binary: run make (or set DHCPFTR)"
  [[ -e $lab_dir/netns || -e $lab_dir/switch.binary ]] && lab_die "a lab is up in $lab_dir: lab.sh down first"
  [[ -n $(lab_netns_names) ]] && lab_die "namespaces of $lab_prefix exist: lab.sh down first"
  mkdir -p "$lab_dir" || lab_die "cannot create $lab_dir"
  rm -f "$lab_dir"/*.log "$lab_dir/switch.out" "$lab_dir/startup-config"   # of a lab before
  : >"$lab_dir/netns"

  # From here on a failure or an interruption takes down what was built.
  trap 'lab_down; exit 130' INT TERM HUP
  fail() { echo "lab: $*" >&2; lab_down; exit 1; }

  if ! out=$(lab_netns_add "$(lab_ns sw)" 2>&1); then
    lab_down
    lab_unable "cannot create network namespaces here: $out"
  fi
  for i in srv rogue $(seq -f 'cli%g' 1 "$n"); do
    lab_netns_add "$(lab_ns "$i")" || fail "cannot create namespace $(lab_ns "$i")"
  done
  lab_veth "$(lab_ns sw)" srv "$(lab_ns srv)" $LAB_SRV_MAC || fail "cannot create the veth pair of the server"
  lab_veth "$(lab_ns sw)" rogue "$(lab_ns rogue)" $LAB_ROGUE_MAC || fail "cannot create the veth pair of the rogue"
  for ((i = 1; i <= n; i++)); do
    lab_veth "$(lab_ns sw)" "cli$i" "$(lab_ns "cli$i")" "$(lab_client_mac "$i")" ||
      fail "cannot create the veth pair of client $i"
  done
  echo "$n" >"$lab_dir/clients"

  lab_dnsmasq srv "$(lab_ns srv)" $LAB_SRV_IP $lab_srv_range ||
    fail "the server's dnsmasq did not start: $(tail -n 3 "$lab_dir/srv.log" 2>/dev/null)"
  lab_dnsmasq rogue "$(lab_ns rogue)" $LAB_ROGUE_IP $lab_rogue_range ||
    fail "the rogue's dnsmasq did not start: $(tail -n 3 "$lab_dir/rogue.log" 2>/dev/null)"
  lab_write_udhcpc_script

  lab_start_switch "$binary" || fail "the switch did not start: $(tail -n 5 "$lab_dir/switch.out")"
  out=$(lab_attach 2>&1)
  case $? in
    0) ;;
    77) lab_down; lab_unable "${out#lab: }" ;;
    *) fail "${out#lab: }" ;;
  esac

  trap - INT TERM HUP
  echo "lab $lab_prefix is up ($lab_dir), switch $binary"
  lab_mapping "$n"
}

# Attaches every port of the lab that the switch has not attached: after a restart the replay of a saved
# startup configuration has attached its ports (or they wait for the take-over after a kill), and the
# switch answers "% PORT is attached to HOST already" for those.
lab_attach() {
  local n i out attach=("platform port attach eth1.1 srv" "platform port attach eth1.2 rogue")
  n=$(cat "$lab_dir/clients")
  for ((i = 1; i <= n; i++)); do attach+=("platform port attach eth1.$((i + 2)) cli$i"); done
  out=$(lab_cli "${attach[@]}") || return 1
  out=$(grep -v '^% eth1\.[0-9]* is attached to [a-z0-9]* already$' <<<"$out")
  [[ -z $out ]] && return 0
  echo "lab: the switch refused to attach its ports: $out" >&2
  # No BPF here (no rights to load programs, or a build without it): this machine cannot host the lab.
  [[ $out == "% Screening in the kernel"* ]] && return 77
  return 1
}

# Ends the switch, by SIGTERM (it takes its ports out of the bridge) or SIGKILL (its program goes on
# screening them), and starts it again with the same startup configuration, which attaches the ports it
# saved; lab_attach attaches the rest.
lab_restart() {  # [-9]
  local pid comm i
  [[ -e $lab_dir/switch.binary ]] || lab_die "no lab is up in $lab_dir"
  [[ -z ${1:-} || $1 == -9 ]] || lab_die "usage: lab.sh restart [-9]"
  comm=$(lab_switch_comm)
  if lab_alive switch "$comm"; then
    pid=$(cat "$lab_dir/switch.pid")
    kill "${1:--TERM}" "$pid"
    for ((i = 0; i < 100; i++)); do
      lab_alive switch "$comm" || break
      sleep 0.05
    done
    lab_alive switch "$comm" && lab_die "the switch (pid $pid) did not end"
  fi
  lab_run_switch || lab_die "the switch did not start again: $(tail -n 5 "$lab_dir/switch.out")"
  lab_attach || exit 1
}

lab_status() {
  local n name
  if [[ ! -e $lab_dir/netns ]]; then
    echo "no lab is up in $lab_dir"
    [[ -z $(lab_netns_names) ]] || echo "namespaces left: $(lab_netns_names | tr '\n' ' ')(lab.sh down removes them)"
    return 1
  fi
  n=$(cat "$lab_dir/clients" 2>/dev/null || echo 0)
  echo "lab $lab_prefix in $lab_dir, $n client(s)"
  for name in switch:"$(lab_switch_comm)" srv:dnsmasq rogue:dnsmasq; do
    if lab_alive "${name%%:*}" "${name#*:}"; then
      printf '  %-7s %-8s pid %s\n' "${name%%:*}" running "$(cat "$lab_dir/${name%%:*}.pid")"
    else
      printf '  %-7s %s\n' "${name%%:*}" stopped
    fi
  done
  echo "  namespaces: $(lab_netns_names | tr '\n' ' ')"
  lab_mapping "$n" | sed 's/^/  /'
  if lab_alive switch "$(lab_switch_comm)"; then lab_cli "platform port show" | sed 's/^/  /'; fi
}

lab_server() {  # srv|rogue stop|start
  local ip range
  case $1 in
    srv) ip=$LAB_SRV_IP range=$lab_srv_range ;;
    rogue) ip=$LAB_ROGUE_IP range=$lab_rogue_range ;;
    *) lab_die "usage: lab.sh server srv|rogue stop|start" ;;
  esac
  [[ -e $lab_dir/netns ]] || lab_die "no lab is up in $lab_dir"
  case ${2:-} in
    stop) lab_stop "$1" dnsmasq ;;
    start) lab_alive "$1" dnsmasq || lab_dnsmasq "$1" "$(lab_ns "$1")" "$ip" "$range" ||
      lab_die "dnsmasq of $1 did not start: $(tail -n 3 "$lab_dir/$1.log")" ;;
    *) lab_die "usage: lab.sh server srv|rogue stop|start" ;;
  esac
}

lab_main() {
  local cmd=${1:-}
  shift || true
  case $cmd in
    up) lab_up "$@" ;;
    down) [[ $(id -u) -eq 0 ]] || lab_unable "needs root"; lab_down ;;
    status) lab_status ;;
    cli) lab_cli "$@" ;;
    lease) lab_lease "${1:-}" ;;
    server) lab_server "${1:-}" "${2:-}" ;;
    restart) lab_restart "$@" ;;
    *) echo "usage: lab.sh up [CLIENTS] | down | status | cli [LINE...] | lease N | server srv|rogue stop|start | restart [-9]" >&2
       exit 2 ;;
  esac
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  set -uo pipefail
  lab_main "$@"
fi
