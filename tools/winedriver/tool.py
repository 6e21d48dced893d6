"""The zanvor tool's verbs as processes: zanvor.exe under Wine on a machine
(Machine.tool), or the native zanvor inside one of this run's namespaces,
which it too must never leave: it sends UDP broadcasts."""

import json
import re
import signal
import subprocess

from .config import DEFAULT_TIMEOUT, NATIVE_TOOL, START_TIMEOUT, HarnessError, scaled
from .lines import Watched

LISTENING = r"zanvor: listening to "


class Tool(Watched):
    """One running tool process with piped standard handles."""

    def __init__(self, process, label):
        super().__init__(process)
        self.label = label

    def describe(self):
        return ("--- %s stdout ---\n%s\n--- stderr ---\n%s\n--- exit code: %s" %
                (self.label, "\n".join(self.stdout.snapshot()),
                 "\n".join(self.stderr.snapshot()), self.process.poll()))

    def json_lines(self):
        return [json.loads(line) for line in self.output()]

    def wait_for(self, pattern, stream="stdout", timeout=DEFAULT_TIMEOUT):
        lines = self.stdout if stream == "stdout" else self.stderr
        regex = re.compile(pattern)
        found = lines.wait(lambda all_lines: next(filter(regex.match, all_lines), None),
                           scaled(timeout))
        if found is None:
            raise HarnessError("no %s line matching %r within %ss\n%s" %
                               (stream, pattern, timeout, self.describe()))
        return found

    def wait_listening(self, timeout=START_TIMEOUT):
        """Waits until zanvor listen has subscribed its names and the server
        has registered them."""
        return self.wait_for(LISTENING, "stderr", timeout)

    def wait_lines(self, count, timeout=DEFAULT_TIMEOUT):
        """Waits for `count` stdout lines; returns them."""
        if not self.stdout.wait(lambda lines: len(lines) >= count, scaled(timeout)):
            raise HarnessError("fewer than %d stdout lines within %ss\n%s" %
                               (count, timeout, self.describe()))
        return self.output()

    def interrupt(self):
        """What Ctrl+C in its console does (Wine hands SIGINT to the
        console's control handlers)."""
        self.process.send_signal(signal.SIGINT)

    def pause(self):
        self.process.send_signal(signal.SIGSTOP)

    def resume(self):
        self.process.send_signal(signal.SIGCONT)

    def finish(self, timeout=DEFAULT_TIMEOUT):
        """Waits for the process to end on its own; returns its exit code."""
        return self.end(timeout, "%s did not exit within %ss" % (self.label, timeout))


def _inside(namespace, args):
    if namespace is None or not namespace.alive():
        raise HarnessError("refusing to run the native tool outside a network namespace of the "
                           "project")
    if not NATIVE_TOOL.exists():
        raise HarnessError("the native tool %s is missing: build the native preset first "
                           "(cmake --preset native && cmake --build build/native)" % NATIVE_TOOL)
    return namespace.wrap([NATIVE_TOOL] + list(args))


def native_tool(namespace, args):
    """The native zanvor with a verb and its arguments, running inside
    `namespace`."""
    process = subprocess.Popen(_inside(namespace, args), stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True)
    return Tool(process, "native zanvor")


def run_native_tool(namespace, args, stdin_text=None, timeout=DEFAULT_TIMEOUT):
    """Runs the native zanvor once inside `namespace`; returns (exit code,
    stdout lines, stderr lines)."""
    result = subprocess.run(_inside(namespace, args),
                            input=(stdin_text or "").encode("latin-1"),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=scaled(timeout))
    return (result.returncode, result.stdout.decode("latin-1").splitlines(),
            result.stderr.decode("latin-1").splitlines())
