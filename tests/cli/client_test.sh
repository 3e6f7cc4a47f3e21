#!/usr/bin/env bash
# dhcpftr-cli against a running switch (dhcpftr --no-console --vty-socket): lines of -c, -f FILE and -f - run
# in order in one session with only their output printed, the exit statuses 0, 1 and 2 with their messages,
# the socket from DHCPFTR_VTY and -s, a long pipelined run whose requests and output outgrow the buffers, and,
# when the client has readline (DHCPFTR_CLI_READLINE=1) and python3 is there, a session at a terminal, and its
# paging and log lines (terminal_test.py).
#
#   [DHCPFTR_CLI_READLINE=1] client_test.sh DHCPFTR DHCPFTR_CLI
#
# Exit 77 (skipped) in a cross build run under an emulator. The switch is stopped by PID and the work
# directory removed, also when a check fails or the test is interrupted.
set -uo pipefail

dhcpftr=$(realpath -- "$1") || exit 2
cli=$(realpath -- "$2") || exit 2
[[ -z ${DHCPFTR_EMULATOR-} ]] || { echo "skipped: cross build under an emulator"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/dhcpftr-cli.XXXXXX")
switch_pid=
cleanup() {
  if [[ -n $switch_pid ]]; then
    kill "$switch_pid" 2>/dev/null
    wait "$switch_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

sock=$work/vty.sock
(cd "$work" && exec "$dhcpftr" --no-console --vty-socket "$sock") >"$work/switch.log" 2>&1 &
switch_pid=$!
for ((i = 0; i < 100; i++)); do [[ -S $sock ]] && break; sleep 0.05; done
[[ -S $sock ]] || { echo "FAIL: the switch did not open $sock"; cat "$work/switch.log"; exit 1; }

failures=0
# check NAME STATUS STDOUT STDERR [VAR=VALUE...] -- ARG...: runs dhcpftr-cli with ARGs (standard input from
# $work/stdin when it exists), with the environment's variables, and compares its exit status, standard output
# and standard error with the expected ones, exactly.
check() {
  local name=$1 status=$2 out=$3 err=$4
  shift 4
  local env=()
  while [[ $1 != -- ]]; do env+=("$1"); shift; done
  shift
  local input=/dev/null
  [[ -f $work/stdin ]] && input=$work/stdin
  env -u DHCPFTR_VTY "${env[@]}" "$cli" "$@" <"$input" >"$work/out" 2>"$work/err"
  local got=$?
  rm -f "$work/stdin"
  local ok=1
  [[ $got == "$status" ]] || { echo "exit status: expected $status, got $got"; ok=0; }
  diff -u --label "stdout expected" --label "stdout actual" <(printf '%s' "$out") "$work/out" || ok=0
  diff -u --label "stderr expected" --label "stderr actual" <(printf '%s' "$err") "$work/err" || ok=0
  if [[ $ok == 1 ]]; then echo "ok: $name"; else echo "FAIL: $name"; failures=$((failures + 1)); fi
}

show_empty='   Enable ports: 
   Filter DHCP Server Trap_Log State: Disable
   Illegal Server Log Suppress Duration: 10 minutes
   Filter DHCP Server/Client List: 
'
show_one='   Enable ports: eth1.1-1.4
   Filter DHCP Server Trap_Log State: Disable
   Illegal Server Log Suppress Duration: 10 minutes
   Filter DHCP Server/Client List: 
      Server IP Address Client MAC Address Port
      10.0.0.5          00:1A:2B:3C:4D:5E  eth1.5

   Total Entries: 1
'
unknown='% Unknown command
'

# Every line in one session (the mode carries over), in order, only the output.
check "-c lines in one session" 0 "$show_empty$show_one" "" -- -s "$sock" \
  -c "show ip dhcp screening" -c "configure terminal" -c "ip dhcp screening ports eth1.1-1.4" \
  -c "ip dhcp screening server-ip 10.0.0.5 client-mac 00:1a:2b:3c:4d:5e ports eth1.5" -c end \
  -c "show ip dhcp screening"
check "a refused line, the lines after it still run" 1 "$unknown$show_one" "" -- -s "$sock" \
  -c frobnicate -c "show ip dhcp screening"
check "an invalid word pointed at under the line, no prompt shown" 1 "show ip dhcp screenng
             ^
% Invalid input detected at '^' marker.
" "" -- -s "$sock" -c "show ip dhcp screenng"
check "a line that ends the session is the last one run" 1 "$show_one" \
  "dhcpftr-cli: line 2 ended the session; 1 line after it not run
" -- -s "$sock" -c "show ip dhcp screening" -c exit -c "show ip dhcp screening"
check "exit as the last line" 0 "" "" -- -s "$sock" -c exit

# Files: blank lines and comments skipped; "-" is standard input, and so is standard input without -c or -f.
printf '! the rules\n\nconfigure terminal\n  ! indented comment\nno ip dhcp screening server-ip 10.0.0.5 client-mac 00:1a:2b:3c:4d:5e ports eth1.5\r\nno ip dhcp screening ports eth1.1-1.4\nend\nshow ip dhcp screening\n' \
  >"$work/lines.conf"
check "-f FILE" 0 "$show_empty" "" -- -s "$sock" -f "$work/lines.conf"
printf 'show ip dhcp screening\nfrobnicate' >"$work/stdin"
check "-f - and a last line without a newline" 1 "$show_empty$unknown" "" -- -s "$sock" -f -
printf 'show ip dhcp screening\n' >"$work/stdin"
check "standard input without -c or -f" 0 "$show_empty" "" -- -s "$sock"
check "-f of a missing file" 2 "" "dhcpftr-cli: cannot read $work/none.conf: No such file or directory
" -- -s "$sock" -f "$work/none.conf"

# Where the switch is: DHCPFTR_VTY, overridden by -s; unreachable sockets.
check "DHCPFTR_VTY" 0 "$show_empty" "" DHCPFTR_VTY="$sock" -- -c "show ip dhcp screening"
check "-s over DHCPFTR_VTY" 0 "$show_empty" "" DHCPFTR_VTY="$work/none.sock" -- -s "$sock" \
  -c "show ip dhcp screening"
check "no switch at the socket" 2 "" "dhcpftr-cli: cannot reach the switch at $work/none.sock: No such file or directory
" -- -s "$work/none.sock" -c "show ip dhcp screening"
check "DHCPFTR_VTY unreachable" 2 "" "dhcpftr-cli: cannot reach the switch at $work/lines.conf: Connection refused
" DHCPFTR_VTY="$work/lines.conf" -- -c "show ip dhcp screening"
check "a wrong option" 2 "" "dhcpftr-cli: unknown option --frobnicate
usage: dhcpftr-cli [-s SOCKET] [-c LINE]... [-f FILE]...
       dhcpftr-cli --help | --version
" -- --frobnicate

# A socket whose server greets with something else.
if command -v python3 >/dev/null 2>&1; then
  python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX); s.bind(sys.argv[1]); s.listen(1); print(flush=True)
c, _ = s.accept(); c.sendall(b"0001-dhcpftr 4.0.0 protocol 2\n0000 switch#\n"); c.recv(100)' "$work/other.sock" \
    >"$work/other.ready" &
  other_pid=$!
  for ((i = 0; i < 100; i++)); do [[ -s $work/other.ready ]] && break; sleep 0.05; done
  check "a switch of another protocol" 2 "" "dhcpftr-cli: cannot reach the switch at $work/other.sock: the greeting does not name protocol 1: \"dhcpftr 4.0.0 protocol 2\"
" -- -s "$work/other.sock" -c "show ip dhcp screening"
  kill "$other_pid" 2>/dev/null
  wait "$other_pid" 2>/dev/null
fi

# At a terminal (readline when the build has it): TAB completes a unique keyword and lists several, "?" prints
# the help under the line and shows the line again without the "?", Ctrl-C abandons the line, the prompt
# follows the mode, "exit" ends the session with status 0. Keys go in one at a time, each after the screen
# showed all that the one before it brings (a Ctrl-C sent earlier would race with the answer the switch is
# still sending); the screen is compared without its carriage returns.
if command -v python3 >/dev/null 2>&1 && [[ ${DHCPFTR_CLI_READLINE-} == 1 ]]; then
  python3 - "$cli" "$sock" >"$work/screen" 2>&1 <<'EOF'
import fcntl, os, pty, select, struct, sys, termios, time
pid, fd = pty.fork()
if pid == 0:
    os.environ["TERM"] = "dumb"
    os.execv(sys.argv[1], [sys.argv[1], "-s", sys.argv[2]])
fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
screen = b""
def until(marker):
    global screen
    end = time.time() + 5
    while not screen.replace(b"\r", b"").endswith(marker) and time.time() < end:
        if select.select([fd], [], [], 0.1)[0]:
            try:
                screen += os.read(fd, 4096)
            except OSError:
                return
until(b"switch# ")
for keys, marker in [(b"sh\t", b"show "), (b"ip ?", b"DHCP\nswitch# show ip "), (b"\x03", b"switch# "),
                     (b"conf\tt\r", b"(config)# "), (b"ip dhcp screening \t", b"trap-log\nswitch(config)# ip dhcp screening "),
                     (b"\x03", b"(config)# "), (b"end\r", b"switch# "), (b"exit\r", b"\xff")]:
    os.write(fd, keys)
    until(marker)
status = os.waitpid(pid, 0)[1]
sys.stdout.write(screen.decode().replace("\r", "") + "\nstatus %d\n" % os.waitstatus_to_exitcode(status))
EOF
  expected='switch# show ip 
  dhcp                   DHCP
switch# show ip ^C
switch# configure t
switch(config)# ip dhcp screening 
ports              server-ip          suppress-duration  trap-log
switch(config)# ip dhcp screening ^C
switch(config)# end
switch# exit

status 0'
  if diff -u --label "screen expected" --label "screen actual" <(printf '%s\n' "$expected") "$work/screen"; then
    echo "ok: at a terminal"
  else
    echo "FAIL: at a terminal"
    failures=$((failures + 1))
  fi
fi

# 10,000 lines sent at once, about 230 KB of requests for 1.7 MB of output: more than the socket holds
# either way and more than the switch keeps for a client that does not read, so the client must read while it
# sends. Every reply must come, in order.
for ((i = 0; i < 10000; i++)); do echo "show ip dhcp screening"; done >"$work/long.conf"
for ((i = 0; i < 10000; i++)); do printf '%s' "$show_empty"; done >"$work/long.expected"
"$cli" -s "$sock" -f "$work/long.conf" >"$work/long.out" 2>"$work/long.err"
status=$?
if [[ $status == 0 ]] && cmp -s "$work/long.expected" "$work/long.out" && [[ ! -s $work/long.err ]]; then
  echo "ok: 10,000 lines pipelined"
else
  echo "FAIL: 10,000 lines pipelined: status $status, $(wc -l <"$work/long.out") lines; $(cat "$work/long.err")"
  failures=$((failures + 1))
fi

# Paging and log lines at a terminal, the protocol's 1004 and 2000 lines, and log lines with -c (last: it
# leaves rules configured).
if command -v python3 >/dev/null 2>&1 && [[ ${DHCPFTR_CLI_READLINE-} == 1 ]]; then
  if python3 "$(dirname -- "$0")/terminal_test.py" "$cli" "$sock" \
    "$(realpath -- "$(dirname -- "$0")/../data/captures/zeek-dhcp.pcap")" >"$work/paging" 2>&1; then
    echo "ok: paging and log lines"
  else
    echo "FAIL: paging and log lines"
    cat "$work/paging"
    failures=$((failures + 1))
  fi
fi

# The switch goes away: a new session cannot reach it.
kill "$switch_pid"
wait "$switch_pid" 2>/dev/null
switch_pid=
check "the switch stopped" 2 "" "dhcpftr-cli: cannot reach the switch at $sock: No such file or directory
" -- -s "$sock" -c "show ip dhcp screening"

[[ $failures == 0 ]] || { echo "$failures failed"; exit 1; }
