#!/usr/bin/env python3
"""Operator sessions under load and abuse, against one switch serving its socket:

- 50 clients at once, 20 commands each: every command answered exactly once, in order, every change
  applied, and the kernel filter's tables equal to the configuration afterwards;
- a client gone in the middle of a slow command, a 1 MiB line, and a client that never reads its output:
  the others are served meanwhile, and the unread one is disconnected with the closing logged.

usage: sessions_test.py DHCPFTR
"""
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

CLIENTS = 50


class Session:
    """One connection speaking the session protocol: request lines out, replies (continuations, one final) in."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(30)
        self.sock.connect(path)
        self.input = self.sock.makefile("rb")
        greeting = self.reply()
        assert greeting[0].startswith("0001-dhcpftr "), greeting

    def send(self, request):
        self.sock.sendall(request.encode() + b"\n")

    def reply(self):
        """The lines of one reply, the final one last."""
        lines = []
        while True:
            raw = self.input.readline()
            if not raw:
                raise ConnectionError("connection closed in the middle of a reply")
            line = raw.decode().rstrip("\n")
            lines.append(line)
            if len(line) >= 5 and line[4] == " ":
                return lines

    def run(self, line):
        """Runs one line; (final line, output lines)."""
        self.send("run " + line)
        lines = self.reply()
        return lines[-1], [l[5:] for l in lines[:-1]]

    def close(self):
        self.sock.close()


def client_commands(i):
    """The 20 lines of client i: four rules of its own, one of them deleted again, shows in between."""
    servers = [f"10.{i}.{k}.1" for k in range(4)]
    lines = ["configure terminal"]
    for k, server in enumerate(servers):
        lines += [f"ip dhcp screening server-ip {server} ports eth1.{k + 1}", "do show ip dhcp screening"]
    lines += [f"no ip dhcp screening server-ip {servers[0]} ports eth1.1", "do show users", "do show running-config", "interface eth1.1", "exit",
              "do show version", "end", "show ip dhcp screening", "configure terminal", "end", "exit"]
    assert len(lines) == 20
    return lines


def main():
    dhcpftr = sys.argv[1]
    scratch = tempfile.mkdtemp(prefix="dhcpftr-sessions.")
    path = os.path.join(scratch, "vty.sock")
    log = os.path.join(scratch, "log")
    switch = subprocess.Popen([dhcpftr, "--no-console", "--vty-socket", path, "--log-file", log],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    failures = []
    try:
        for _ in range(100):
            if os.path.exists(path):
                break
            time.sleep(0.05)

        # ---- 50 clients at once, 20 commands each.
        answers = {}

        def client(i):
            got = []
            try:
                session = Session(path)
                for line in client_commands(i):
                    final, _ = session.run(line)
                    got.append(final[:4])
                # Nothing more may come after the session ended.
                if session.input.readline() != b"":
                    got.append("extra")
                session.close()
            except (OSError, ConnectionError, AssertionError) as error:
                got.append(f"{type(error).__name__}: {error}")
            answers[i] = got

        threads = [threading.Thread(target=client, args=(i,)) for i in range(CLIENTS)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        expected = ["0000"] * 19 + ["0003"]
        for i in range(CLIENTS):
            if answers.get(i) != expected:
                failures.append(f"client {i}: final codes {answers.get(i)}")

        check = Session(path)
        _, shown = check.run("show running-config")
        rules = sorted(l for l in shown if l.startswith("ip dhcp screening server-ip"))
        wanted = sorted(f"ip dhcp screening server-ip 10.{i}.{k}.1 ports eth1.{k + 1}"
                        for i in range(CLIENTS) for k in range(1, 4))
        if rules != wanted:
            failures.append(f"running configuration has {len(rules)} rules, expected {len(wanted)}")
        final, shown = check.run("platform kernel audit")
        if shown != [f"Audit: {len(wanted)} rules, 0 ports, no difference"]:
            failures.append(f"audit after the clients: {shown}")

        # ---- A client gone in the middle of a slow command: the command runs to its end, nothing else changes.
        check.run("platform kernel delay 500")
        gone = Session(path)
        gone.send("run configure terminal")
        gone.send("run ip dhcp screening server-ip 10.200.0.1 ports eth1.1")
        time.sleep(0.1)
        gone.sock.shutdown(socket.SHUT_RDWR)
        gone.close()
        check.run("platform kernel delay 0")

        # ---- A line of 1 MiB is refused, and the session goes on.
        big = Session(path)
        big.sock.sendall(b"run " + b"x" * (1 << 20) + b"\n")
        got = big.reply()
        if got != ["1000-% Line too long", "0002 switch#"]:
            failures.append(f"1 MiB line: {got[:3]}")
        if big.run("show version")[1][:1] != [f"dhcpftr version {version(dhcpftr)}"]:
            failures.append("no answer after the 1 MiB line")

        # ---- A client that sends requests and never reads: the others are served meanwhile, it is dropped.
        mute = Session(path)
        mute.sock.setblocking(False)
        started = time.monotonic()
        sent = 0
        try:
            while sent < 4000:
                mute.sock.send(b"run show running-config\n")
                sent += 1
        except BlockingIOError:
            pass
        served = time.monotonic()
        final, shown = check.run("show ip dhcp screening")
        if final != "0000 switch#" or time.monotonic() - served > 1:
            failures.append("the switch did not serve others while a client did not read")
        _, shown = check.run("show running-config")
        if f"ip dhcp screening server-ip 10.200.0.1 ports eth1.1" not in shown:
            failures.append("the command of the client gone mid-command did not run to its end")
        _, shown = check.run("platform kernel audit")
        if shown != [f"Audit: {len(wanted) + 1} rules, 0 ports, no difference"]:
            failures.append(f"audit at the end: {shown}")
        while time.monotonic() - started < 20 and "its output was not read" not in read(log):
            time.sleep(0.2)
        if "closed: its output was not read" not in read(log):
            failures.append("the client that never reads was not disconnected (or not logged)")
        mute.close()
        check.close()
    except (OSError, ConnectionError, AssertionError) as error:
        failures.append(f"{type(error).__name__}: {error}")
    finally:
        switch.send_signal(signal.SIGTERM)
        try:
            switch.wait(10)
        except subprocess.TimeoutExpired:
            switch.kill()
            switch.wait()
        for name in os.listdir(scratch):
            os.unlink(os.path.join(scratch, name))
        os.rmdir(scratch)
    if switch.returncode != 0:
        failures.append(f"the switch ended with status {switch.returncode}")
    for failure in failures:
        print(failure)
    return 1 if failures else 0


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def version(dhcpftr):
    return subprocess.run([dhcpftr, "--version"], capture_output=True, text=True).stdout.split()[-1]


if __name__ == "__main__":
    sys.exit(main())
