"""ZANVOR with the real library across emulated machines: each machine is a
Wine prefix of its own with a relay on loopback UDP, and the hosts' opt-in
network emulation sends domain-wide mailslot datagrams through it."""

import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import winedriver as wd  # noqa: E402
from winedriver.relay import ZANVOR_UDP_PORT  # noqa: E402


wait_calls = wd.wait_calls
exchange = wd.exchange


class WithoutEmulationTest(wd.MachineTestCase):
    MACHINE = "net-none"

    def setUp(self):
        # No domain mailslot (Wine has none: error 3) and no network at all,
        # not even lo: neither path can send, so the mailslot's error shows.
        self.machine = wd.Machine(self.MACHINE, relay=False,
                                  namespace=wd.netns.Namespace("nolo", lo=False))
        self.addCleanup(self.machine.stop)
        self.hosts = self.machine.hosts

    def test_zanvor_reports_the_send_error_with_its_two_line_feeds(self):
        host = self.start()
        host.send('=ZANVOR("news", "hello")', '=ZANVOR("", "x")', '? "after"')
        host.wait_for_line("after")
        host.sync()
        # Wine has no domain-wide mailslot: opening it fails with error 3.
        self.assertEqual(host.error_texts(), ["Unable to send the message.\nError: 3\n",
                                              "Subscription name is empty."])


class OneMachineNetworkTest(wd.MachineTestCase):
    MACHINE = "net-local"

    def start(self):
        return super().start(network="local")

    def test_a_datagram_for_a_subscribed_name_reaches_every_handler_once(self):
        server = self.start()
        client = self.start()
        for host, proc in ((server, "OnNewsS"), (client, "OnNewsC")):
            host.send('=SUBSCRIBE("news", "DO %s WITH <Msg>")' % proc)
        wd.subscribe_barrier(server, client)
        exchange(server, client)
        client.send('=ZANVOR("news", "a:b " + CHR(34) + "q" + CHR(34))',
                    '=ZANVOR("other", "nobody listens")')
        wait_calls(server, "OnNewsS", 1)
        wait_calls(client, "OnNewsC", 1)
        wd.network_barrier(client, server, client)
        self.assertEqual(server.calls("OnNewsS"), [['a:b "q"']])
        self.assertEqual(client.calls("OnNewsC"), [['a:b "q"']])
        for host in self.hosts:
            self.assertEqual(host.errors(), [], host.describe())

    def test_many_posts_at_once_are_all_delivered_in_order(self):
        server = self.start()
        poster = self.start()
        server.send('=SUBSCRIBE("burst", "DO Got WITH <Msg>")')
        wd.subscribe_barrier(server)
        server.sync()
        for i in range(150):
            poster.send('=ZANVOR("burst", "%03d")' % i)
        poster.sync(timeout=60)
        wait_calls(server, "Got", 150, timeout=60)
        wd.network_barrier(poster, server)
        self.assertEqual([c[0] for c in server.calls("Got")], ["%03d" % i for i in range(150)])


