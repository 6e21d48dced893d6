"""An emulated machine: a Wine prefix with a fresh wineserver, and optionally
its relay to the other machines."""

import subprocess

from .config import DEFAULT_TIMEOUT, HOST_EXE, START_TIMEOUT, scaled
from .host import Host
from .lines import kill_process
from .prefix import Prefix
from .relay import Relay, free_udp_port

_RELAY_NETWORK = object()


class Machine:
    """A fresh prefix (every named object of an earlier run gone) kept alive
    by an idle host, the keeper. With relay=True, the machine's relay
    listens on `port` and forwards to the relays on `peers`; hosts started
    with host() then post domain-wide mailslot datagrams through it."""

    def __init__(self, name, port=None, peers=(), twice=False, relay=True):
        self.name = name
        self.prefix = Prefix(name).ensure()
        self.hosts = []
        self.keeper = None
        self.relay = None
        self.port = None
        self._start_server()
        if relay:
            self.port = port or free_udp_port()
            self.relay = Relay(self, self.port, peers, twice)

    def _start_server(self):
        # A fresh wineserver, with the idle keeper host as its first
        # process. The first process of a server starts Wine's service
        # processes, which inherit its standard handles and keep them open;
        # letting the idle keeper be that process keeps the tests' pipes
        # clean. The keeper also keeps the server (and so the machine's named
        # objects) alive while test processes come and go, as on a real
        # machine.
        self.prefix.stop_server()
        self.keeper = Host(self)
        self.keeper.sync(START_TIMEOUT)

    def popen(self, args):
        return self.prefix.popen(args)

    def host(self, library=None, network=_RELAY_NETWORK, extra_args=()):
        """A host on this machine (library loaded when given); by default
        with the relay's network emulation when the machine has a relay."""
        if network is _RELAY_NETWORK:
            network = "relay:%d" % self.port if self.relay else None
        h = Host(self, library=library, network=network, extra_args=extra_args)
        self.hosts.append(h)
        return h

    def run_host(self, args, stdin_text=None, timeout=DEFAULT_TIMEOUT):
        """Runs zanvor.exe once with arguments; returns (exit code, stdout
        lines, stderr lines)."""
        result = subprocess.run(["wine", str(HOST_EXE)] + [str(a) for a in args],
                                env=self.prefix.env(),
                                input=(stdin_text or "").encode("latin-1"),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=scaled(timeout))
        return (result.returncode,
                result.stdout.decode("latin-1").splitlines(),
                result.stderr.decode("latin-1").splitlines())

    def stop(self):
        """Ends every process of the machine and its wineserver."""
        for h in self.hosts:
            if h.process.poll() is None:
                h.kill()
        self.hosts = []
        if self.relay is not None:
            self.relay.stop()
            self.relay = None
        if self.keeper is not None:
            kill_process(self.keeper.process)
            self.keeper = None
        self.prefix.stop_server()
