#!/usr/bin/env bash
# A private SNMP master agent (net-snmp's snmpd) for development and tests: it listens on 127.0.0.1 only, on
# a free UDP port of its own choosing, and is an AgentX master with its socket at DIR/agentx.sock, for
# `dhcpftr --agentx DIR/agentx.sock`. Everything it reads and writes is in DIR: no root needed, no host
# configuration read, and the host's own snmpd (if any) is neither used nor disturbed.
#
#   scripts/snmp_master.sh start DIR     start; prints SNMP_PORT=, SNMP_AGENTX=, SNMP_PID= (also in DIR/master.env)
#   scripts/snmp_master.sh stop DIR      stop the master of DIR and wait until it is gone
#   scripts/snmp_master.sh restart DIR   stop, then start again on the same port and socket path
#   scripts/snmp_master.sh status DIR    the lines of start and exit 0 while it runs; exit 1 otherwise
#
# Communities: public (read-only) and private (read-write), from 127.0.0.1 only. With SNMP_TRAP_SINK=host:port
# in the environment of start or restart, notifications go there (SNMPv2c, community public). DIR holds snmpd.conf,
# snmpd.pid, snmpd.log, persist/ (net-snmp's persistent directory), agentx.sock and master.env.
set -euo pipefail

me=snmp_master.sh
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
start_timeout=10   # seconds for snmpd to answer and to open its AgentX socket
stop_timeout=5     # seconds for snmpd to end after SIGTERM (then SIGKILL)

die() { echo "$me: $*" >&2; exit 1; }
usage() { die "usage: $me start|stop|restart|status DIR"; }

[[ $# -eq 2 ]] || usage
cmd=$1
dir=$2
case $cmd in start|stop|restart|status) ;; *) usage ;; esac
[[ $dir != *[[:space:]]* ]] || die "DIR must not contain white space: '$dir'"
if [[ $cmd == start || $cmd == restart ]]; then
  mkdir -p "$dir" || die "cannot create $dir"
fi
[[ -d $dir ]] || die "no directory $dir"
dir=$(cd "$dir" && pwd -P)

conf=$dir/snmpd.conf
pidfile=$dir/snmpd.pid
log=$dir/snmpd.log
envfile=$dir/master.env
persist=$dir/persist
sock=$dir/agentx.sock
# A Unix socket's path has room for 107 bytes.
[[ ${#sock} -le 107 ]] || die "socket path too long for a Unix socket (${#sock} > 107 bytes): $sock"

# Every net-snmp program run here reads configuration only from DIR and keeps its persistent files in DIR.
export SNMPCONFPATH=$dir SNMP_PERSISTENT_DIR=$persist

# A live process, not a zombie.
alive() { [[ -r /proc/$1/stat ]] && [[ $(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) != Z ]]; }

# The PID of DIR's master when it runs: the PID file's process, if it is an snmpd using DIR's configuration.
running_pid() {
  local pid
  [[ -s $pidfile ]] || return 1
  read -r pid <"$pidfile" || return 1
  [[ $pid =~ ^[0-9]+$ ]] && alive "$pid" || return 1
  [[ $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) == snmpd\ *" -c $conf "* ]] || return 1
  echo "$pid"
}

env_lines() {  # port pid
  printf 'SNMP_PORT=%q\nSNMP_AGENTX=%q\nSNMP_PID=%q\n' "$1" "$sock" "$2"
}

answers() {  # port
  snmpget -v2c -c public -t 0.5 -r 0 -m '' -Oqv "127.0.0.1:$1" .1.3.6.1.2.1.1.3.0 >/dev/null 2>&1
}

# Ends pid (an snmpd of DIR) and waits until it is gone.
end_process() {
  local pid=$1 i
  kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < stop_timeout * 10; i++)); do
    alive "$pid" || break
    sleep 0.1
  done
  if alive "$pid"; then
    echo "$me: snmpd $pid did not end on SIGTERM within ${stop_timeout}s; SIGKILL" >&2
    kill -KILL "$pid" 2>/dev/null || true
    for ((i = 0; i < 20; i++)); do alive "$pid" || break; sleep 0.1; done
    alive "$pid" && die "snmpd $pid does not end"
  fi
  # Reaped when it is our own child (a failed start); otherwise its parent reaps it.
  wait "$pid" 2>/dev/null || true
}