class AcrossMachinesTest(unittest.TestCase):
    def setUp(self):
        self.ports = [wd.free_udp_port() for _ in range(3)]
        self.machines = []
        for i, port in enumerate(self.ports):
            peers = [p for p in self.ports if p != port]
            # Every datagram is delivered twice, as real broadcasts can be.
            self.machines.append(wd.Machine("net-m%d" % (i + 1), port, peers, twice=True))

    def tearDown(self):
        for machine in self.machines:
            machine.stop()

    def test_one_post_runs_every_handler_on_every_machine_exactly_once(self):
        m1, m2, m3 = self.machines
        subscribers = [(m1.host(wd.FLL), "OnA1"), (m1.host(wd.FLL), "OnA2"),
                       (m2.host(wd.FLL), "OnB1"), (m3.host(wd.FLL), "OnC1")]
        poster = m2.host(wd.FLL)
        hosts = [h for h, _ in subscribers]
        for host, proc in subscribers:
            host.send('=SUBSCRIBE("news", "DO %s WITH <Msg>")' % proc)
        wd.subscribe_barrier(*hosts)
        exchange(*hosts)
        poster.send('=ZANVOR("news", "across")')
        for host, proc in subscribers:
            wait_calls(host, proc, 1)
        wd.network_barrier(poster, *hosts)
        for host, proc in subscribers:
            self.assertEqual(host.calls(proc), [["across"]], host.describe())
        self.assertEqual(poster.calls(), [])

    def server_client_and_poster(self):
        """A server and a client subscribed to "news" (procedure Got) on the
        first machine, and a poster on the second."""
        m1, m2 = self.machines[:2]
        server = m1.host(wd.FLL)
        client = m1.host(wd.FLL)
        poster = m2.host(wd.FLL)
        client.send('=SUBSCRIBE("news", "DO Got WITH <Msg>")')
        wd.subscribe_barrier(client)
        exchange(server, client)
        return server, client, poster

    def test_a_machine_whose_server_unloads_keeps_receiving(self):
        server, client, poster = self.server_client_and_poster()
        poster.send('=ZANVOR("news", "before")')
        wait_calls(client, "Got", 1)
        server.send("RELEASE LIBRARY")
        server.sync()
        exchange(client)
        # The client won the role on ServerLeaving: it now owns the mailslot
        # and the receive timer of its machine.
        poster.send('=ZANVOR("news", "after")')
        wait_calls(client, "Got", 2)
        wd.network_barrier(poster, client)
        self.assertEqual(client.calls("Got"), [["before"], ["after"]])

    # A post travels by mailslot and by UDP, and the two copies need not
    # arrive together: the late one may reach the machine after its server
    # ended, when another instance holds the role.
    def test_a_copy_that_arrives_after_the_server_unloaded_is_still_a_duplicate(self):
        self.check_late_copy_after(lambda server, client: server.send("RELEASE LIBRARY"), [])

    def test_a_copy_that_arrives_after_the_server_was_killed_is_still_a_duplicate(self):
        def kill(server, client):
            server.kill()
            # The client finds the server gone on its next post to it and
            # takes the role over from the abandoned mutex.
            client.send('=ZANVOR_LOCAL("news", "local")')
            wait_calls(client, "Got", 2)
        self.check_late_copy_after(kill, [["local"]])

    def check_late_copy_after(self, end_server, got_at_the_end):
        m1, m3 = self.machines[0], self.machines[2]
        server, client, poster = self.server_client_and_poster()
        late_copy = capture_one_udp_datagram(m3, lambda: poster.send('=ZANVOR("news", "once")'))
        wait_calls(client, "Got", 1)
        wd.network_barrier(poster, client)
        end_server(server, client)
        if server.process.poll() is None:
            server.sync()
        exchange(client)
        m3.send_udp(late_copy, address=m1.address)
        poster.send('=ZANVOR("news", "after")')
        wait_calls(client, "Got", 2 + len(got_at_the_end))
        wd.network_barrier(poster, client)
        self.assertEqual(client.calls("Got"), [["once"]] + got_at_the_end + [["after"]])


def capture_one_udp_datagram(machine, post):
    """The first datagram that reaches `machine`'s namespace on the library's
    UDP port after post() ran (a machine with no instance holding the port)."""
    code = ("import socket,sys;s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM);"
            "s.setsockopt(socket.SOL_SOCKET,socket.SO_REUSEADDR,1);"
            "s.bind(('',int(sys.argv[1])));s.settimeout(float(sys.argv[2]));"
            "sys.stdout.buffer.write(s.recv(65536))")
    listener = subprocess.Popen(machine.namespace.wrap(
        ["python3", "-c", code, str(ZANVOR_UDP_PORT), str(wd.scaled(30))]),
        stdout=subprocess.PIPE)
    try:
        deadline = time.monotonic() + wd.scaled(30)
        while not machine.udp_port_bound():
            if time.monotonic() > deadline or listener.poll() is not None:
                raise wd.HarnessError("the UDP listener did not start")
            time.sleep(0.05)
        post()
        data, _ = listener.communicate(timeout=wd.scaled(60))
    finally:
        if listener.poll() is None:
            listener.kill()
            listener.wait()
    if listener.returncode != 0 or not data:
        raise wd.HarnessError("no datagram reached %s" % machine.name)
    return data


if __name__ == "__main__":
    unittest.main(verbosity=2)
