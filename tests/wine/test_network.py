"""The host's opt-in network emulation and zanvor_relay.exe, with the fake
link library writing to "\\\\*\\mailslot\\VFP\\ZANVOR\\SERVER" through its
import of CreateFileA and reading its machine's server mailslot."""

import os
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import winedriver as wd  # noqa: E402


def read_datagram(host, timeout=20):
    """Polls the host's server mailslot until a datagram arrives."""
    deadline = time.monotonic() + wd.scaled(timeout)
    while time.monotonic() < deadline:
        text = host.ask("MS_READ()")
        if text:
            return text
        time.sleep(0.1)
    raise wd.HarnessError("no datagram within %ss\n%s" % (timeout, host.describe()))


class SingleMachineTest(wd.MachineTestCase):
    MACHINE = "net-a"
    LIBRARY = wd.FAKE_FLL

    def test_without_emulation_the_domain_wide_name_is_left_alone(self):
        host = self.start()
        host.send("=MS_SERVER()", '=MS_SEND("x")')
        host.sync()
        # Wine has no domain-wide mailslots: the open fails and nothing is
        # redirected to the local one.
        self.assertEqual(len(host.errors()), 1)
        self.assertRegex(host.error_texts()[0], r"^CreateFileA failed: \d+$")
        self.assertEqual(host.ask("MS_READ()"), "")

    def test_local_mode_makes_this_machine_the_whole_network(self):
        server = self.start(network="local")
        sender = self.start(network="local")
        server.send("=MS_SERVER()")
        server.sync()
        sender.send('=MS_SEND("one machine")')
        sender.sync()
        self.assertEqual(sender.errors(), [])
        self.assertEqual(read_datagram(server), "one machine")

    def test_the_environment_variable_selects_the_mode(self):
        os.environ["ZANVOR_NETWORK"] = "local"
        try:
            host = self.start()
        finally:
            del os.environ["ZANVOR_NETWORK"]
        host.send("=MS_SERVER()", '=MS_SEND("from env")')
        host.sync()
        self.assertEqual(read_datagram(host), "from env")


class TwoMachineTest(unittest.TestCase):
    def setUp(self):
        self.machines = []

    def tearDown(self):
        for machine in self.machines:
            machine.stop()

    def network(self, twice_on_b=False):
        port_a, port_b = wd.free_udp_port(), wd.free_udp_port()
        a = wd.Machine("net-a", port_a, peers=[port_b])
        self.machines.append(a)
        b = wd.Machine("net-b", port_b, peers=[port_a], twice=twice_on_b)
        self.machines.append(b)
        return a, b

    def test_a_datagram_reaches_every_machine_through_the_relays(self):
        a, b = self.network()
        server_b = b.host(wd.FAKE_FLL)
        server_a = a.host(wd.FAKE_FLL)
        sender = a.host(wd.FAKE_FLL)
        for server in (server_a, server_b):
            server.send("=MS_SERVER()")
            server.sync()
        text = "over the wire " + "".join(chr(c) for c in range(0x80, 0x100, 7))
        sender.send('=MS_SEND("%s")' % text)
        sender.sync()
        self.assertEqual(sender.errors(), [])
        self.assertEqual(read_datagram(server_b), text)
        # The sender's own machine is part of the network too.
        self.assertEqual(read_datagram(server_a), text)
        # A second datagram after the first: the relays handle datagrams in
        # order, so once it is in, no copy of the first can still come.
        sender.send('=MS_SEND("end")')
        self.assertEqual(read_datagram(server_b), "end")
        self.assertEqual(a.relay.wait_for_records(2),
                         [{"from": "host", "bytes": len(text), "delivered": 1},
                          {"from": "host", "bytes": 3, "delivered": 1}])
        self.assertEqual(b.relay.wait_for_records(2),
                         [{"from": "peer", "bytes": len(text), "delivered": 1},
                          {"from": "peer", "bytes": 3, "delivered": 1}])

    def test_without_a_server_the_datagram_is_dropped_and_twice_duplicates(self):
        a, b = self.network(twice_on_b=True)
        server_b = b.host(wd.FAKE_FLL)
        server_b.send("=MS_SERVER()")
        server_b.sync()
        sender = a.host(wd.FAKE_FLL)
        sender.send('=MS_SEND("dup")')
        sender.sync()
        self.assertEqual(read_datagram(server_b), "dup")
        self.assertEqual(read_datagram(server_b), "dup")
        # The relay logs a datagram once it has written all its copies, and
        # it is the only writer of this mailslot: no third copy can come.
        self.assertEqual(a.relay.wait_for_records(1),
                         [{"from": "host", "bytes": 3, "delivered": 0}])
        self.assertEqual(b.relay.wait_for_records(1),
                         [{"from": "peer", "bytes": 3, "delivered": 2}])
        self.assertEqual(server_b.ask("MS_READ()"), "")


if __name__ == "__main__":
    unittest.main(verbosity=2)
