#!/usr/bin/env python3
"""The switch's console on a terminal: Ctrl-C abandons the line typed and Ctrl-Z is ignored (neither ends
the switch), and leaving with unsaved changes asks first: "n" stays, return ends.

usage: terminal_test.py DHCPFTR
"""
import os
import pty
import re
import select
import sys
import tempfile
import time

CONFIRM = "Unsaved changes will be lost. Exit anyway? [confirm] "


def main():
    scratch = tempfile.mkdtemp(prefix="dhcpftr-terminal.")
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(sys.argv[1], [sys.argv[1], "--level", "15", "--startup-config", scratch + "/startup-config"])

    def type_and_read(keys, settle=0.3):
        """Types keys, then returns what the terminal showed until it stayed quiet for a while."""
        os.write(fd, keys)
        shown, deadline = b"", time.monotonic() + 5
        while time.monotonic() < deadline:
            ready, _, _ = select.select([fd], [], [], settle)
            if not ready:
                break
            try:
                shown += os.read(fd, 4096)
            except OSError:  # the switch ended and closed the terminal
                break
        # Without readline's bracketed-paste switches and carriage returns: what an operator reads.
        return re.sub(r"\x1b\[\?2004[hl]|\r", "", shown.decode(errors="replace"))

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
    failures = []
    try:
        for keys, expected in steps:
            shown = type_and_read(keys)
            if not shown.endswith(expected):
                failures.append(f"after {keys!r}: expected the terminal to end with {expected!r}, it shows {shown!r}")
                break
        for _ in range(50):
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                break
            time.sleep(0.1)
        else:
            failures.append("the switch did not end after exit with its changes saved")
        if done and status != 0:
            failures.append(f"the switch ended with status {status}")
    finally:
        try:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
        except (ProcessLookupError, ChildProcessError):
            pass
        for name in os.listdir(scratch):
            os.unlink(os.path.join(scratch, name))
        os.rmdir(scratch)
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
