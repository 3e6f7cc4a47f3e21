#!/usr/bin/env python3
"""Checks where the daemon's log lines say they were written.

Runs the input of every transcript case (its options, files and standard input), and a session of refused
and failing changes of its own, through dhcpftr with the whole log (level 101 and up) written to a file. Every line of the daemon's log begins "NAME [LINE]:"; each
must name a function of the daemon's sources, and LINE must lie inside that function's body, on a line that
carries __LINE__: the call that wrote the line, or the call of the shared helper that wrote it for NAME.

usage: log_sites.py DHCPFTR SOURCE_DIR TRANSCRIPT_DIR
(under $DHCPFTR_EMULATOR if set, as the transcripts run)
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile

LOG_LINE = re.compile(r"^dhcpftr\.\d+ (\w+) \[(\d+)\]:")
DEFINITION = re.compile(r"^[A-Za-z_][\w \*]*?\b(\w+)\(")


# Every kind of change under kernel refusals and failed sends, the SNMP bridge's commands and trunk events.
CHANGES = """ip dhcp screening ports eth1.5
no ip dhcp screening ports eth1.1
ip dhcp screening server-ip 10.1.1.1 ports eth1.3
ip dhcp screening server-ip 10.1.1.9 ports eth1.3
no ip dhcp screening server-ip 10.1.1.1 ports eth1.1
no ip dhcp screening trap-log
ip dhcp screening suppress-duration 6
ip dhcp screening snmp 10.1.1.1 00:00:00:00:00:00 0x00100000 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 add
ip dhcp screening snmp 10.1.1.7 00:00:00:00:00:00 0x00100000 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 add
no ip dhcp screening snmp 10.1.1.2 00:11:22:33:44:55
"""
SESSION = ("configure terminal\n"
           "ip dhcp screening ports eth1.1-1.4,port-channel1\n"
           "ip dhcp screening server-ip 10.1.1.1 ports eth1.1-1.2,port-channel1\n"
           "ip dhcp screening server-ip 10.1.1.2 client-mac 00:11:22:33:44:55 ports eth1.3\n"
           "ip dhcp screening trap-log\n"
           "ip dhcp screening suppress-duration 5\n"
           "do platform kernel refuse 20 -100\n" + CHANGES +
           "do platform kernel clear\n"
           "do platform kernel fail-sends 20\n" + CHANGES +
           "do platform kernel clear\n"
           "ip dhcp screening snmp 10.1.1.8 00:00:00:00:00:00 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 add\n"
           "ip dhcp screening snmp 10.1.1.8 00:00:00:00:00:00 0 0x00010000 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 add\n"
           "ip dhcp screening snmp 10.1.1.8 00:00:00:00:00:00 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0x1 add\n"
           "no ip dhcp screening snmp 10.9.9.9 00:11:22:33:44:55\n"
           "end\n"
           "platform chassis trunk member add port-channel1 eth1.1\n"
           "platform chassis trunk member add port-channel1 eth1.2\n"
           "platform chassis trunk member remove port-channel1 eth1.1\n"
           "platform chassis slot remove 0\n"
           "platform chassis interface delete eth1.3\n"
           "show running-config\n")


def functions(source_dir):
    """Maps each function defined in the daemon's sources to (file, first line, last line) of its body."""
    found = {}
    for name in sorted(os.listdir(source_dir)):
        if not name.endswith(".cpp"):
            continue
        path = os.path.join(source_dir, name)
        lines = open(path, encoding="utf-8").read().split("\n")
        current = None
        for number, text in enumerate(lines, 1):
            match = DEFINITION.match(text)
            if match and not text.rstrip().endswith(";"):
                current = (match.group(1), number)
            elif text == "{" and current:
                start = number
            elif text == "}" and current:
                found[current[0]] = (path, lines, start, number)
                current = None
    return found


def parse_case(path):
    """The options, files and standard input of a transcript case."""
    args, files, stdin = [], {}, []
    section, target = None, None
    for text in open(path, encoding="utf-8").read().split("\n"):
        if text.startswith("--- "):
            words = text[4:].split()
            section = words[0]
            if section == "file":
                target = words[1]
                files[target] = []
            continue
        if section is None and text.startswith("# args:"):
            args = shlex.split(text[len("# args:"):])
        elif section == "file":
            files[target].append(text)
        elif section == "input":
            stdin.append(text)
    return args, files, "\n".join(stdin).rstrip("\n") + "\n"


def without_log_options(args):
    out, skip = [], False
    for arg in args:
        if skip:
            skip = False
        elif arg in ("--log-level", "--log-file"):
            skip = True
        else:
            out.append(arg)
    return out


def main():
    dhcpftr, source_dir, transcript_dir = sys.argv[1:4]
    emulator = shlex.split(os.environ.get("DHCPFTR_EMULATOR", ""))
    known = functions(source_dir)
    sites, problems = set(), []
    cases = [(case, parse_case(os.path.join(transcript_dir, case)))
             for case in sorted(os.listdir(transcript_dir)) if case.endswith(".t")]
    cases.append(("refusals and failures", (["--level", "20"], {}, SESSION)))
    for case, (args, files, stdin) in cases:
        with tempfile.TemporaryDirectory() as scratch:
            for name, lines in files.items():
                with open(os.path.join(scratch, name), "w", encoding="utf-8") as out:
                    out.write("\n".join(lines).rstrip("\n") + "\n")
            log = os.path.join(scratch, "log.txt")
            command = emulator + [os.path.abspath(dhcpftr), "--batch"] + without_log_options(args)
            command += ["--log-level", "101", "--log-file", log]
            subprocess.run(command, input=stdin, text=True, cwd=scratch, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)
            if os.path.exists(log):
                for text in open(log, encoding="utf-8", errors="replace"):
                    match = LOG_LINE.match(text)
                    if match:
                        sites.add((match.group(1), int(match.group(2)), case, text.rstrip("\n")))
    checked = set()
    for func, line, case, text in sorted(sites):
        if (func, line) in checked:
            continue
        checked.add((func, line))
        if func not in known:
            problems.append(f"{case}: {text}\n    no function {func} in the daemon's sources")
            continue
        path, lines, start, end = known[func]
        if not start < line < end or "__LINE__" not in lines[line - 1]:
            problems.append(f"{case}: {text}\n    line {line} of {os.path.basename(path)} is not a call of {func} "
                            f"that passes __LINE__ ({func} spans lines {start}-{end})")
    for problem in problems:
        print(problem)
    print(f"{len(checked)} log sites checked, {len(problems)} wrong")
    if len(checked) < 40:
        print("too few log sites: the transcripts no longer reach the log")
        return 1
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
