"""The host processes of one machine in a reliability run, each subscribed
to the run's names and posting under them, and the probes that look at the
machine from outside: which instance is the server, the text ring, a
foreign holder of a mutex (zanvor_probe.exe's modes), junk datagrams
(zanvor_bench.exe's)."""

import os
import re
import subprocess
import time

from .config import BENCH_EXE, DEFAULT_TIMEOUT, FLL, PROBE_EXE, HarnessError, scaled
from .deliveries import Receiver
from .lines import Lines, kill_process
from .waits import exchange

_WORD = re.compile(r"(\w+)=(\S+)")


def words(line):
    """{key: value} of a "key=value key=value" line, numbers as int."""
    result = {}
    for key, value in _WORD.findall(line):
        result[key] = int(value) if value.isdigit() else value
    return result


def ask_tagged(host, expression, timeout=DEFAULT_TIMEOUT):
    """The value of a character expression, printed behind a tag of its own
    so that handler output running meanwhile does not get in the way."""
    since = len(host.output())
    tag = "@v%d" % since
    host.send('? "%s " + %s' % (tag, expression))
    return host.wait_for(re.escape(tag) + r" (.*)$", timeout, since=since).group(1)


_PROBE_MODES = ("hold-mutex", "find-server", "ring-check")


def _program(mode):
    """The test program that has `mode`: the probes are zanvor_probe.exe's,
    the floods zanvor_bench.exe's."""
    return PROBE_EXE if mode in _PROBE_MODES else BENCH_EXE


def run_bench(machine, *args, timeout=DEFAULT_TIMEOUT):
    """Runs a mode of zanvor_probe.exe or zanvor_bench.exe on the machine;
    (exit code, stdout lines)."""
    program = _program(args[0])
    process = machine.popen([program] + [str(a) for a in args])
    try:
        out, err = process.communicate(timeout=scaled(timeout))
    except subprocess.TimeoutExpired:
        kill_process(process)
        raise HarnessError("%s %s did not end within %ss" %
                           (program.name, " ".join(str(a) for a in args), timeout))
    return process.returncode, out.decode("latin-1").splitlines()


def find_servers(machine, wait_ms=400):
    """Process ids (Windows') of the instances that answer a ServerQuery."""
    _, lines = run_bench(machine, "find-server", wait_ms)
    return [words(line)["pid"] for line in lines if line.startswith("SERVER ")]


def ring_check(machine):
    """The ring walk's {next, records, consistent, locked}."""
    _, lines = run_bench(machine, "ring-check")
    found = [words(line) for line in lines if line.startswith("RING ")]
    if not found:
        raise HarnessError("ring-check printed nothing: %r" % lines)
    return found[0]


class Background:
    """A zanvor_probe.exe or zanvor_bench.exe mode running beside the hosts,
    its lines read as they come."""

    def __init__(self, machine, *args):
        self.program = _program(args[0])
        self.process = machine.popen([self.program] + [str(a) for a in args])
        self.process.stdin.close()  # it reads nothing
        self.stdout = Lines(self.process.stdout, "stdout")
        self.stderr = Lines(self.process.stderr, "stderr")

    def wait_line(self, prefix, timeout=DEFAULT_TIMEOUT):
        """The time the first line starting with prefix was read, and it."""
        found = self.stdout.wait(lambda lines: any(l.startswith(prefix) for l in lines),
                                 scaled(timeout))
        if not found:
            raise HarnessError("%s printed no %r within %ss: %r %r" %
                               (self.program.name, prefix, timeout, self.stdout.snapshot(),
                                self.stderr.snapshot()))
        for t, line in self.stdout.timed_snapshot():
            if line.startswith(prefix):
                return t, line

    def finish(self, timeout=DEFAULT_TIMEOUT):
        try:
            self.process.wait(scaled(timeout))
        except subprocess.TimeoutExpired:
            kill_process(self.process)
            raise HarnessError("%s did not end within %ss" % (self.program.name, timeout))
        self.stdout.join(scaled(5))
        return self.process.returncode


def linux_view(pid):
    """What Linux sees of a Wine process: resident kB and open descriptors."""
    try:
        with open("/proc/%d/status" % pid) as f:
            rss = next((int(l.split()[1]) for l in f if l.startswith("VmRSS:")), 0)
        fds = len(os.listdir("/proc/%d/fd" % pid))
    except (OSError, StopIteration):
        return {}
    return {"linux_rss_kb": rss, "linux_fds": fds}


