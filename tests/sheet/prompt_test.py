#!/usr/bin/env python3
"""matsheet at a terminal: line editing, history kept across sessions, completion of names,
UTF-8 typing, and Ctrl-C at the prompt and during a statement. Runs matsheet on a
pseudo-terminal as a user types.

Usage: prompt_test.py MATSHEET
"""
import os
import pty
import re
import select
import signal
import sys
import tempfile
import termios
import time

UP, LEFT, HOME = b"\x1b[A", b"\x1b[D", b"\x01"
CTRL_C, CTRL_D, TAB = b"\x03", b"\x04", b"\t"


class Terminal:
    def __init__(self, exe, home):
        # libedit never frees its copies (wcsdup) of the names of the functions it is
        # given: the leak check of a sanitized build passes over them.
        suppressions = os.path.join(home, "lsan.supp")
        with open(suppressions, "w") as f:
            f.write("leak:wcsdup\n")
        env = {"HOME": home, "TERM": "xterm", "PATH": os.environ.get("PATH", ""),
               "LSAN_OPTIONS": "suppressions=" + suppressions}
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execve(exe, [exe], env)
        self.seen = b""
        self.ended = False

    def expect(self, pattern, timeout=20):
        """Reads until the screen text since the last match matches `pattern` (bytes)."""
        end = time.time() + timeout
        while True:
            found = re.search(pattern, self.seen)
            if found:
                self.seen = self.seen[found.end():]
                return found
            if time.time() > end:
                raise AssertionError("no %r in %r" % (pattern, self.seen[-400:]))
            ready, _, _ = select.select([self.fd], [], [], 0.1)
            if ready:
                try:
                    self.seen += os.read(self.fd, 65536)
                except OSError:
                    pass

    def wait_for_line_editor(self):
        """Waits until the line editor has the terminal (canonical input off): keys typed
        before that are echoed and edited by the terminal itself. The master side of a
        pseudo-terminal reports the slave's modes."""
        end = time.time() + 20
        while termios.tcgetattr(self.fd)[3] & termios.ICANON:
            if time.time() > end:
                raise AssertionError("the line editor never took the terminal")
            time.sleep(0.01)

    def type(self, keys, then=None, at_prompt=True):
        if at_prompt:
            self.wait_for_line_editor()
        os.write(self.fd, keys)
        if then is not None:
            return self.expect(then)

    def enter(self, keys, then):
        """Types a line, and waits for what it shows and the next prompt: what is typed
        while a statement runs goes to the terminal's own line editing."""
        return self.type(keys + b"\r", then + rb"\r\n> ")

    def finish(self):
        """Ends the session with Ctrl-D at the prompt and returns matsheet's exit status."""
        self.type(CTRL_D)
        end = time.time() + 20
        while time.time() < end:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.ended = True
                return os.waitstatus_to_exitcode(status)
            ready, _, _ = select.select([self.fd], [], [], 0.05)
            if ready:
                try:
                    os.read(self.fd, 65536)
                except OSError:
                    pass
        raise AssertionError("matsheet did not end on Ctrl-D: %r" % self.seen[-300:])

    def end(self):
        """Stops matsheet if it still runs (a failed check)."""
        if not self.ended:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
            self.ended = True


def first_session(t):
    t.expect(rb"> ")
    # Completion: a pack function, then a variable; Tab lists candidates that agree no further.
    t.type(b"identi" + TAB, rb"ty")
    t.enter(b"(2)", rb"identity\(2\) =\r\n  \[1  0\]\r\n  \[0  1\]")
    t.enter(b"total_cost := 5", rb"")
    t.enter(b"tot" + TAB + b" * 2", rb"total_cost \* 2 = 10")
    t.type(b"ls" + TAB, rb"lsolve")
    t.type(CTRL_C, rb"\r\n> ")
    t.type(b"l" + TAB, rb"last  length  lookup  lsolve  lu")
    # Ctrl-C abandons the line being typed.
    t.type(CTRL_C, rb"\r\n> ")
    t.enter(b"5 * 5", rb"5 \* 5 = 25")
    # Editing: to the start of the line, and back over a word.
    t.enter(b"1 + 3" + HOME + b"2", rb"21 \+ 3 = 24")
    t.enter(b"10 + 3" + LEFT + LEFT + b"\x7f-", rb"10 - 3 = 7")
    # History: the line before last, again.
    t.enter(UP + UP, rb"21 \+ 3 = 24")
    # UTF-8 typed at the prompt.
    t.enter('"\u00e9t\u00e9 \u20ac"'.encode(),
            '"\u00e9t\u00e9 \u20ac" = "\u00e9t\u00e9 \u20ac"'.encode())
    # Ctrl-C during a long statement stops it, and the session goes on.
    t.enter(b"f(i, j) := i + j", rb"")
    t.type(b"rows(matrix(3000, 2000, f))\r", rb"\r\n")
    time.sleep(0.5)
    t.type(CTRL_C, rb"<stdin>:\d+: interrupted\r\n> ", at_prompt=False)
    t.enter(b"1 + 1", rb"1 \+ 1 = 2")
    status = t.finish()
    assert status == 1, "exit status %r: one statement was interrupted" % status


def second_session(t, home):
    # It recalls the first session's lines.
    history = open(os.path.join(home, ".matsheet_history"), encoding="utf-8").read()
    assert "total_cost" in history, history
    t.expect(rb"> ")
    t.enter(UP, rb"1 \+ 1 = 2")
    status = t.finish()
    assert status == 0, "exit status %r" % status


def main():
    exe = sys.argv[1]
    home = tempfile.mkdtemp(prefix="matsheet-home")
    for session in (lambda t: first_session(t), lambda t: second_session(t, home)):
        t = Terminal(exe, home)
        try:
            session(t)
        finally:
            t.end()
    print("prompt: editing, history, completion and Ctrl-C work")


if __name__ == "__main__":
    main()
