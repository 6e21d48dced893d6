"""An emulated machine: a Wine prefix with a fresh wineserver in a network
namespace, and optionally its place on the emulated LAN with its relay to
the other machines."""

import subprocess

from . import netns
from .config import DEFAULT_TIMEOUT, HOST_EXE, START_TIMEOUT, HarnessError, scaled
from .host import Host
from .lines import kill_process
from .prefix import Prefix, kill_prefix_processes, retry_once
from .relay import ZANVOR_UDP_PORT, Relay, free_udp_port
from .tool import Tool

_RELAY_NETWORK = object()


class Machine:
    """A fresh prefix (every named object of an earlier run gone) kept alive
    by an idle host, the keeper.

    With relay=True the machine is on the LAN: a namespace of its own with
    eth0 on the bridge (10.77.0.x), where ZANVOR's UDP copy travels, and a
    relay on `port` that forwards domain-mailslot datagrams to the relays of
    the peer machines (given by their relay ports); hosts started with
    host() post through it. The relay starts with the first host, when every
    machine of the test exists and the peers' addresses are known.
    remote_off: the hosts' domain mailslot fails with 3025, as on Windows 11
    24H2. sessions: further prefixes in the same namespace, the sessions of
    one terminal server (host(..., session=i)).

    Without relay the machine runs in `namespace`, by default this run's
    isolated one (lo only)."""

    _by_port = {}

    def __init__(self, name, port=None, peers=(), twice=False, relay=True, lan=None,
                 remote_off=False, sessions=1, namespace=None):
        self.name = name
        self.lan = None
        if relay:
            self.lan = lan or netns.default_lan()
            namespace = self.lan.add_namespace()
        self.namespace = namespace or netns.solo()
        self.address = self.namespace.address
        self.prefixes = [Prefix(name if i == 0 else "%s-s%d" % (name, i + 1),
                                namespace=self.namespace).fresh() for i in range(sessions)]
        self.prefix = self.prefixes[0]
        self.hosts = []
        self.tools = []
        self.keepers = []
        self._relay = None
        self.port = None
        self.peer_ports = list(peers)
        self.twice = twice
        self.remote_off = remote_off
        self._start_server()
        if relay:
            self.port = port or free_udp_port()
            Machine._by_port[self.port] = self

    @property
    def relay(self):
        if self._relay is None and self.port is not None:
            peers = []
            for port in self.peer_ports:
                if port not in Machine._by_port:
                    raise HarnessError("no machine has relay port %d" % port)
                peers.append((Machine._by_port[port].address, port))
            self._relay = retry_once("starting the relay of %s" % self.name,
                                     lambda: Relay(self, self.port, peers, self.twice),
                                     lambda: None)
        return self._relay

    def _start_server(self):
        # A fresh wineserver per prefix, inside the namespace, with the idle
        # keeper host as its first process. The first process of a server
        # starts Wine's service processes, which inherit its standard handles
        # and keep them open; letting the idle keeper be that process keeps
        # the tests' pipes clean. The keeper also keeps the server (and so
        # the machine's named objects) alive while test processes come and
        # go, as on a real machine. The first process of a server waits for
        # Wine's start-up (wineboot --init, the services): a start that hangs
        # there is killed with the whole prefix and tried once more.
        for prefix in self.prefixes:
            prefix.stop_server()
            self.keepers.append(retry_once("starting the first process of %s" % prefix.path,
                                           lambda: self._keeper(prefix),
                                           lambda: kill_prefix_processes(prefix.path)))

    @staticmethod
    def _keeper(prefix):
        keeper = Host(prefix)
        try:
            keeper.sync(START_TIMEOUT)
        except HarnessError:
            kill_process(keeper.process)
            raise
        return keeper

    def popen(self, args, **popen_args):
        return self.prefix.popen(args, **popen_args)

    def host(self, library=None, network=_RELAY_NETWORK, extra_args=(), session=0, script=None,
             cwd=None, locale=None):
        """A host on this machine (library loaded when given, or running the
        program file `script` in `cwd`); by default with the relay's network
        emulation when the machine has a relay (or remote mailslots switched
        off with remote_off). `locale`: see Prefix.popen."""
        if network is _RELAY_NETWORK:
            if self.remote_off:
                network = "remote-off"
            else:
                network = "relay:%d" % self.relay.port if self.port else None
        h = Host(self.prefixes[session], library=library, network=network,
                 extra_args=extra_args, script=script, cwd=cwd, locale=locale)
        self.hosts.append(h)
        return h

    def send_udp(self, payload, address="255.255.255.255", port=ZANVOR_UDP_PORT):
        """Sends one raw datagram from this machine's namespace."""
        code = ("import socket,sys;s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM);"
                "s.setsockopt(socket.SOL_SOCKET,socket.SO_BROADCAST,1);"
                "s.sendto(sys.stdin.buffer.read(),(sys.argv[1],int(sys.argv[2])))")
        self.namespace.run(["python3", "-c", code, address, str(port)], input=bytes(payload),
                           check=True, timeout=scaled(30))

    def udp_port_bound(self, port=ZANVOR_UDP_PORT):
        """Whether a socket of this machine's namespace holds UDP `port`."""
        return self.namespace.udp_port_bound(port)

    def tool(self, args, session=0):
        """zanvor.exe with a verb and its arguments, running on this
        machine (ended with the machine)."""
        t = Tool(self.prefixes[session].popen([HOST_EXE] + list(args)), "zanvor.exe")
        self.tools.append(t)
        return t

    def run_host(self, args, stdin_text=None, timeout=DEFAULT_TIMEOUT):
        """Runs "zanvor.exe run" once with arguments; returns (exit code,
        stdout lines, stderr lines)."""
        return self.run_tool(["run"] + list(args), stdin_text, timeout)

    def run_tool(self, args, stdin_text=None, timeout=DEFAULT_TIMEOUT):
        """Runs zanvor.exe once with a verb and its arguments; returns (exit
        code, stdout lines, stderr lines)."""
        result = subprocess.run(self.prefix.inside(["wine", HOST_EXE] + list(args)),
                                env=self.prefix.env(),
                                input=(stdin_text or "").encode("latin-1"),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=scaled(timeout))
        return (result.returncode,
                result.stdout.decode("latin-1").splitlines(),
                result.stderr.decode("latin-1").splitlines())

    def stop(self):
        """Ends every process of the machine, its wineservers and its place
        on the LAN."""
        for h in self.hosts + self.tools:
            if h.process.poll() is None:
                h.kill()
        self.hosts = []
        self.tools = []
        if self._relay is not None:
            self._relay.stop()
            self._relay = None
        for keeper in self.keepers:
            kill_process(keeper.process)
        self.keepers = []
        for prefix in self.prefixes:
            prefix.stop_server()
        if self.lan is not None:
            Machine._by_port.pop(self.port, None)
            self.namespace.delete()
