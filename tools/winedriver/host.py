"""zanvor.exe run, the stand-in host, driven through its standard handles.

Output of the host, as parsed here: stdout lines are `?` output, DO lines
("DO name([json args])") and MESSAGEBOX lines ("MESSAGEBOX {json}"); stderr
lines are errors ('Error: "text"' or 'Error 182: "text"'). Strings in JSON are
byte-per-code-point, so lines are decoded as Latin-1 and every byte survives.
"""

import itertools
import json
import os
import re

from .config import (DEFAULT_TIMEOUT, HOST_EXE, START_TIMEOUT, HarnessError, scaled,
                     windows_path)
from .lines import Watched

_ERROR_LINE = re.compile(r'^Error(?: (\d+))?: (".*")$')
# The name ends at its first "(": a greedy \S+ would run on into arguments
# that hold "([" and no blank.
DO_LINE = re.compile(r"^DO ([^\s(]+)\((\[.*\])\)$")
_BOX_LINE = re.compile(r"^MESSAGEBOX (\{.*\})$")
SYNC_PREFIX = "__sync_"


def _calls(lines, name):
    result = []
    for line in lines:
        m = DO_LINE.match(line)
        if m and (name is None or m.group(1).upper() == name.upper()):
            result.append(json.loads(m.group(2)))
    return result


class Host(Watched):
    """One "zanvor.exe run" reading its script from a pipe, on a given machine
    (anything with popen(args, **popen_args), which starts a Wine program
    there), or running the program file `script` (a Linux path) in the
    directory `cwd`, as FoxPro runs a .prg: such a host reads no input and
    ends with its program."""

    _markers = itertools.count(1)

    def __init__(self, machine, library=None, network=None, extra_args=(), script=None,
                 cwd=None, locale=None):
        self.machine = machine
        args = [HOST_EXE, "run"]
        if network:
            args += ["--network", network]
        args += list(extra_args) + [windows_path(script) if script else "-"]
        popen_args = {"cwd": str(cwd)} if cwd else {}
        if locale:
            popen_args["locale"] = locale
        super().__init__(machine.popen(args, **popen_args))
        if library is not None:
            self.load(library)

    # ---- input --------------------------------------------------------

    def send(self, *lines):
        """Writes command lines (str, encoded as Latin-1 so any byte can be
        sent)."""
        for line in lines:
            data = line.encode("latin-1") if isinstance(line, str) else line
            try:
                self.process.stdin.write(data + b"\n")
                self.process.stdin.flush()
            except (BrokenPipeError, OSError) as e:
                raise HarnessError("host input closed (%s)\n%s" % (e, self.describe()))

    def load(self, library, timeout=START_TIMEOUT):
        """SET LIBRARY TO the library and waits until the load (with its
        load-time function) is done."""
        self.send("SET LIBRARY TO " + windows_path(library))
        self.sync(timeout)

    # ---- output -------------------------------------------------------

    def mark(self):
        """Current stdout and stderr line counts, to wait for lines after."""
        return (len(self.stdout.snapshot()), len(self.stderr.snapshot()))

    def describe(self):
        return ("--- stdout ---\n%s\n--- stderr ---\n%s\n--- exit code: %s" %
                ("\n".join(self.output()), "\n".join(self.error_lines()),
                 self.process.poll()))

    def wait_for(self, pattern, timeout=DEFAULT_TIMEOUT, stream="stdout", since=0):
        """Waits for a line (from index `since`) that the regular expression
        matches from its start; returns the match."""
        lines = self.stdout if stream == "stdout" else self.stderr
        regex = re.compile(pattern)

        def find(all_lines):
            for line in all_lines[since:]:
                m = regex.match(line)
                if m:
                    return m
            return None

        m = lines.wait(find, scaled(timeout))
        if m is None:
            raise HarnessError("no %s line matching %r within %ss\n%s" %
                               (stream, pattern, timeout, self.describe()))
        return m

    def wait_for_line(self, text, timeout=DEFAULT_TIMEOUT, stream="stdout", since=0):
        """Waits for a line equal to text."""
        return self.wait_for(re.escape(text) + r"\Z", timeout, stream, since)

    def sync(self, timeout=DEFAULT_TIMEOUT):
        """Prints a unique marker on stdout and on stderr and waits for both:
        every line sent before has run, and all it wrote has been read, when
        this returns. Returns the stdout index just past the marker.

        The host drains its message queue after every line, so between the
        two marker lines it has also dispatched every window message that
        was posted to it before this call."""
        marker = "%s%d_%d__" % (SYNC_PREFIX, os.getpid(), next(self._markers))
        self.send('? "%s"' % marker, 'DEBUGOUT "%s"' % marker)
        self.wait_for_line(marker, timeout)
        self.wait_for_line(marker, timeout, stream="stderr")
        lines = self.output()
        return lines.index(marker) + 1

    def ask(self, expression, timeout=DEFAULT_TIMEOUT):
        """Prints an expression between two markers and returns the printed
        line (one line: use it for values without line breaks)."""
        before = self.sync(timeout)
        self.send("? " + expression)
        after = self.sync(timeout)
        lines = self.output()[before:after - 1]
        if len(lines) != 1:
            raise HarnessError("? %s printed %d lines: %r\n%s" %
                               (expression, len(lines), lines, self.describe()))
        return lines[0]

    def calls(self, name=None):
        """Argument lists of the DO lines (all, or those of one procedure,
        compared case-insensitively)."""
        return _calls(self.output(), name)

    def wait_calls(self, name, count, timeout=DEFAULT_TIMEOUT):
        """Waits until procedure `name` has been called `count` times; returns
        the argument lists."""
        found = self.stdout.wait(lambda lines: len(_calls(lines, name)) >= count,
                                 scaled(timeout))
        if not found:
            raise HarnessError("%s ran %d times, wanted %d\n%s" %
                               (name, len(self.calls(name)), count, self.describe()))
        return self.calls(name)

    def wait_call_with(self, name, args, timeout=DEFAULT_TIMEOUT):
        """Waits until procedure `name` has been called with exactly the
        argument list `args`."""
        if not self.stdout.wait(lambda lines: args in _calls(lines, name), scaled(timeout)):
            raise HarnessError("%s never ran with %r\n%s" % (name, args, self.describe()))

    def boxes(self):
        """The MESSAGEBOX lines as dicts with text, title and flags."""
        return [json.loads(m.group(1)) for m in map(_BOX_LINE.match, self.output()) if m]

    def errors(self):
        """The error lines as (number or None, text)."""
        result = []
        for line in self.error_lines():
            m = _ERROR_LINE.match(line)
            if m:
                number = int(m.group(1)) if m.group(1) else None
                result.append((number, json.loads(m.group(2))))
        return result

    def error_texts(self):
        return [text for _, text in self.errors()]

    # ---- ending -------------------------------------------------------

    def close(self, timeout=DEFAULT_TIMEOUT):
        """Ends the input and waits for the host to exit; returns its exit
        code."""
        return self.end(timeout, "host did not exit within %ss after end of input" % timeout)


def wait_calls(host, proc, count, timeout=DEFAULT_TIMEOUT):
    """Waits until procedure `proc` has been called `count` times in host's
    DO lines; returns the argument lists."""
    return host.wait_calls(proc, count, timeout)
