"""A program on a pseudo-terminal of 24 rows and 80 columns, typed at and read as an operator would: the
switch's console, or dhcpftr-cli at a terminal (tests/console, tests/cli)."""
import fcntl
import os
import pty
import re
import select
import struct
import termios
import time


class PtyProgram:
    """A program with its standard streams on a pseudo-terminal of 24 rows and 80 columns (TERM=dumb)."""

    def __init__(self, argv, cwd=None):
        program = os.path.abspath(argv[0])
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            try:
                fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
                os.environ["TERM"] = "dumb"
                if cwd:
                    os.chdir(cwd)
                os.execv(program, argv)
            finally:
                os._exit(127)

    def type_and_read(self, keys, settle=0.3):
        """Types keys, then returns what the terminal showed until it stayed quiet for a while: without
        readline's bracketed-paste switches, the blanks that erase " --More-- " or a line, and carriage
        returns, which is what an operator reads."""
        os.write(self.fd, keys)
        shown, deadline = b"", time.monotonic() + 5
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.fd], [], [], settle)
            if not ready:
                break
            try:
                shown += os.read(self.fd, 65536)
            except OSError:  # the program ended and closed the terminal
                break
        return re.sub(r"\x1b\[\?2004[hl]|\r +\r|\r", "", shown.decode(errors="replace"))

    def ended(self, seconds=5):
        """The exit status once the program ended within seconds, else None."""
        for _ in range(seconds * 10):
            done, status = os.waitpid(self.pid, os.WNOHANG)
            if done:
                self.pid = None
                return status
            time.sleep(0.1)
        return None

    def kill(self):
        if self.pid:
            try:
                os.kill(self.pid, 9)
                os.waitpid(self.pid, 0)
            except (ProcessLookupError, ChildProcessError):
                pass
