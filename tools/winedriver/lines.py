"""Output of a child process, line by line, and ending one for good."""

import subprocess
import threading
import time

from .config import HarnessError, scaled


class Lines:
    """Lines of one pipe, collected by a reader thread, each with the
    time.monotonic() at which it was read."""

    def __init__(self, pipe, name):
        self.name = name
        self.lines = []
        self.times = []
        self.closed = False
        self._cond = threading.Condition()
        self._thread = threading.Thread(target=self._read, args=(pipe,), daemon=True)
        self._thread.start()

    def _read(self, pipe):
        for raw in iter(pipe.readline, b""):
            line = raw.decode("latin-1").rstrip("\n").rstrip("\r")
            with self._cond:
                self.lines.append(line)
                self.times.append(time.monotonic())
                self._cond.notify_all()
        pipe.close()
        with self._cond:
            self.closed = True
            self._cond.notify_all()

    def snapshot(self):
        with self._cond:
            return list(self.lines)

    def timed_snapshot(self):
        """(time read, line) pairs."""
        with self._cond:
            return list(zip(self.times, self.lines))

    def wait(self, predicate, timeout):
        """Waits until predicate(lines) gives a true value and returns it, or
        returns None at the timeout or when the pipe closed without it."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                found = predicate(self.lines)
                if found:
                    return found
                remaining = deadline - time.monotonic()
                if remaining <= 0 or self.closed:
                    return None
                self._cond.wait(remaining)

    def join(self, timeout):
        self._thread.join(timeout)


def kill_process(process):
    """SIGKILLs one child and waits until it is gone."""
    # `wine` execs the loader, which execs the preloader that runs the
    # program: the Popen pid is the Windows process itself. SIGKILL leaves
    # no chance to run any Windows-side code; wineserver sees the process
    # die and abandons its mutexes.
    # Only this pid: its process group may hold the prefix's wineserver,
    # which other processes of the machine still need.
    if process.poll() is None:
        try:
            process.kill()
        except ProcessLookupError:
            pass
    try:
        process.wait(scaled(30))
    except subprocess.TimeoutExpired:
        raise HarnessError("process %d survived SIGKILL" % process.pid)
    # Only stdin is closed here: a reader thread may still be blocked on
    # stdout or stderr (holding the pipe object's lock) when a process of
    # the prefix inherited the handle; it ends by itself at end of file.
    try:
        if process.stdin:
            process.stdin.close()
    except OSError:
        pass


class Watched:
    """A child process whose standard output and error are read into Lines
    as they come: what a host and a tool process have in common."""

    def __init__(self, process):
        self.process = process
        self.stdout = Lines(process.stdout, "stdout")
        self.stderr = Lines(process.stderr, "stderr")

    def output(self):
        return self.stdout.snapshot()

    def error_lines(self):
        return self.stderr.snapshot()

    def kill(self):
        """Ends the process at once: the Linux process that runs it is
        killed, so whatever it owned (a named mutex) is abandoned. Returns
        once the process is really gone."""
        kill_process(self.process)
        self.stdout.join(scaled(5))
        self.stderr.join(scaled(5))

    def end(self, timeout, late):
        """Closes the process's input and waits for it to exit on its own;
        returns its exit code. A process still running after `timeout` is
        killed and HarnessError raised with `late` (what to say) and the
        subclass's describe()."""
        try:
            self.process.stdin.close()
        except OSError:
            pass
        try:
            code = self.process.wait(scaled(timeout))
        except subprocess.TimeoutExpired:
            self.kill()
            raise HarnessError("%s\n%s" % (late, self.describe()))
        self.stdout.join(scaled(5))
        self.stderr.join(scaled(5))
        return code

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.kill()
