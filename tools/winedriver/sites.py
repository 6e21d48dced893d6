"""Two network segments joined only through a WAN: the test world of
`zanvor gateway`.

    site A: LAN 10.77.1.0/24            site B: LAN 10.77.2.0/24
    machines a-m1, a-m2 ...             machines b-m1 ...
    gateways a-gw1 [a-gw2] --wan0--+ +--wan0-- b-gw1
                                   | |
                      WAN namespace: the broker at 10.78.255.1

Every LAN is a bridge in a namespace of its own (netns.Lan). A gateway
namespace has eth0 on its LAN (a /24 with its subnet broadcast) and wan0, a
/31 to the WAN namespace, with a route to the broker's address only. A /31
has no broadcast address, so a gateway takes in and broadcasts on its LAN
alone, and no gateway namespace forwards: a machine on a LAN cannot reach
the broker, and nothing of one site reaches the other but through the
broker. Every address is private and every namespace is ours (removed with
the run), so nothing reaches the machine's real network.
"""

import subprocess
from pathlib import Path

from . import netns
from .broker import Broker
from .config import DEFAULT_TIMEOUT, HarnessError, scaled
from .machine import Machine

BROKER_ADDRESS = "10.78.255.1"
SITE_SUBNETS = {"a": "10.77.1.", "b": "10.77.2."}


def _ip(namespace, *args):
    netns._ip("-n", namespace.name, *args)


def _no_ipv6(namespace, device):
    # A link that comes up sends IPv6 neighbour and router solicitations on
    # its own, at times of its own: the counters of a sink must count only
    # what a program under test sent.
    namespace.run(["sysctl", "-q", "-w", "net.ipv6.conf.%s.disable_ipv6=1" % device],
                  check=True, stdout=subprocess.DEVNULL, timeout=scaled(30))


class Wan:
    """The WAN namespace: the broker's address on its lo, and one /31 link
    per gateway (10.78.K.0 on the WAN side, 10.78.K.1 on the gateway)."""

    def __init__(self, tag="wan"):
        self.namespace = netns.Namespace(tag)
        _ip(self.namespace, "addr", "add", BROKER_ADDRESS + "/32", "dev", "lo")
        self.links = 0

    def attach(self, namespace):
        """Gives `namespace` its leg on the WAN: wan0 with a /31 and a route
        to the broker's address through the WAN side of the link."""
        k = self.links
        self.links += 1
        if k > 254:
            raise HarnessError("the WAN has room for 255 gateways")
        wan_side = "g%d" % k
        _ip(namespace, "link", "add", "wan0", "type", "veth", "peer", "name", wan_side,
            "netns", self.namespace.name)
        _ip(namespace, "addr", "add", "10.78.%d.1/31" % k, "dev", "wan0")
        _ip(namespace, "link", "set", "wan0", "up")
        _ip(self.namespace, "addr", "add", "10.78.%d.0/31" % k, "dev", wan_side)
        _ip(self.namespace, "link", "set", wan_side, "up")
        _ip(namespace, "route", "add", BROKER_ADDRESS + "/32", "via", "10.78.%d.0" % k,
            "dev", "wan0")
        namespace.wan_address = "10.78.%d.1" % k
        return namespace

    def close(self):
        self.namespace.delete()


class Sink:
    """A veth pair inside `namespace` whose one end takes every packet routed
    to `address`: its transmit counter tells whether a program there sent
    anything to that address (an ARP request for it counts too), which goes
    nowhere else."""

    def __init__(self, namespace, address, device="sink0"):
        self.namespace = namespace
        self.device = device
        _ip(namespace, "link", "add", device, "type", "veth", "peer", "name", device + "p")
        for end in (device, device + "p"):
            _no_ipv6(namespace, end)
            _ip(namespace, "link", "set", end, "up")
        _ip(namespace, "route", "add", address + "/32", "dev", device)

    def packets(self):
        # sysfs shows the namespace's own devices under `ip netns exec`.
        out = self.namespace.run(["cat", "/sys/class/net/%s/statistics/tx_packets" % self.device],
                                 stdout=subprocess.PIPE, check=True, timeout=scaled(30)).stdout
        return int(out)


class Site:
    """One network segment: a LAN with `machines` emulated machines (Wine
    prefixes, remote mailslots off, so UDP alone carries posts, as between
    sites it must) and `gateways` gateway namespaces on the WAN."""

    def __init__(self, tag, wan, machines=1, gateways=1, subnet=None):
        self.tag = tag
        self.lan = netns.Lan(tag=tag, subnet=subnet or SITE_SUBNETS[tag])
        self.machines = []
        self.gateway_namespaces = []
        try:
            for i in range(gateways):
                ns = self.lan.add_namespace(role="%sgw%d" % (tag, i + 1))
                self.gateway_namespaces.append(wan.attach(ns))
            for i in range(machines):
                self.machines.append(Machine("gw-%s-m%d" % (tag, i + 1), remote_off=True,
                                             lan=self.lan))
        except BaseException:
            self.close()
            raise

    @property
    def network(self):
        """The LAN's network as the gateway's default site name spells it."""
        return "net-%s0-24" % self.lan.subnet

    def close(self):
        for machine in self.machines:
            machine.stop()
        self.machines = []
        self.lan.close()


class TwoSites:
    """Site A and site B, the WAN between them, and the broker in the WAN
    namespace (stopped; start it with world.broker.start()). `directory`
    holds the broker's files. close() ends every process and removes every
    namespace of the world; so does the end of the run."""

    def __init__(self, directory, machines=(1, 1), gateways=(1, 1), tls=True):
        self.directory = Path(directory)
        self.wan = Wan()
        self.sites = {}
        self.gateways = []
        try:
            self.broker = Broker(self.wan.namespace, self.directory, BROKER_ADDRESS, tls=tls)
            for tag, m, g in zip("ab", machines, gateways):
                self.sites[tag] = Site(tag, self.wan, m, g)
        except BaseException:
            self.close()
            raise

    @property
    def a(self):
        return self.sites["a"]

    @property
    def b(self):
        return self.sites["b"]

    def gateway(self, tag, index, args, client_id, user=None):
        """Starts `zanvor gateway` in gateway namespace `index` (from 0) of
        site `tag`, logged in as the site's user with its password file
        (unless args name their own), against the broker's plain URL
        unless args give --broker; ended with the world."""
        from .gateway import Gateway
        args = [str(a) for a in args]
        if "--broker" not in args:
            args = ["--broker", self.broker.url()] + args
        if "--username" not in args:
            user = user or "site-" + tag
            args += ["--username", user, "--password-file", self.broker.password_file(user)]
        gateway = Gateway(self.sites[tag].gateway_namespaces[index], args, client_id)
        self.gateways.append(gateway)
        return gateway

    def namespaces(self):
        result = [self.wan.namespace]
        for site in self.sites.values():
            result += [site.lan.bridge] + list(site.lan.machines)
        return result

    def close(self, timeout=DEFAULT_TIMEOUT):
        errors = []
        for gateway in self.gateways:
            try:
                gateway.stop(timeout)
            except HarnessError as e:
                errors.append(str(e))
        self.gateways = []
        if getattr(self, "broker", None) is not None:
            self.broker.stop(timeout)
        for site in self.sites.values():
            site.close()
        self.sites = {}
        self.wan.close()
        if errors:
            raise HarnessError("\n".join(errors))
