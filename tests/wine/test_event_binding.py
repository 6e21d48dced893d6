"""The library's subclass of the host's main window beside an event binding
of the program's, made after the library's load the way FoxPro's
BINDEVENT(_screen.hWnd, ...) makes one and taken off as FoxPro does it (the
procedure the binding saved goes back, unchecked): the release and the
unbinding in either order, and the library loaded again while what its first
load left in the window's chain is still there.

Each probe sends the host's probe message to the main window: the host's own
procedure answers it with a running count, so an answer proves the chain
still ends there, and the binding reports it while it is in the chain."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import winedriver as wd  # noqa: E402

PROBE = 32769  # WM_APP + 1, answered by the stand-in host's own procedure
EVENT_LINE = "EVENT %d 0 0" % PROBE


class EventBindingTest(wd.MachineTestCase):
    MACHINE = "binding"

    def setUp(self):
        super().setUp()
        self.probes = {}

    def probe(self, host, bound):
        """Sends the probe and checks its road: the host's procedure answers
        it (the next count), and the binding saw it exactly once while bound
        and not at all otherwise."""
        count = self.probes.get(host, 0) + 1
        self.probes[host] = count
        before = host.sync()
        host.send("? SENDMESSAGE(%d)" % PROBE)
        after = host.sync()
        self.assertEqual(host.output()[before:after - 1],
                         ([EVENT_LINE] if bound else []) + [str(count)], host.describe())

    def subscribe(self, host, name, proc):
        host.send('=SUBSCRIBE("%s", "DO %s WITH <Msg>")' % (name, proc))

    def assert_delivers(self, poster, name, message, receivers):
        """A local post from `poster` reaches the handler of every receiver
        (host, procedure) once."""
        poster.send('=ZANVOR_LOCAL("%s", "%s")' % (name, message))
        for host, proc in receivers:
            host.wait_call_with(proc, [message])
        self.exchange()
        for host, proc in receivers:
            self.assertEqual(host.calls(proc).count([message]), 1, host.describe())

    def release(self, host):
        host.send("RELEASE LIBRARY")
        host.sync()

    def assert_ends_cleanly(self, *hosts):
        for host in hosts:
            self.assertEqual(host.errors(), [], host.describe())
        for host in hosts:
            self.assertEqual(host.close(), 0, host.describe())

    def test_a_binding_made_after_the_load_outlives_the_release_and_unbinds_safely(self):
        host = self.start()
        other = self.start()
        self.subscribe(host, "n", "OnN")
        self.exchange()
        self.probe(host, bound=False)
        self.assertEqual(host.ask("BINDEVENT(%d)" % PROBE), ".T.")
        self.probe(host, bound=True)
        # Instance messages pass through the binding to the library.
        self.assert_delivers(other, "n", "bound", [(host, "OnN")])

        self.release(host)
        # The release must not cut the binding out of the chain.
        self.probe(host, bound=True)
        self.assertEqual(host.ask('UNBINDEVENTS()'), ".T.")
        # The binding put back the library's procedure: the module it lives
        # in has been released by the host, and the next message runs it.
        self.probe(host, bound=False)
        # Broadcasts of the other instance reach the window too: its own
        # release hands over nothing, its reload announces a server.
        self.release(other)
        other.load(wd.FLL)
        self.exchange()
        host.send("DOEVENTS 100")
        self.probe(host, bound=False)
        self.assert_ends_cleanly(host, other)

    def test_a_binding_taken_off_before_the_release_leaves_the_window_as_it_was(self):
        host = self.start()
        other = self.start()
        self.subscribe(host, "n", "OnN")
        self.exchange()
        self.assertEqual(host.ask("BINDEVENT(%d)" % PROBE), ".T.")
        self.probe(host, bound=True)
        self.assertEqual(host.ask("UNBINDEVENTS()"), ".T.")
        self.probe(host, bound=False)
        self.assert_delivers(other, "n", "unbound", [(host, "OnN")])
        self.release(host)
        self.probe(host, bound=False)
        # Bound and unbound once more with no library: the host's procedure
        # is at the bottom of the chain again.
        self.assertEqual(host.ask("BINDEVENT(%d)" % PROBE), ".T.")
        self.probe(host, bound=True)
        self.assertEqual(host.ask("UNBINDEVENTS()"), ".T.")
        self.probe(host, bound=False)
        self.assert_ends_cleanly(host, other)

    def test_a_load_again_after_a_release_under_a_binding_joins_the_machine(self):
        a = self.start()  # the server instance, until its release
        b = self.start()
        c = self.start()
        self.subscribe(a, "n", "OnNA")
        self.subscribe(a, "gone", "OnGone")
        self.subscribe(c, "n", "OnNC")
        self.subscribe(b, "m", "OnMB")
        self.exchange()
        self.assertEqual(a.ask("BINDEVENT(%d)" % PROBE), ".T.")
        self.release(a)
        self.exchange()
        only_n = str(len("n\t\tDO OnNA WITH <Msg>\n"))

        # Loaded again with the binding still on top of what the first load
        # left: the new load subclasses on top of the binding, and each of
        # the library's procedures in the chain passes on to what it
        # replaced (one probe, one answer, one event).
        a.load(wd.FLL)
        self.subscribe(a, "n", "OnNA")
        self.exchange()
        self.probe(a, bound=True)
        # The module stayed loaded, but a load starts afresh: nothing of the
        # first load is left in its table.
        self.assertEqual(a.ask("LEN(LIST_SUBSCR())"), only_n)
        self.assert_delivers(b, "gone", "0", [])
        self.assertEqual(a.calls("OnGone"), [])
        self.assert_delivers(b, "n", "1", [(a, "OnNA"), (c, "OnNC")])
        self.assert_delivers(a, "m", "2", [(b, "OnMB")])

        # Released on top of the chain, then unbound: what the first load
        # left is on top now, and a third load takes its place.
        self.release(a)
        self.probe(a, bound=True)
        self.assertEqual(a.ask("UNBINDEVENTS()"), ".T.")
        self.probe(a, bound=False)
        a.load(wd.FLL)
        self.subscribe(a, "n", "OnNA")
        self.exchange()
        self.probe(a, bound=False)
        self.assert_delivers(c, "n", "3", [(a, "OnNA"), (c, "OnNC")])
        self.assert_delivers(a, "m", "4", [(b, "OnMB")])
        self.assertEqual(a.ask("LEN(LIST_SUBSCR())"), only_n)

        self.release(a)
        self.probe(a, bound=False)
        self.assert_delivers(b, "n", "5", [(c, "OnNC")])
        self.assertNotIn(["5"], a.calls("OnNA"))
        self.assert_ends_cleanly(a, b, c)


if __name__ == "__main__":
    unittest.main()
