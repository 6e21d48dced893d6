"""ZANVOR with the real library across emulated machines: each machine is a
Wine prefix of its own with a relay on loopback UDP, and the hosts' opt-in
network emulation sends domain-wide mailslot datagrams through it."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from winedriver import harness as zh  # noqa: E402


wait_calls = zh.wait_calls


def settle(*hosts):
    # Longer than a few receive ticks (200 ms), so duplicates would have run.
    zh.settle(*hosts, pause=1.0)


class WithoutEmulationTest(unittest.TestCase):
    def test_zanvor_reports_the_send_error_with_its_two_line_feeds(self):
        # No domain mailslot (Wine has none: error 3) and no network at all,
        # not even lo: neither path can send, so the mailslot's error shows.
        prefix = zh.Prefix("net-none", zh.netns.Namespace("nolo", lo=False)).fresh()
        try:
            host = zh.Host(prefix, library=zh.FLL)
            host.send('=ZANVOR("news", "hello")', '=ZANVOR("", "x")', '? "after"')
            host.wait_for_line("after")
            host.sync()
            # Wine has no domain-wide mailslot: opening it fails with error 3.
            self.assertEqual(host.error_texts(), ["Unable to send the message.\nError: 3\n",
                                                  "Subscription name is empty."])
            host.kill()
        finally:
            prefix.stop_server()


class OneMachineNetworkTest(zh.MachineTestCase):
    PREFIX = "net-local"

    def start(self):
        return super().start(network="local")

    def test_a_datagram_for_a_subscribed_name_reaches_every_handler_once(self):
        server = self.start()
        client = self.start()
        for host, proc in ((server, "OnNewsS"), (client, "OnNewsC")):
            host.send('=SUBSCRIBE("news", "DO %s WITH <Msg>")' % proc)
        settle(server, client)
        client.send('=ZANVOR("news", "a:b " + CHR(34) + "q" + CHR(34))',
                    '=ZANVOR("other", "nobody listens")')
        wait_calls(server, "OnNewsS", 1)
        wait_calls(client, "OnNewsC", 1)
        settle(server, client)
        self.assertEqual(server.calls("OnNewsS"), [['a:b "q"']])
        self.assertEqual(client.calls("OnNewsC"), [['a:b "q"']])
        for host in self.hosts:
            self.assertEqual(host.errors(), [], host.describe())

    def test_many_posts_at_once_are_all_delivered_in_order(self):
        server = self.start()
        poster = self.start()
        server.send('=SUBSCRIBE("burst", "DO Got WITH <Msg>")')
        settle(server)
        for i in range(150):
            poster.send('=ZANVOR("burst", "%03d")' % i)
        poster.sync(timeout=60)
        wait_calls(server, "Got", 150, timeout=60)
        settle(server)
        self.assertEqual([c[0] for c in server.calls("Got")], ["%03d" % i for i in range(150)])


class AcrossMachinesTest(unittest.TestCase):
    def setUp(self):
        self.ports = [zh.free_udp_port() for _ in range(3)]
        self.machines = []
        for i, port in enumerate(self.ports):
            peers = [p for p in self.ports if p != port]
            # Every datagram is delivered twice, as real broadcasts can be.
            self.machines.append(zh.Machine("net-m%d" % (i + 1), port, peers, twice=True))

    def tearDown(self):
        for machine in self.machines:
            machine.stop()

    def test_one_post_runs_every_handler_on_every_machine_exactly_once(self):
        m1, m2, m3 = self.machines
        subscribers = [(m1.host(zh.FLL), "OnA1"), (m1.host(zh.FLL), "OnA2"),
                       (m2.host(zh.FLL), "OnB1"), (m3.host(zh.FLL), "OnC1")]
        poster = m2.host(zh.FLL)
        for host, proc in subscribers:
            host.send('=SUBSCRIBE("news", "DO %s WITH <Msg>")' % proc)
        settle(*(h for h, _ in subscribers))
        poster.send('=ZANVOR("news", "across")')
        for host, proc in subscribers:
            wait_calls(host, proc, 1)
        settle(*(h for h, _ in subscribers))
        for host, proc in subscribers:
            self.assertEqual(host.calls(proc), [["across"]], host.describe())
        self.assertEqual(poster.calls(), [])

    def test_a_machine_whose_server_unloads_keeps_receiving(self):
        m1, m2 = self.machines[:2]
        server = m1.host(zh.FLL)
        client = m1.host(zh.FLL)
        poster = m2.host(zh.FLL)
        client.send('=SUBSCRIBE("news", "DO Got WITH <Msg>")')
        settle(server, client)
        poster.send('=ZANVOR("news", "before")')
        wait_calls(client, "Got", 1)
        server.send("RELEASE LIBRARY")
        server.sync()
        settle(client)
        # The client won the role on ServerLeaving: it now owns the mailslot
        # and the receive timer of its machine.
        poster.send('=ZANVOR("news", "after")')
        wait_calls(client, "Got", 2)
        settle(client)
        self.assertEqual(client.calls("Got"), [["before"], ["after"]])


if __name__ == "__main__":
    unittest.main(verbosity=2)