write_conf() {
  cat >"$conf" <<EOF
# Written by scripts/snmp_master.sh; rewritten at every start.
master agentx
agentXSocket $sock
agentXPerms 0600 0700
# The master waits this long for a subagent's answer, once; a subagent that does not answer in time is
# disconnected. Generous enough for a subagent under valgrind or qemu.
agentXTimeout 5
agentXRetries 0
rocommunity public 127.0.0.1
rwcommunity private 127.0.0.1
dontLogTCPWrappersConnects yes
EOF
  # Notifications of subagents go to SNMP_TRAP_SINK (host:port), when it is set.
  if [[ -n ${SNMP_TRAP_SINK-} ]]; then
    echo "trap2sink $SNMP_TRAP_SINK public" >>"$conf"
  fi
}

# Starts snmpd on port; prints its PID. Returns 2 when the port is taken, 1 on any other failure (the
# reason on stderr); whatever it started is ended then.
try_start() {
  local port=$1 offset pid i
  rm -f "$pidfile"
  offset=$(stat -c %s "$log" 2>/dev/null || echo 0)
  # -f: no fork, so the PID is known at once; -A: the log is appended to; -C -c: only DIR's configuration; -I: only the built-in
  # modules needed (sysUpTime and the rest of the system group, sysORTable for subagents' capabilities,
  # the community lines); -m '': no MIB module loaded (the configuration uses none).
  snmpd -f -A -C -c "$conf" -p "$pidfile" -Lf "$log" -M "$root/mibs/ietf" -m '' \
    -I system_mib,sysORTable,vacm_conf "udp:127.0.0.1:$port" </dev/null >/dev/null 2>&1 &
  pid=$!
  for ((i = 0; i < start_timeout * 10; i++)); do
    if ! alive "$pid"; then
      wait "$pid" 2>/dev/null || true
      if tail -c +$((offset + 1)) "$log" 2>/dev/null | grep -q 'Error opening .*endpoint'; then
        return 2
      fi
      echo "$me: snmpd exited at start; $log says:" >&2
      tail -c +$((offset + 1)) "$log" 2>/dev/null | tail -n 20 >&2
      return 1
    fi
    if [[ -S $sock ]] && answers "$port"; then
      echo "$pid"
      return 0
    fi
    sleep 0.1
  done
  if [[ ! -S $sock ]]; then
    echo "$me: snmpd opened no AgentX socket at $sock within ${start_timeout}s" >&2
  else
    echo "$me: snmpd does not answer on 127.0.0.1:$port within ${start_timeout}s" >&2
  fi
  tail -c +$((offset + 1)) "$log" 2>/dev/null | tail -n 20 >&2
  end_process "$pid"
  return 1
}

start() {  # [port]: that port only; otherwise a free one
  local port=${1-} pid tries rc
  command -v snmpd >/dev/null 2>&1 || die "snmpd is missing (apt-get install snmpd)"
  command -v snmpget >/dev/null 2>&1 || die "snmpget is missing (apt-get install snmp)"
  if pid=$(running_pid); then
    die "a master already runs in $dir (pid $pid); stop it first"
  fi
  rm -f "$envfile" "$sock"
  mkdir -p "$persist"
  write_conf
  for ((tries = 0; tries < 20; tries++)); do
    # Random ports below the kernel's ephemeral range (32768 and up), where client sockets come from.
    local p=${port:-$((10000 + (RANDOM * 32768 + RANDOM) % 22000))}
    rc=0
    pid=$(try_start "$p") || rc=$?
    if [[ $rc -eq 0 ]]; then
      env_lines "$p" "$pid" >"$envfile"
      cat "$envfile"
      return 0
    fi
    [[ $rc -eq 2 ]] || die "start failed (log: $log)"
    [[ -z $port ]] || die "port $port is taken; cannot start on it again"
  done
  die "no free UDP port found in $tries tries"
}

stop() {
  local pid
  if pid=$(running_pid); then
    end_process "$pid"
  fi
  rm -f "$pidfile" "$envfile" "$sock"
}

case $cmd in
  start)
    start
    ;;
  stop)
    stop
    ;;
  restart)
    port=
    if [[ -s $envfile ]]; then
      port=$(sed -n 's/^SNMP_PORT=\([0-9]*\)$/\1/p' "$envfile")
    fi
    [[ -n $port ]] || die "no port known in $envfile: start it first"
    stop
    start "$port"
    ;;
  status)
    if pid=$(running_pid) && [[ -s $envfile ]]; then
      cat "$envfile"
    else
      echo "$me: no master runs in $dir" >&2
      exit 1
    fi
    ;;
esac
