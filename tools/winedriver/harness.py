"""Drives zanvor.exe (and zanvor_relay.exe) under Wine for whole-system tests.

Standard library only. Each emulated machine is a Wine prefix of its own under
$ZANVOR_BUILD/wine/<name>: processes in one prefix share one wineserver, so
they see the same named mutexes, sections, mailslots and window broadcasts,
exactly as processes of one Windows machine do; processes in different
prefixes share nothing, as different machines.

Every Wine process runs inside a Linux network namespace of ours (see
netns.py): a machine on the emulated LAN has one of its own; a prefix made
without one runs in this run's isolated namespace, which has only lo. Prefix
refuses to start a process any other way, so no datagram of the library ever
reaches the real network.

Environment:
  ZANVOR_BUILD     the i686 build tree (default: <repo>/build)
  ZANVOR_HOST      zanvor.exe (default: $ZANVOR_BUILD/zanvor.exe)
  ZANVOR_FLL       zanvor.fll (default: $ZANVOR_BUILD/zanvor.fll)
  ZANVOR_FAKE_FLL  fake.fll, the host's test library
  ZANVOR_RELAY     zanvor_relay.exe
  ZANVOR_WAIT_SCALE  multiplies every timeout (slow machines)

Output of the host, as parsed here: stdout lines are `?` output, DO lines
("DO name([json args])") and MESSAGEBOX lines ("MESSAGEBOX {json}"); stderr
lines are errors ('Error: "text"' or 'Error 182: "text"'). Strings in JSON are
byte-per-code-point, so lines are decoded as Latin-1 and every byte survives.
"""

import itertools
import json
import os
import re
import shutil
import socket
import subprocess
import threading
import time
import unittest
from pathlib import Path

from . import netns

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("ZANVOR_BUILD", REPO / "build"))
HOST_EXE = Path(os.environ.get("ZANVOR_HOST", BUILD / "zanvor.exe"))
FLL = Path(os.environ.get("ZANVOR_FLL", BUILD / "zanvor.fll"))
FAKE_FLL = Path(os.environ.get("ZANVOR_FAKE_FLL", BUILD / "fake.fll"))
RELAY_EXE = Path(os.environ.get("ZANVOR_RELAY", BUILD / "zanvor_relay.exe"))
WAIT_SCALE = float(os.environ.get("ZANVOR_WAIT_SCALE", "1"))

# Wine is slow to start a process (a second or more on a loaded machine);
# these bound every wait so that a hang fails instead of blocking the run.
DEFAULT_TIMEOUT = 30.0
START_TIMEOUT = 60.0
PREFIX_CREATE_TIMEOUT = 300.0

_ERROR_LINE = re.compile(r'^Error(?: (\d+))?: (".*")$')
_DO_LINE = re.compile(r"^DO (\S+)\((\[.*\])\)$")
_BOX_LINE = re.compile(r"^MESSAGEBOX (\{.*\})$")


class HarnessError(AssertionError):
    """A wait that timed out or a process that misbehaved; the message shows
    the output seen so far."""


def scaled(seconds):
    return seconds * WAIT_SCALE


