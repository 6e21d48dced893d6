"""Linux network namespaces for emulated machines.

Every Wine process that loads the library runs inside a namespace of ours:
the library sends UDP broadcasts, and none of them may reach the machine's
real network. Under Wine the sockets belong to the wineserver, so a prefix's
wineserver must be started inside the prefix's namespace (Prefix does that).

Names are "zv<pid>-<role>": unique per run, and a namespace whose run has
died is recognised and removed by sweep(). Namespaces are removed when the
process exits, also on SIGTERM/SIGINT; a run killed outright is swept by the
next one.
"""

import atexit
import os
import re
import signal
import subprocess

_NAME = re.compile(r"^zv(\d+)-[a-z0-9]+$")
_created = []


class NetnsError(RuntimeError):
    pass


def _ip(*args, check=True):
    result = subprocess.run(["ip"] + [str(a) for a in args], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if check and result.returncode != 0:
        raise NetnsError("ip %s failed: %s" % (" ".join(map(str, args)),
                                               result.stderr.decode(errors="replace").strip()))
    return result.stdout.decode(errors="replace")


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def sweep():
    """Removes namespaces of ours whose run has ended."""
    for line in _ip("netns", "list", check=False).splitlines():
        name = line.split()[0] if line.split() else ""
        match = _NAME.match(name)
        if match and int(match.group(1)) != os.getpid() and not _alive(int(match.group(1))):
            _ip("netns", "delete", name, check=False)


def remove_all():
    while _created:
        _created.pop().delete()


def _on_signal(number, frame):
    raise SystemExit(128 + number)


_installed = False


def _install_cleanup():
    global _installed
    if _installed:
        return
    _installed = True
    sweep()
    atexit.register(remove_all)
    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        if signal.getsignal(number) in (signal.SIG_DFL, signal.default_int_handler):
            signal.signal(number, _on_signal)


class Namespace:
    """One network namespace of ours; lo is up unless lo=False."""

    def __init__(self, role, lo=True):
        _install_cleanup()
        self.name = "zv%d-%s" % (os.getpid(), role)
        _ip("netns", "delete", self.name, check=False)
        _ip("netns", "add", self.name)
        _created.append(self)
        if lo:
            _ip("-n", self.name, "link", "set", "lo", "up")
        self.address = None  # the LAN address, for machines on a Lan

    def wrap(self, argv):
        """argv run inside this namespace."""
        return ["ip", "netns", "exec", self.name] + [str(a) for a in argv]

    def run(self, argv, **kwargs):
        return subprocess.run(self.wrap(argv), **kwargs)

    def alive(self):
        return self in _created

    def delete(self):
        _ip("netns", "delete", self.name, check=False)
        if self in _created:
            _created.remove(self)

    def udp_port_bound(self, port):
        """Whether any socket in this namespace is bound to UDP `port`."""
        out = self.run(["ss", "-Hnua", "sport", "= :%d" % port],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
        return bool(out.strip())


_solo = None


def solo():
    """This run's namespace for work that needs no network: lo only."""
    global _solo
    if _solo is None or not _solo.alive():
        _solo = Namespace("solo")
    return _solo


class Lan:
    """Emulated machines joined by a bridge that lives in a namespace of its
    own. Machine i gets eth0 with 10.77.0.<i>/24 and a default route on it
    (255.255.255.255 needs one); nothing else is reachable.

    With broadcast=False each address is a /32 with a route to the subnet:
    the machines still reach each other by address (the relays do), but no
    adapter has a subnet broadcast address, so the library's UDP copy of a
    post goes to the loopback address only and never leaves its machine.
    `tag` keeps the namespace names of a second LAN of one run apart;
    `subnet` (the first three octets and a dot) gives a second LAN a network
    of its own, as a second site has."""

    SUBNET = "10.77.0."

    def __init__(self, broadcast=True, tag="", subnet=SUBNET):
        self.broadcast = broadcast
        self.tag = tag
        self.subnet = subnet
        self.bridge = Namespace(tag + "br", lo=False)
        _ip("-n", self.bridge.name, "link", "add", "br0", "type", "bridge")
        _ip("-n", self.bridge.name, "link", "set", "br0", "up")
        self.machines = []

    def add_namespace(self, role=None):
        """A namespace on the bridge, named `role` (default: tag, "m" and
        its index)."""
        index = len(self.machines) + 1
        ns = Namespace(role or "%sm%d" % (self.tag, index))
        port = "p%d" % index
        _ip("-n", ns.name, "link", "add", "eth0", "type", "veth", "peer", "name", port,
            "netns", self.bridge.name)
        _ip("-n", self.bridge.name, "link", "set", port, "master", "br0", "up")
        ns.address = self.subnet + str(index)
        _ip("-n", ns.name, "addr", "add", ns.address + ("/24" if self.broadcast else "/32"),
            "dev", "eth0")
        _ip("-n", ns.name, "link", "set", "eth0", "up")
        if not self.broadcast:
            _ip("-n", ns.name, "route", "add", self.subnet + "0/24", "dev", "eth0")
        _ip("-n", ns.name, "route", "add", "default", "dev", "eth0")
        self.machines.append(ns)
        return ns

    def close(self):
        for ns in self.machines:
            ns.delete()
        self.machines = []
        self.bridge.delete()


_lan = None


def default_lan():
    """This run's LAN, made on first use."""
    global _lan
    if _lan is None or not _lan.bridge.alive():
        _lan = Lan()
    return _lan
