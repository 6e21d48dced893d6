"""`zanvor gateway` of the native tool as a process in a gateway namespace
(sites.py): its lines, its signals, and its end, which always comes."""

import atexit
import json
import os
import signal
import subprocess

from . import netns
from .config import DEFAULT_TIMEOUT, NATIVE_TOOL, HarnessError, scaled
from .tool import Tool, _inside


# Gateways still running when the run ends: ended with it (they live in
# sessions of their own).
_running = set()


def _kill_all():
    for gateway in list(_running):
        gateway.kill()


atexit.register(_kill_all)


def gateway_missing():
    """Why the native tool cannot run a gateway, or None when it can: the
    native tool answers a verb it lacks with exit code 2 and "unknown
    command". Anything else (a gateway that exists but fails) is for the
    tests to find."""
    if not NATIVE_TOOL.exists():
        return None  # wine_needs_native_tool says how to build it
    code, _, err = run_gateway(netns.solo(), ["--help"])
    if code == 2 and any("unknown command" in line for line in err):
        return "the native tool %s has no gateway verb yet: %s" % (NATIVE_TOOL, " ".join(err))
    return None


def run_gateway(namespace, args, timeout=DEFAULT_TIMEOUT):
    """Runs `zanvor gateway ARGS` to its end inside `namespace`; returns
    (exit code, stdout lines, stderr lines). One still running after
    `timeout` is killed and HarnessError raised."""
    process = subprocess.Popen(_inside(namespace, ["gateway"] + list(args)),
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, start_new_session=True)
    try:
        out, err = process.communicate(timeout=scaled(timeout))
    except subprocess.TimeoutExpired:
        # The whole session: a child that holds the pipes would keep
        # communicate() waiting.
        os.killpg(process.pid, signal.SIGKILL)
        out, err = process.communicate()
        raise HarnessError("zanvor gateway %s still ran after %ss\n--- stdout ---\n%s\n"
                           "--- stderr ---\n%s" % (" ".join(map(str, args)), timeout,
                                                   out.decode("utf-8", "replace"),
                                                   err.decode("utf-8", "replace")))
    return (process.returncode, out.decode("utf-8", "replace").splitlines(),
            err.decode("utf-8", "replace").splitlines())


def _numbers(value, prefix=""):
    """Every number in a JSON object, by its dotted key path."""
    if isinstance(value, dict):
        result = {}
        for key, item in value.items():
            result.update(_numbers(item, prefix + key + "."))
        return result
    if isinstance(value, (int, float)) and not isinstance(value, bool):
        return {prefix[:-1]: value}
    return {}


class Counters:
    """One counters object of a gateway running with --json: published,
    broadcast, dropped by reason, reconnects."""

    def __init__(self, obj):
        self.obj = obj
        self.numbers = _numbers(obj)

    def get(self, name):
        """The counter whose last key is `name` (0 when absent)."""
        return sum(v for k, v in self.numbers.items() if k.split(".")[-1] == name)

    def dropped(self):
        """Every post dropped, whatever the reason: the sum of the counters
        under a key that starts with "dropped"."""
        return sum(v for k, v in self.numbers.items()
                   if any(part.startswith("dropped") for part in k.split(".")))

    def __repr__(self):
        return "Counters(%s)" % json.dumps(self.obj, sort_keys=True)


def _is_counters(obj):
    return "published" in {k.split(".")[-1] for k in _numbers(obj)}


class Gateway(Tool):
    """A running `zanvor gateway` in a gateway namespace. `client_id` is its
    --client-id, by which the broker's log names it."""

    def __init__(self, namespace, args, client_id=None):
        argv = ["gateway"] + [str(a) for a in args]
        if client_id is not None:
            argv += ["--client-id", client_id]
        process = subprocess.Popen(_inside(namespace, argv), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   start_new_session=True)
        super().__init__(process, "zanvor gateway (%s)" % (client_id or namespace.name))
        self.namespace = namespace
        self.client_id = client_id
        _running.add(self)

    def alive(self):
        return self.process.poll() is None

    def json_objects(self):
        """Every stdout line as JSON (--json prints nothing else there)."""
        result = []
        for line in self.output():
            try:
                result.append(json.loads(line.encode("latin-1").decode("utf-8")))
            except ValueError:
                raise HarnessError("a stdout line of the gateway is no JSON object: %r\n%s" %
                                   (line, self.describe()))
        return result

    def counters(self, timeout=DEFAULT_TIMEOUT):
        """Sends SIGUSR1 and returns the counters object that it prints
        (the gateway runs with --json)."""
        seen = len(self.output())
        self.process.send_signal(signal.SIGUSR1)

        def new_counters(lines):
            for line in lines[seen:]:
                try:
                    obj = json.loads(line.encode("latin-1").decode("utf-8"))
                except ValueError:
                    continue
                if _is_counters(obj):
                    return obj
            return None

        found = self.stdout.wait(new_counters, scaled(timeout))
        if found is None:
            raise HarnessError("no counters on stdout within %ss of SIGUSR1\n%s" %
                               (timeout, self.describe()))
        return Counters(found)

    def wait_stderr_lines(self, count, timeout=DEFAULT_TIMEOUT):
        if not self.stderr.wait(lambda lines: len(lines) >= count, scaled(timeout)):
            raise HarnessError("fewer than %d stderr lines within %ss\n%s" %
                               (count, timeout, self.describe()))
        return self.error_lines()

    def stop(self, timeout=DEFAULT_TIMEOUT):
        """SIGTERM, as a service manager ends it; returns the exit code. One
        that does not end within `timeout` is killed and HarnessError
        raised."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            code = self.process.wait(scaled(timeout))
        except subprocess.TimeoutExpired:
            self.kill()
            raise HarnessError("%s did not end within %ss of SIGTERM\n%s" %
                               (self.label, timeout, self.describe()))
        self.stdout.join(scaled(5))
        self.stderr.join(scaled(5))
        _running.discard(self)
        return code

    def kill(self):
        super().kill()
        _running.discard(self)