def windows_path(path):
    """The Windows name of a Linux path (Wine maps / to drive Z:)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


ZANVOR_UDP_PORT = 38217


def free_udp_port():
    """A loopback UDP port that was free a moment ago (never the library's)."""
    while True:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        if port != ZANVOR_UDP_PORT:
            return port


class Prefix:
    """One emulated machine's Wine prefix."""

    def __init__(self, name, namespace=None):
        self.name = name
        self.path = BUILD / "wine" / name
        self.keeper = None
        self.namespace = namespace or netns.solo()

    def _inside(self, argv):
        # The one road by which a Wine process of ours is started.
        if self.namespace is None or not self.namespace.alive():
            raise HarnessError("refusing to start %s outside a network namespace of the "
                               "project" % argv[0])
        return self.namespace.wrap(argv)

    def env(self):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": str(self.path),
            "WINEARCH": "win32",
            "WINEDEBUG": "-all",
            # No Mono/Gecko install prompts in a fresh prefix.
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
        })
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        return env

    def _run(self, args, timeout):
        return subprocess.run(self._inside(args), env=self.env(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=scaled(timeout))

    def ensure(self):
        """Creates the prefix if it is missing (graphics driver null, so no
        display is needed). Safe to call every time."""
        marker = self.path / ".zanvor-ready"
        if marker.exists():
            return self
        if self.path.exists():
            # A half-made prefix from an interrupted run.
            self._run(["wineserver", "-k"], 30)
            shutil.rmtree(self.path)
        self.path.parent.mkdir(parents=True, exist_ok=True)
        result = self._run(["wineboot", "-i"], PREFIX_CREATE_TIMEOUT)
        if result.returncode != 0:
            raise HarnessError("wineboot -i failed for %s:\n%s" %
                               (self.path, result.stdout.decode("latin-1")))
        result = self._run(["wine", "reg", "add", r"HKCU\Software\Wine\Drivers", "/v",
                            "Graphics", "/d", "null", "/f"], 120)
        if result.returncode != 0:
            raise HarnessError("setting the null graphics driver failed:\n%s" %
                               result.stdout.decode("latin-1"))
        self.stop_server()
        marker.write_text("ok\n")
        return self

    def stop_server(self):
        """Ends every process of this prefix and waits until its wineserver
        has gone, so the next process starts a fresh one (no named objects,
        windows or mailslots left over)."""
        self._run(["wineserver", "-k"], 60)
        self._run(["wineserver", "-w"], 60)
        if self.keeper is not None:
            _kill_process(self.keeper.process)
            self.keeper = None

    def fresh(self):
        """A prefix with a fresh wineserver, kept running by an idle host
        process. The first process of a server starts Wine's service
        processes, which inherit its standard handles and keep them open;
        letting the idle keeper be that process keeps the tests' pipes
        clean. The keeper also keeps the server (and so the machine's named
        objects) alive while test processes come and go, as on a real
        machine."""
        self.ensure()
        self.stop_server()
        self.keeper = Host(self)
        self.keeper.sync(START_TIMEOUT)
        return self

    def start(self, args, **popen_args):
        return subprocess.Popen(self._inside(["wine"] + [str(a) for a in args]), env=self.env(),
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, start_new_session=True, **popen_args)


class _Lines:
    """Lines of one pipe, collected by a reader thread."""

    def __init__(self, pipe, name):
        self.name = name
        self.lines = []
        self.closed = False
        self._cond = threading.Condition()
        self._thread = threading.Thread(target=self._read, args=(pipe,), daemon=True)
        self._thread.start()

    def _read(self, pipe):
        for raw in iter(pipe.readline, b""):
            line = raw.decode("latin-1").rstrip("\n").rstrip("\r")
            with self._cond:
                self.lines.append(line)
                self._cond.notify_all()
        pipe.close()
        with self._cond:
            self.closed = True
            self._cond.notify_all()

    def snapshot(self):
        with self._cond:
            return list(self.lines)

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


class Host:
    """One zanvor.exe reading its script from a pipe, in a given prefix."""

    _markers = itertools.count(1)

    def __init__(self, prefix, library=None, network=None, extra_args=()):
        self.prefix = prefix
        args = [HOST_EXE]
        if network:
            args += ["--network", network]
        args += list(extra_args) + ["-"]
        self.process = prefix.start(args)
        self.stdout = _Lines(self.process.stdout, "stdout")
        self.stderr = _Lines(self.process.stderr, "stderr")
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

    def output(self):
        return self.stdout.snapshot()

    def error_lines(self):
        return self.stderr.snapshot()

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
        this returns. Returns the stdout index just past the marker."""
        marker = "__sync_%d_%d__" % (os.getpid(), next(self._markers))
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
        result = []
        for line in self.output():
            m = _DO_LINE.match(line)
            if m and (name is None or m.group(1).upper() == name.upper()):
                result.append(json.loads(m.group(2)))
        return result

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
        try:
            self.process.stdin.close()
        except OSError:
            pass
        try:
            code = self.process.wait(scaled(timeout))
        except subprocess.TimeoutExpired:
            self.kill()
            raise HarnessError("host did not exit within %ss after end of input\n%s" %
                               (timeout, self.describe()))
        self.stdout.join(scaled(5))
        self.stderr.join(scaled(5))
        return code

    def kill(self):
        """Ends the Windows process at once, without QUIT or unload: the
        Linux process that runs it is killed, so whatever it owned (a named
        mutex) is abandoned. Returns once the process is really gone."""
        _kill_process(self.process)
        self.stdout.join(scaled(5))
        self.stderr.join(scaled(5))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.kill()


def _kill_process(process):
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


def run_host(prefix, args, stdin_text=None, timeout=DEFAULT_TIMEOUT):
    """Runs zanvor.exe once with arguments; returns (exit code, stdout lines,
    stderr lines)."""
    result = subprocess.run(["wine", str(HOST_EXE)] + [str(a) for a in args], env=prefix.env(),
                            input=(stdin_text or "").encode("latin-1"),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=scaled(timeout))
    return (result.returncode,
            result.stdout.decode("latin-1").splitlines(),
            result.stderr.decode("latin-1").splitlines())


class Relay:
    """zanvor_relay.exe of one machine. `peers` are (address, port) pairs."""

    def __init__(self, prefix, port, peers=(), twice=False):
        self.port = port
        args = [RELAY_EXE, "--port", str(port), "--verbose"]
        for address, peer_port in peers:
            args += ["--peer", "%s:%d" % (address, peer_port)]
        if twice:
            args.append("--twice")
        self.process = prefix.start(args)
        self.stdout = _Lines(self.process.stdout, "stdout")
        self.stderr = _Lines(self.process.stderr, "stderr")
        if not self.stdout.wait(lambda lines: any(l.startswith("RELAY READY") for l in lines),
                                scaled(START_TIMEOUT)):
            self.stop()
            raise HarnessError("relay on port %d did not start\n%s" % (port, self.describe()))

    def describe(self):
        return ("--- relay %d stdout ---\n%s\n--- stderr ---\n%s" %
                (self.port, "\n".join(self.stdout.snapshot()),
                 "\n".join(self.stderr.snapshot())))

    def records(self):
        """The relay's datagram log lines as dicts."""
        return self._parse(self.stdout.snapshot())

    @staticmethod
    def _parse(lines):
        return [json.loads(line[len("RELAY "):]) for line in lines if line.startswith("RELAY {")]

    def wait_for_records(self, count, timeout=DEFAULT_TIMEOUT):
        """Waits until the relay has logged `count` datagrams; returns the
        records."""
        if not self.stdout.wait(lambda lines: len(self._parse(lines)) >= count, scaled(timeout)):
            raise HarnessError("relay logged fewer than %d datagrams within %ss\n%s" %
                               (count, timeout, self.describe()))
        return self.records()

    def stop(self):
        _kill_process(self.process)


class Machine:
    """An emulated machine: a namespace of its own on the LAN (10.77.0.x,
    reachable from the other machines' namespaces only), a fresh prefix whose
    wineserver runs there, and its mailslot relay. Hosts started with host()
    send domain-wide mailslot datagrams through the relay, which forwards
    them to the relays of the peer machines (given by their relay ports);
    ZANVOR's UDP copy travels over the LAN itself.

    remote_off: the hosts' domain mailslot fails with 3025, as on Windows 11
    24H2; sessions: further prefixes in the same namespace, as the sessions
    of one terminal server (session_host(i) starts a host in session i).

    The relay starts with the first host, so that every machine of a test
    exists by then and peers can be found by their ports."""

    _by_port = {}

    def __init__(self, name, port=None, peers=(), twice=False, lan=None, remote_off=False,
                 sessions=1):
        self.lan = lan or netns.default_lan()
        self.namespace = self.lan.add_namespace()
        self.address = self.namespace.address
        self.prefixes = [Prefix(name if i == 0 else "%s-s%d" % (name, i + 1),
                                self.namespace).fresh() for i in range(sessions)]
        self.prefix = self.prefixes[0]
        self.port = port or free_udp_port()
        self.peer_ports = list(peers)
        self.twice = twice
        self.remote_off = remote_off
        self._relay = None
        self.hosts = []
        Machine._by_port[self.port] = self

    @property
    def relay(self):
        if self._relay is None:
            peers = []
            for port in self.peer_ports:
                if port not in Machine._by_port:
                    raise HarnessError("no machine has relay port %d" % port)
                peers.append((Machine._by_port[port].address, port))
            self._relay = Relay(self.prefix, self.port, peers, self.twice)
        return self._relay

    def host(self, library=None, session=0):
        if self.remote_off:
            network = "remote-off"
        else:
            network = "relay:%d" % self.relay.port
        h = Host(self.prefixes[session], library=library, network=network)
        self.hosts.append(h)
        return h

    def send_udp(self, payload, port=ZANVOR_UDP_PORT, address="255.255.255.255"):
        """Sends one raw datagram from this machine's namespace (junk, replays)."""
        code = ("import socket,sys;s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM);"
                "s.setsockopt(socket.SOL_SOCKET,socket.SO_BROADCAST,1);"
                "s.sendto(sys.stdin.buffer.read(),(sys.argv[1],int(sys.argv[2])))")
        self.namespace.run(["python3", "-c", code, address, str(port)], input=bytes(payload),
                           check=True, timeout=scaled(30))

    def udp_port_bound(self, port=ZANVOR_UDP_PORT):
        return self.namespace.udp_port_bound(port)

    def stop(self):
        for h in self.hosts:
            if h.process.poll() is None:
                h.kill()
        if self._relay is not None:
            self._relay.stop()
        for prefix in self.prefixes:
            prefix.stop_server()
        Machine._by_port.pop(self.port, None)
        self.namespace.delete()


def wait_calls(host, proc, count, timeout=DEFAULT_TIMEOUT):
    """Waits until procedure `proc` has been called `count` times in host's
    DO lines; returns the argument lists."""
    deadline = time.monotonic() + scaled(timeout)
    while time.monotonic() < deadline:
        calls = host.calls(proc)
        if len(calls) >= count:
            return calls
        time.sleep(0.05)
    raise HarnessError("%s ran %d times, wanted %d\n%s" %
                       (proc, len(host.calls(proc)), count, host.describe()))


def settle(*hosts, pause=0.5):
    """Lets posted window messages and receive ticks run out: waits `pause`
    seconds, then has every host pump its messages once more."""
    time.sleep(scaled(pause))
    for host in hosts:
        host.send("DOEVENTS 200")
        host.sync()


class MachineTestCase(unittest.TestCase):
    """A test on one emulated machine: a fresh prefix per test, hosts
    started with start(), and all of them ended afterwards."""

    PREFIX = "machine"
    LIBRARY = FLL

    def setUp(self):
        self.prefix = Prefix(self.PREFIX).fresh()
        self.hosts = []

    def tearDown(self):
        for host in self.hosts:
            if host.process.poll() is None:
                host.kill()
        self.prefix.stop_server()

    def start(self, library=None, network=None):
        host = Host(self.prefix, library=library or self.LIBRARY, network=network)
        self.hosts.append(host)
        return host
