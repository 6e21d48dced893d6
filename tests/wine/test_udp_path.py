"""ZANVOR's UDP path on the emulated LAN: machines in namespaces of their
own, remote mailslots switched off (error 3025, as on Windows 11 24H2) or
working through the relays, junk on the port, hand-overs and sessions."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import winedriver as wd  # noqa: E402

UNSENT_3025 = "Unable to send the message.\nError: 3025\n"


def subscribe(host, proc, name="news"):
    host.send('=SUBSCRIBE("%s", "DO %s WITH <Msg>")' % (name, proc))


class RemoteMailslotsOffTest(unittest.TestCase):
    """Every machine's domain mailslot fails with 3025: UDP alone carries."""

    def setUp(self):
        self.machines = [wd.Machine("udp-m%d" % (i + 1), remote_off=True) for i in range(3)]
        for m in self.machines:
            self.addCleanup(m.stop)

    def test_a_post_reaches_every_machine_once_and_raises_nothing(self):
        subscribers = [(m.host(wd.FLL), "On%d" % i) for i, m in enumerate(self.machines)]
        hosts = [h for h, _ in subscribers]
        for host, proc in subscribers:
            subscribe(host, proc)
        wd.subscribe_barrier(*hosts)
        wd.exchange(*hosts)
        poster = self.machines[1].host(wd.FLL)
        poster.send('=ZANVOR("news", "over udp")')
        for host, proc in subscribers:
            host.wait_calls(proc, 1)
        wd.network_barrier(poster, *hosts)
        for host, proc in subscribers:
            self.assertEqual(host.calls(proc), [["over udp"]], host.describe())
        self.assertEqual(poster.errors(), [])

    def test_a_killed_server_is_replaced_and_its_machine_keeps_receiving(self):
        m1, m2 = self.machines[:2]
        server = m1.host(wd.FLL)
        client = m1.host(wd.FLL)
        poster = m2.host(wd.FLL)
        subscribe(client, "Got")
        wd.subscribe_barrier(client)
        wd.exchange(server, client)
        server.kill()
        # The client finds the server gone on its next post to it and takes
        # the role, with the UDP socket.
        client.send('=ZANVOR_LOCAL("news", "local")')
        client.wait_calls("Got", 1)
        poster.send('=ZANVOR("news", "after the kill")')
        wd.wait_calls(client, "Got", 2)
        self.assertEqual(client.calls("Got"), [["local"], ["after the kill"]])

    def test_two_sessions_of_one_terminal_server_both_receive(self):
        machine = wd.Machine("udp-ts", remote_off=True, sessions=2)
        self.addCleanup(machine.stop)
        first = machine.host(wd.FLL, session=0)
        second = machine.host(wd.FLL, session=1)
        subscribe(first, "First")
        subscribe(second, "Second")
        wd.exchange(first, second)
        poster = self.machines[0].host(wd.FLL)
        poster.send('=ZANVOR("news", "both")')
        first.wait_calls("First", 1)
        second.wait_calls("Second", 1)

    def test_junk_on_the_port_delays_no_valid_post(self):
        m1, m2 = self.machines[:2]
        host = m1.host(wd.FLL)
        subscribe(host, "Got")
        subscribe(host, "Other", "a")
        wd.exchange(host)
        poster = m2.host(wd.FLL)
        # Every size the receiver rejects, then one of a size it reads whose
        # check byte does not match.
        for size in (1, 16, 416, 600):
            m2.send_udp(b"\x41" * size, address=m1.address)
        m2.send_udp(bytes(range(17, 17 + 60)), address=m1.address)  # fails its check byte
        poster.send('=ZANVOR("news", "valid")')
        host.wait_calls("Got", 1)
        self.assertEqual(host.calls("Got"), [["valid"]])
        self.assertEqual(host.calls("Other"), [])

    def test_the_port_is_free_again_after_the_last_instance_unloads(self):
        machine = self.machines[2]
        host = machine.host(wd.FLL)
        host.sync()
        self.assertTrue(machine.udp_port_bound())
        host.send("RELEASE LIBRARY")
        host.sync()
        self.assertFalse(machine.udp_port_bound())


class NoPathTest(unittest.TestCase):
    def test_with_both_paths_failing_the_call_raises_3025(self):
        # Remote mailslots off and no network at all, not even lo.
        machine = wd.Machine("udp-none", relay=False, remote_off=True,
                             namespace=wd.netns.Namespace("udpnolo", lo=False))
        self.addCleanup(machine.stop)
        host = machine.host(wd.FLL, network="remote-off")
        host.send('=ZANVOR("news", "nowhere")', '? "after"')
        host.wait_for_line("after")
        self.assertEqual(host.error_texts(), [UNSENT_3025])


class BothPathsTest(unittest.TestCase):
    """Mailslot relays that deliver every datagram twice, and UDP: each post
    arrives up to three times per machine."""

    def test_a_burst_of_300_is_delivered_exactly_once_each_in_order(self):
        ports = [wd.free_udp_port() for _ in range(2)]
        m1 = wd.Machine("udp-b1", ports[0], [ports[1]], twice=True)
        self.addCleanup(m1.stop)
        m2 = wd.Machine("udp-b2", ports[1], [ports[0]], twice=True)
        self.addCleanup(m2.stop)
        receiver = m1.host(wd.FLL)
        subscribe(receiver, "Got", "burst")
        wd.subscribe_barrier(receiver)
        wd.exchange(receiver)
        poster = m2.host(wd.FLL)
        for i in range(300):
            poster.send('=ZANVOR("burst", "%03d")' % i)
        poster.sync(timeout=120)
        wd.wait_calls(receiver, "Got", 300, timeout=120)
        wd.network_barrier(poster, receiver, timeout=60)
        got = [c[0] for c in receiver.calls("Got")]
        self.assertEqual(sorted(got), ["%03d" % i for i in range(300)])
        self.assertEqual(poster.errors(), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
