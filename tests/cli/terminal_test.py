#!/usr/bin/env python3
"""dhcpftr-cli at a terminal of 24 rows against a running switch: output longer than a page stops at
" --More-- " (space: the next 23 lines, return: one, other keys: nothing, q and Ctrl-C: the prompt), and
"terminal length", which the switch tells the client with 1004, sets the page. After "terminal monitor" the
switch sends log lines as 2000 lines after the reply of the command that brought them; the client shows
them above the prompt and the line being typed, and with -c among the outputs.

usage: terminal_test.py DHCPFTR_CLI SOCKET CAPTURE
The switch must let the session configure it (level 15) and have no configuration yet; the test leaves 50
rules, screening on eth1.2-1.4 and the trap/log on.
"""
import os
import re
import select
import socket
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from pty_program import PtyProgram  # noqa: E402

MORE = " --More-- "
REPORT = "platform.104 kernel: illegal DHCP server 128.2.6.152 on {}, client 90:B1:1C:99:49:29"


def main():
    cli, sock, capture = sys.argv[1:4]
    failures = []

    def run(*lines):
        args = [cli, "-s", sock]
        for line in lines:
            args += ["-c", line]
        return subprocess.run(args, capture_output=True, text=True, timeout=20).stdout

    run("configure terminal", *(f"ip dhcp screening server-ip 10.0.{i}.1 ports eth1.1" for i in range(1, 51)),
        "ip dhcp screening ports eth1.2-1.4", "ip dhcp screening trap-log", "end")
    lines = run("show running-config").splitlines()

    terminal = PtyProgram([cli, "-s", sock])
    type_and_read = terminal.type_and_read

    show = b"show running-config\r"
    steps = [
        # (keys, lines of the running configuration shown next (None: nothing new shows), what follows them)
        (show, 23, MORE),
        (b" ", 23, MORE),
        (b"\r", 1, MORE),
        (b"x", None, None),
        (b"q", 0, "switch# "),
        (show, 23, MORE),
        (b"\x03", 0, "switch# "),
        (b"terminal length 0\r", 0, "switch# "),
        (show, len(lines), "switch# "),
    ]
    try:
        type_and_read(b"")
        shown_so_far = 0
        for keys, count, end in steps:
            shown = type_and_read(keys)
            if len(keys) > 1:  # a line typed: echoed, its output starts
                echo = keys.decode().replace("\r", "\n")
                if not shown.startswith(echo):
                    failures.append(f"after {keys!r}: expected the line echoed, the terminal shows {shown!r}")
                    break
                shown, shown_so_far = shown[len(echo):], 0
            expected = ""
            if count is not None:
                expected = "".join(line + "\n" for line in lines[shown_so_far:shown_so_far + count]) + end
                shown_so_far += count
            if shown != expected:
                failures.append(f"after {keys!r}: expected the terminal to show {expected!r}, it shows {shown!r}")
                break
        else:
            # Another session's command brings a log line: above the prompt and the line being typed.
            type_and_read(b"terminal monitor\r")
            type_and_read(b"terminal len")
            run(f"platform traffic replay {capture} ingress eth1.2")
            shown = type_and_read(b"")
            if not re.fullmatch(r"[^\n]+: " + re.escape(REPORT.format("eth1.2")) + r"\nswitch# terminal len", shown):
                failures.append(f"expected the report above the line typed, the terminal shows {shown!r}")
            shown = type_and_read(b"gth 0\r")
            if shown != "gth 0\nswitch# ":
                failures.append(f"the line typed did not stay: the terminal shows {shown!r}")
    finally:
        terminal.kill()

    # The protocol's lines: 1004 in the reply of "terminal length", 2000 after the reply of the command that
    # logged.
    with socket.socket(socket.AF_UNIX) as session:
        session.connect(sock)
        session.sendall(f"run terminal length 7\nrun terminal monitor\n"
                        f"run platform traffic replay {capture} ingress eth1.3\n".encode())
        got = b""
        while b"\n2000-" not in got or not got.endswith(b"\n"):
            data = session.recv(65536) if select.select([session], [], [], 5)[0] else b""
            if not data:
                break
            got += data
        if not re.fullmatch(r"0001-[^\n]*\n0000 switch#\n1004-7\n0000 switch#\n0000 switch#\n"
                            r"1000-Replayed 9 frames on eth1\.3: [^\n]*\n0000 switch#\n2000-[^\n]+: " +
                            re.escape(REPORT.format("eth1.3")) + r"\n", got.decode()):
            failures.append(f"a monitoring session got {got.decode()!r}")

    # With -c the log lines come among the outputs, in order.
    got = run("terminal monitor", f"platform traffic replay {capture} ingress eth1.4", "terminal length 24")
    if not re.fullmatch(r"Replayed 9 frames on eth1\.4: [^\n]*\n[^\n]+: " + re.escape(REPORT.format("eth1.4")) +
                        r"\n", got):
        failures.append(f"-c with terminal monitor printed {got!r}")

    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
