#!/usr/bin/env python3
"""The switch's console on a terminal: Ctrl-C abandons the line typed and Ctrl-Z is ignored (neither ends
the switch), and leaving with unsaved changes asks first: "n" stays, return ends. In a window of 24 rows,
output longer than a page stops at " --More-- ": space shows the next 23 lines, return one, other keys
nothing, q and Ctrl-C the prompt; "terminal length" sets the page. A log line shows after the output of the
command that brought it, and above the prompt and the line being typed when an operator session brings it.

usage: terminal_test.py DHCPFTR
"""
import os
import re
import shutil
import socket
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from pty_program import PtyProgram  # noqa: E402

CONFIRM = "Unsaved changes will be lost. Exit anyway? [confirm] "
MORE = " --More-- "
CAPTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "captures")
REPORT = "platform.104 kernel: illegal DHCP server 128.2.6.152 on {}, client 90:B1:1C:99:49:29"


def leaving(dhcpftr, scratch, failures):
    console = PtyProgram([dhcpftr, "--level", "15", "--startup-config", scratch + "/startup-config"])
    steps = [
        # (keys, what the terminal must end with)
        (b"", "switch# "),
        (b"configure ter", "configure ter"),
        (b"\x03", "^C\nswitch# "),
        (b"\x1a", ""),
        (b"configure terminal\nip dhcp screening server-ip 10.0.0.1 ports eth1.1\nend\nexit\n", CONFIRM),
        (b"n\n", "n\nswitch# "),
        (b"write memory\n", "Building configuration...\n[OK]\nswitch# "),
        (b"exit\n", "exit\n"),
    ]
    try:
        for keys, expected in steps:
            shown = console.type_and_read(keys)
            if not shown.endswith(expected):
                failures.append(f"after {keys!r}: expected the terminal to end with {expected!r}, it shows {shown!r}")
                return
        status = console.ended()
        if status is None:
            failures.append("the switch did not end after exit with its changes saved")
        elif status != 0:
            failures.append(f"the switch ended with status {status}")
    finally:
        console.kill()


def paging_and_log_lines(dhcpftr, scratch, failures):
    # 50 rules: "show running-config" prints 100 lines.
    config = "".join(f"ip dhcp screening server-ip 10.0.{i}.1 ports eth1.1\n!\n" for i in range(1, 51))
    with open(scratch + "/paging-config", "w") as f:
        f.write(config)
    lines = config.splitlines()
    sock = scratch + "/vty.sock"
    console = PtyProgram([dhcpftr, "--level", "15", "--startup-config", scratch + "/paging-config",
                       "--vty-socket", sock], cwd=CAPTURES)
    show = b"show running-config\n"
    steps = [
        # (keys, lines of the running configuration the terminal shows next (None: it shows nothing new),
        #  what follows them)
        (show, 23, MORE),
        (b" ", 23, MORE),
        (b"\n", 1, MORE),
        (b"x", None, None),
        (b"q", 0, "switch# "),
        (show, 23, MORE),
        (b"\x03", 0, "switch# "),
        (b"terminal length 40\n", 0, "switch# "),
        (show, 40, MORE),
        (b" ", 40, MORE),
        (b" ", 20, "switch# "),
        (b"terminal length 0\n", 0, "switch# "),
        (show, 100, "switch# "),
    ]
    try:
        console.type_and_read(b"")
        shown_so_far = 0
        for keys, count, end in steps:
            shown = console.type_and_read(keys)
            if len(keys) > 1 and keys.endswith(b"\n"):  # a line typed: echoed, its output starts
                echo = keys.decode()
                if not shown.startswith(echo):
                    failures.append(f"after {keys!r}: expected the line echoed, the terminal shows {shown!r}")
                    return
                shown = shown[len(echo):]
                shown_so_far = 0
            if count is None:
                expected = ""
            else:
                expected = "".join(line + "\n" for line in lines[shown_so_far:shown_so_far + count]) + end
                shown_so_far += count
            if shown != expected:
                failures.append(f"after {keys!r}: expected the terminal to show {expected!r}, it shows {shown!r}")
                return

        # A log line of the console's own command follows its output; one that an operator session brings
        # shows above the prompt and the line being typed, which stay.
        console.type_and_read(b"configure terminal\nip dhcp screening ports eth1.2-1.3\n"
                              b"ip dhcp screening trap-log\nend\n")
        shown = console.type_and_read(b"platform traffic replay zeek-dhcp.pcap ingress eth1.2\n")
        expected = re.compile(r".*\nReplayed 9 frames on eth1\.2: [^\n]*\n[^\n]+: " + re.escape(REPORT.format("eth1.2")) +
                              r"\nswitch# $")
        if not expected.fullmatch(shown):
            failures.append(f"after the console's replay: expected its report after its output, the terminal shows {shown!r}")
            return
        console.type_and_read(b"terminal len")
        with socket.socket(socket.AF_UNIX) as session:
            session.connect(sock)
            session.sendall(f"run platform traffic replay {CAPTURES}/zeek-dhcp.pcap ingress eth1.3\n".encode())
            reply = b""
            while b"\n0000 " not in reply:
                reply += session.recv(4096)
        shown = console.type_and_read(b"")
        expected = re.compile(r"[^\n]+: " + re.escape(REPORT.format("eth1.3")) + r"\nswitch# terminal len")
        if not expected.fullmatch(shown):
            failures.append(f"after a session's replay: expected its report above the line typed, the terminal shows {shown!r}")
            return
        shown = console.type_and_read(b"gth 0\n")
        if shown != "gth 0\nswitch# ":
            failures.append(f"the line typed did not stay: the terminal shows {shown!r}")
    finally:
        console.kill()


def main():
    scratch = tempfile.mkdtemp(prefix="dhcpftr-terminal.")
    failures = []
    try:
        leaving(sys.argv[1], scratch, failures)
        paging_and_log_lines(sys.argv[1], scratch, failures)
    finally:
        shutil.rmtree(scratch)
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