class Member:
    """One host of the crowd: its sender number, its host, its Windows
    process id and, per subscribed name, its Receiver."""

    def __init__(self, sender, host, pid):
        self.sender = sender
        self.host = host
        self.pid = pid
        self.receivers = {}
        self.loaded = True
        self.killed = False


class Crowd:
    """Hosts of one machine, each subscribed to every (name, proc) of
    `subscriptions` and posting through the posters given to add()."""

    def __init__(self, machine, subscriptions, network=None):
        self.machine = machine
        self.subscriptions = list(subscriptions)
        self.network = network
        self.members = []
        self.posters = []
        self._next_sender = 0

    def subscribe(self, member):
        now = time.monotonic()
        for name, proc in self.subscriptions:
            member.host.send('=SUBSCRIBE("%s", "DO %s WITH <Msg>")' % (name, proc))
            if name in member.receivers:
                member.receivers[name].rejoin(now)
            else:
                member.receivers[name] = Receiver("%s#%d" % (name, member.sender), member.host,
                                                  proc, now)

    def join(self, count=1, settle=True):
        """Starts `count` hosts that load the library and subscribe; with
        settle, waits until every host has seen the registrations through."""
        new = []
        for _ in range(count):
            host = self.machine.host(FLL, network=self.network)
            pid = words(ask_tagged(host, "RESOURCES()"))["pid"]
            member = Member(self._next_sender, host, pid)
            self._next_sender += 1
            self.subscribe(member)
            self.members.append(member)
            new.append(member)
        if settle:
            exchange(*self.hosts())
        for member in new:
            for poster in self.posters:
                poster.add(member.sender, member.host)
        return new

    def add_poster(self, poster):
        self.posters.append(poster)
        for member in self.live():
            poster.add(member.sender, member.host)

    def live(self):
        return [m for m in self.members if m.loaded and m.host.process.poll() is None]

    def hosts(self):
        return [m.host for m in self.live()]

    def receivers(self, name):
        return [m.receivers[name] for m in self.members if name in m.receivers]

    def live_receivers(self, name):
        return [m.receivers[name] for m in self.live() if name in m.receivers]

    def server(self):
        """The member that answers ServerQuery; an error unless exactly one
        instance does."""
        pids = find_servers(self.machine)
        if len(pids) != 1:
            raise HarnessError("%d instances answer as the server: %r" % (len(pids), pids))
        for member in self.live():
            if member.pid == pids[0]:
                return member
        raise HarnessError("the server (pid %d) is none of the crowd" % pids[0])

    def kill(self, member):
        """Ends the member's process outright (no unload)."""
        for poster in self.posters:
            poster.remove(member.sender)
        now = time.monotonic()
        member.host.kill()
        member.killed = True
        for receiver in member.receivers.values():
            receiver.leave(now)
        return now

    def unload(self, member):
        """RELEASE LIBRARY in the member's host; it posts no more."""
        for poster in self.posters:
            poster.remove(member.sender)
        now = time.monotonic()
        member.host.send("RELEASE LIBRARY")
        for receiver in member.receivers.values():
            receiver.leave(now)
        member.loaded = False
        return now

    def reload(self, member):
        """Loads the library again in an unloaded member, subscribes again
        and posts again."""
        member.host.load(FLL)
        member.loaded = True
        self.subscribe(member)
        member.host.sync()
        for poster in self.posters:
            poster.add(member.sender, member.host)

    def resources(self):
        """{sender: RESOURCES() words and the Linux view} of the live
        members."""
        result = {}
        for member in self.live():
            info = words(ask_tagged(member.host, "RESOURCES()"))
            info.update(linux_view(member.host.process.pid))
            result[member.sender] = info
        return result

    def errors(self, allowed=()):
        """Error lines and message boxes of every member, but the allowed
        error texts."""
        found = []
        for member in self.members:
            found += ["#%d error: %r" % (member.sender, text)
                      for text in member.host.error_texts() if text not in allowed]
            found += ["#%d box: %r" % (member.sender, box["text"]) for box in member.host.boxes()]
        return found
