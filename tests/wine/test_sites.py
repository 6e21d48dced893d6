"""The gateway's test world on its own, without a gateway: two sites joined
only through the WAN namespace that holds a real broker (winedriver.sites,
winedriver.broker). What the gateway's tests take for granted is checked
here: the broker runs where it should with the password file, the ACL and
TLS written for it, a gateway namespace reaches it and a LAN does not, and
the world leaves nothing behind."""

import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import winedriver as wd  # noqa: E402
from winedriver import sites  # noqa: E402


def namespace_names():
    out = subprocess.run(["ip", "netns", "list"], stdout=subprocess.PIPE, check=True).stdout
    return {line.split()[0] for line in out.decode().splitlines() if line.split()}


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    return not open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()[0] == "Z"


class TwoSitesTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.addCleanup(self.directory.cleanup)
        # No machines: the world's wiring alone.
        self.world = sites.TwoSites(self.directory.name, machines=(0, 0), gateways=(2, 1))
        self.addCleanup(self.world.close)
        self.broker = self.world.broker.start()

    def test_clients_reach_the_broker_from_the_gateways_only_as_the_acl_allows(self):
        broker = self.broker
        watcher = broker.watch(self.world.wan.namespace)
        self.addCleanup(watcher.kill)
        a1, a2 = self.world.a.gateway_namespaces
        b1 = self.world.b.gateway_namespaces[0]
        broker.publish(a1, "zanvor/orders", "from a1", user="site-a",
                       zanvor_id="00112233445566778899aabbccddeeff")
        broker.publish(b1, "zanvor/orders/eu", "caf\u00e9 over TLS", user="site-b", tls=True)
        # The watcher only reads; the stranger may log in and write nothing.
        broker.publish(a2, "zanvor/orders", "not allowed", user="watcher")
        broker.publish(a2, "zanvor/orders", "not allowed either", user="stranger")
        broker.publish(a2, "zanvor/orders", "last", user="service")
        watcher.wait_messages(lambda m: m["payload"] == "last")
        self.assertEqual([(m["topic"], m["payload"], m["zanvor_id"]) for m in watcher.messages()],
                         [("zanvor/orders", "from a1", "00112233445566778899aabbccddeeff"),
                          ("zanvor/orders/eu", "caf\u00e9 over TLS", None),
                          ("zanvor/orders", "last", None)])
        # What the broker refused does not count as received.
        self.assertEqual([(topic, size) for _, topic, size in broker.received()],
                         [("zanvor/orders", 7), ("zanvor/orders/eu", 14), ("zanvor/orders", 4)])

        wrong = subprocess.run(a1.wrap(["mosquitto_pub", "-h", broker.address, "-V", "mqttv5",
                                        "-u", "site-a", "-P", "wrong", "-t", "zanvor/x",
                                        "-m", "x"]),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        self.assertNotEqual(wrong.returncode, 0)
        untrusted = subprocess.run(
            a1.wrap(["mosquitto_pub"] + broker.client_args("site-a") +
                    ["-p", str(wd.broker.TLS_PORT), "--cafile",
                     broker.certificates["wrong_ca"], "-t", "zanvor/x", "-m", "x"]),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        self.assertNotEqual(untrusted.returncode, 0, untrusted.stderr)

    def test_a_lan_cannot_reach_the_broker_and_a_gateway_has_a_broadcast_on_its_lan_only(self):
        machine = self.world.a.lan.add_namespace()
        result = machine.run(["mosquitto_pub"] + self.broker.client_args("service") +
                             ["-t", "zanvor/x", "-m", "x"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertNotEqual(result.returncode, 0, result.stderr)
        gw = self.world.a.gateway_namespaces[0]
        addresses = gw.run(["ip", "-4", "-o", "addr", "show"], stdout=subprocess.PIPE,
                           check=True).stdout.decode()
        eth0 = [line for line in addresses.splitlines() if " eth0 " in line]
        wan0 = [line for line in addresses.splitlines() if " wan0 " in line]
        # A /24 on the LAN has a subnet broadcast; a /31 has none.
        self.assertIn(" 10.77.1.1/24 ", eth0[0])
        self.assertIn(" 10.78.0.1/31 ", wan0[0])
        forwarding = gw.run(["sysctl", "-n", "net.ipv4.ip_forward"], stdout=subprocess.PIPE,
                            check=True).stdout.decode().strip()
        self.assertEqual(forwarding, "0")

    def test_a_sink_counts_what_is_sent_to_its_address(self):
        gw = self.world.b.gateway_namespaces[0]
        sink = sites.Sink(gw, "198.51.100.7")
        before = sink.packets()
        gw.run(["python3", "-c", "import socket; socket.socket(socket.AF_INET, "
                "socket.SOCK_DGRAM).sendto(b'x', ('198.51.100.7', 1883))"], check=True,
               timeout=30)
        self.assertGreater(sink.packets(), before)

    def test_the_broker_starts_again_and_everything_is_gone_after_the_close(self):
        names = {ns.name for ns in self.world.namespaces()}
        self.assertLessEqual(names, namespace_names())
        self.assertEqual(self.broker.stop(), 0)
        self.broker.start()
        pid = self.broker.process.pid
        self.world.close()
        self.assertFalse(alive(pid))
        self.assertEqual(names & namespace_names(), set())


if __name__ == "__main__":
    unittest.main(verbosity=2)
