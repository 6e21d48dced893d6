"""Several host processes on one machine (one Wine prefix) with the real
library: election of the server instance, subscriptions, local posting, the
hand-over of the server role and recovery from a server that died."""

import os
import signal
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import winedriver as wd  # noqa: E402

HANDLER = "DO On%s WITH <Msg>"
NOT_JOINED = "Unable to join the other programs on this machine."


def quoted(text):
    """A FoxPro expression for text that the host's parser accepts."""
    if '"' not in text:
        return '"%s"' % text
    if "'" not in text:
        return "'%s'" % text
    return "[%s]" % text


class OneMachineTest(wd.MachineTestCase):
    MACHINE = "one-machine"

    def subscribe(self, host, name, proc=None):
        host.send('=SUBSCRIBE(%s, "%s")' % (quoted(name), HANDLER % (proc or name)))

    def wait_calls(self, host, proc, count, timeout=20):
        return host.wait_calls("On" + proc, count, timeout)

    def assert_delivered_once(self, hosts, proc, message):
        for host in hosts:
            self.wait_calls(host, proc, 1)
        # Every host of the test, the poster and the server included: a
        # second delivery would have been posted by now and is dispatched.
        self.exchange()
        for host in hosts:
            self.assertEqual(host.calls("On" + proc), [[message]], host.describe())

    # ---- election and local posting -------------------------------------

    def test_a_local_post_reaches_every_subscriber_once_the_server_included(self):
        server = self.start()
        clients = [self.start(), self.start()]
        poster = self.start()
        for host in [server] + clients:
            self.subscribe(host, "orders", "Order")
        self.exchange(server, *clients)
        poster.send('=ZANVOR_LOCAL("orders", "42")')
        self.assert_delivered_once([server] + clients, "Order", "42")
        self.assertEqual(poster.calls(), [])
        for host in self.hosts:
            self.assertEqual(host.errors(), [], host.describe())

    def test_a_later_instance_learns_the_server_and_registers_its_names(self):
        server = self.start()
        late = self.start()
        self.subscribe(late, "late")
        self.exchange(server, late)
        server.send('=ZANVOR_LOCAL("late", "hello")')
        self.assert_delivered_once([late], "late", "hello")
        self.assertEqual(server.calls(), [])

    def test_names_differing_only_in_case_are_different_subscriptions(self):
        server = self.start()
        client = self.start()
        self.subscribe(client, "Case", "Upper")
        self.subscribe(client, "case", "Lower")
        self.exchange(server, client)
        server.send('=ZANVOR_LOCAL("case", "x")')
        self.assert_delivered_once([client], "Lower", "x")
        self.assertEqual(client.calls("OnUpper"), [])

    def test_list_subscr_unsubscribe_and_the_freed_first_record(self):
        host = self.start()
        host.send('=SUBSCRIBE("a", "DO h1 WITH <Msg>")', '=SUBSCRIBE("b", "DO h2 WITH <Msg>")')
        host.send('DO Show WITH LIST_SUBSCR()')
        host.sync()
        self.assertEqual(host.calls("Show")[-1],
                         ["a\t\tDO h1 WITH <Msg>\nb\t\tDO h2 WITH <Msg>\n"])
        host.send('=UNSUBSCRIBE("a")', '=SUBSCRIBE("c", "DO h3 WITH <Msg>")',
                  'DO Show WITH LIST_SUBSCR()')
        host.sync()
        self.assertEqual(host.calls("Show")[-1],
                         ["c\t\tDO h3 WITH <Msg>\nb\t\tDO h2 WITH <Msg>\n"])
        host.send('=UNSUBSCRIBE("nobody")', '=UNSUBSCRIBE("b")', '=UNSUBSCRIBE("c")',
                  'DO Show WITH LIST_SUBSCR()')
        host.sync()
        self.assertEqual(host.calls("Show")[-1], [""])
        self.assertEqual(host.errors(), [])

    def test_a_parameter_is_read_up_to_its_first_nul(self):
        host = self.start()
        host.send('=SUBSCRIBE("ab" + CHR(0) + "cd", "DO Cut WITH <Msg>" + CHR(0) + "junk")',
                  'DO Show WITH LIST_SUBSCR()',
                  '=ZANVOR_LOCAL("ab" + CHR(0) + "zz", "m" + CHR(0) + "tail")')
        host.wait_calls("Cut", 1)
        self.assertEqual(host.calls("Show")[-1], ["ab\t\tDO Cut WITH <Msg>\n"])
        self.exchange(host)
        self.assertEqual(host.calls("Cut"), [["m"]])

    def test_argument_errors_reach_the_program_and_the_script_goes_on(self):
        host = self.start()
        host.send('=SUBSCRIBE("", "DO x WITH <Msg>")',
                  '=SUBSCRIBE(REPLICATE("n", 65), "DO x WITH <Msg>")',
                  '=SUBSCRIBE("n", "DO x WITH <msg>")',
                  '=SUBSCRIBE("n", REPLICATE("x", 60) + "<Msg>")',
                  '=UNSUBSCRIBE("")',
                  '=ZANVOR_LOCAL("", REPLICATE("m", 400))',
                  '=ZANVOR_LOCAL(REPLICATE("n", 65), "m")',
                  '=ZANVOR_LOCAL("n", REPLICATE("m", 301))',
                  '=ZANVOR_LOCAL("a:b", REPLICATE("m", 299))',
                  '=ZANVOR_LOCAL(REPLICATE("n", 64), REPLICATE("m", 300))',
                  '=SUBSCRIBE(REPLICATE("n", 64), REPLICATE("x", 59) + "<Msg>")',
                  '? "still running"')
        host.wait_for_line("still running")
        host.sync()
        self.assertEqual(host.error_texts(), [
            "Subscription name is empty.",
            "Subscription name is too long. 64 chars is max.",
            "Function does not have <Msg> keyword.",
            "Function name is too long. 64 chars is max.",
            "Subscription name is empty.",
            "Subscription name is empty.",
            "Subscription name is too long. 64 chars is max.",
            "Message is too long. 300 chars is max.",
            "Subscription name cannot contain a colon.",
        ])

    def test_the_51st_name_shows_the_table_full_box(self):
        host = self.start()
        for i in range(51):
            host.send('=SUBSCRIBE("name%02d", "DO x WITH <Msg>")' % i)
        host.send("DOEVENTS 300")
        host.sync()
        self.assertEqual(host.boxes(), [{"text": "Cannot create another subscription.",
                                         "title": "Zanvor error", "flags": 16}])
        host.send('DO Show WITH LIST_SUBSCR()')
        host.sync()
        listed = host.calls("Show")[-1][0]
        self.assertEqual(listed.count("\n"), 50)
        self.assertNotIn("name50", listed)

    # ---- handler commands -----------------------------------------------

    def test_handlers_receive_exactly_the_message_whatever_it_holds(self):
        server = self.start()
        client = self.start()
        self.subscribe(client, "q", "Quote")
        self.exchange(server, client)
        messages = [
            ('say "hi"', '[say "hi"]'),
            ("", '""'),
            ('"', "CHR(34)"),
            ('""' + "'x'" + '""', "CHR(34)+CHR(34)+\"'x'\"+CHR(34)+CHR(34)"),
            ("line1\r\nline2\n", '"line1"+CHR(13)+CHR(10)+"line2"+CHR(10)'),
            ('"); QUIT; ("', "[\"); QUIT; (\"]"),
            ('x' * 254 + '"' + 'y' * 45, 'REPLICATE("x", 254)+CHR(34)+REPLICATE("y", 45)'),
            ('z' * 300, 'REPLICATE("z", 300)'),
            ("\xe4\xf6\xfc [brackets] 'apos'", "\"\xe4\xf6\xfc [brackets] 'apos'\""),
            ("a:b:c", '"a:b:c"'),
        ]
        for _, expression in messages:
            server.send('=ZANVOR_LOCAL("q", %s)' % expression)
        self.wait_calls(client, "Quote", len(messages))
        self.exchange(server, client)
        self.assertEqual(client.calls("OnQuote"), [[m] for m, _ in messages])
        self.assertEqual(client.errors(), [], client.describe())
        self.assertIsNone(client.process.poll())

    def test_only_the_first_keyword_is_replaced(self):
        host = self.start()
        proc = "Two"
        host.send('=SUBSCRIBE("k", "DO Two WITH <Msg>, ' + "'<Msg>'" + '")')
        host.send('=ZANVOR_LOCAL("k", "x")')
        host.wait_calls(proc, 1, timeout=20)
        self.exchange(host)
        self.assertEqual(host.calls("Two"), [["x", "<Msg>"]])

    # ---- leaving and dying ----------------------------------------------

    def test_a_server_that_unloads_hands_the_role_to_exactly_one_other(self):
        server = self.start()
        a = self.start()
        b = self.start()
        self.subscribe(a, "after", "AfterA")
        self.subscribe(b, "after", "AfterB")
        self.exchange(server, a, b)
        server.send("RELEASE LIBRARY")
        server.sync()
        self.exchange(a, b)
        a.send('=ZANVOR_LOCAL("after", "one")')
        self.wait_calls(a, "AfterA", 1)
        self.wait_calls(b, "AfterB", 1)
        b.send('=ZANVOR_LOCAL("after", "two")')
        self.wait_calls(a, "AfterA", 2)
        self.wait_calls(b, "AfterB", 2)
        self.exchange(a, b)
        self.assertEqual(a.calls("OnAfterA"), [["one"], ["two"]])
        self.assertEqual(b.calls("OnAfterB"), [["one"], ["two"]])
        # A new instance finds the new server too.
        c = self.start()
        self.subscribe(c, "after", "AfterC")
        self.exchange(a, b, c)
        c.send('=ZANVOR_LOCAL("after", "three")')
        self.wait_calls(c, "AfterC", 1)
        self.wait_calls(a, "AfterA", 3)
        self.wait_calls(b, "AfterB", 3)

    def test_a_client_that_unloads_withdraws_its_names(self):
        server = self.start()
        client = self.start()
        for i in range(50):
            client.send('=SUBSCRIBE("n%02d", "DO x WITH <Msg>")' % i)
        self.exchange(server, client)
        client.send("RELEASE LIBRARY")
        client.sync()
        self.exchange(server)
        # The server's table had all 50 names; withdrawn, a new name fits.
        other = self.start()
        self.subscribe(other, "fresh")
        self.exchange(server, other)
        server.send('=ZANVOR_LOCAL("fresh", "in")')
        self.assert_delivered_once([other], "fresh", "in")
        self.assertEqual(other.boxes(), [])

    def test_a_server_killed_hard_is_replaced_on_the_next_post(self):
        server = self.start()
        clients = [(self.start(), proc) for proc in ("AliveA", "AliveB", "AliveC")]
        a = clients[0][0]
        b = clients[1][0]
        for host, proc in clients:
            self.subscribe(host, "alive", proc)
        self.exchange(server, *[host for host, _ in clients])
        server.kill()
        # a finds the server window gone, takes the role over (the mutex was
        # abandoned) and announces itself. It holds its post until b and c
        # have registered with it on the announcement: every live subscriber
        # gets the post that found the server dead, once.
        a.send('=ZANVOR_LOCAL("alive", "still")')
        for host, proc in clients:
            self.wait_calls(host, proc, 1, timeout=30)
        b.send('=ZANVOR_LOCAL("alive", "again")')
        for host, proc in clients:
            self.wait_calls(host, proc, 2)
        self.exchange(*[host for host, _ in clients])
        for host, proc in clients:
            self.assertEqual(host.calls("On" + proc), [["still"], ["again"]], host.describe())
            self.assertEqual(host.errors(), [], host.describe())

    def test_a_host_without_a_main_window_leaves_the_machine_to_the_others(self):
        # A COM server has no main window: nobody could reach it. Loaded
        # first, it must not take the server role; its SUBSCRIBE and
        # ZANVOR_LOCAL say so, and its ZANVOR still reaches the machine.
        windowless = self.start(extra_args=("--no-window",))
        windowless.send('=SUBSCRIBE("n", "DO OnW WITH <Msg>")',
                        '=ZANVOR_LOCAL("n", "lost")',
                        "DO Show WITH LIST_SUBSCR()")
        windowless.sync()
        self.assertEqual(windowless.error_texts(), [NOT_JOINED, NOT_JOINED])
        self.assertEqual(windowless.calls("Show"), [[""]])
        a = self.start()
        b = self.start()
        self.subscribe(a, "n", "NA")
        self.subscribe(b, "n", "NB")
        self.exchange(windowless, a, b)
        a.send('=ZANVOR_LOCAL("n", "from a")')
        self.wait_calls(a, "NA", 1)
        self.wait_calls(b, "NB", 1)
        b.send('=ZANVOR_LOCAL("n", "from b")')
        self.wait_calls(a, "NA", 2)
        self.wait_calls(b, "NB", 2)
        windowless.send('=ZANVOR("n", "over the network")')
        self.wait_calls(a, "NA", 3)
        self.wait_calls(b, "NB", 3)
        self.exchange(windowless, a, b)
        for host, proc in ((a, "OnNA"), (b, "OnNB")):
            self.assertEqual(host.calls(proc), [["from a"], ["from b"], ["over the network"]],
                             host.describe())
            self.assertEqual(host.errors(), [], host.describe())
        self.assertEqual(windowless.calls("OnW"), [])
        self.assertEqual(windowless.error_texts(), [NOT_JOINED, NOT_JOINED])
        self.assertEqual(windowless.close(), 0)

    def strand_a_client(self):
        """A server whose main window is destroyed while its process (and
        so its hold on the role) lives on, and a client B whose post then
        finds no window: B holds the post and asks for a server that cannot
        answer."""
        a = self.start()
        b = self.start()
        self.subscribe(a, "n", "NA")
        self.subscribe(b, "n", "NB")
        self.exchange(a, b)
        self.assertEqual(a.ask("DESTROYWINDOW()"), ".T.")
        b.send('=ZANVOR_LOCAL("n", "1")')
        self.exchange(b)
        self.assertEqual(b.calls("OnNB"), [])
        return a, b

    def assert_b_serves(self, b, held):
        """Every later call of B delivers (the held post first), and a new
        instance finds B as the server."""
        b.send('=ZANVOR_LOCAL("n", "2")')
        self.wait_calls(b, "NB", 1 + held)
        b.send('=SUBSCRIBE("m", "DO OnM WITH <Msg>")', '=ZANVOR_LOCAL("m", "3")')
        self.wait_calls(b, "M", 1)
        c = self.start()
        self.subscribe(c, "n", "NC")
        self.exchange(b, c)
        b.send('=ZANVOR_LOCAL("n", "4")')
        self.wait_calls(c, "NC", 1)
        self.exchange(b, c)
        self.assertEqual(b.calls("OnNB"), [["1"]] * held + [["2"], ["4"]])
        self.assertEqual(b.calls("OnM"), [["3"]])
        self.assertEqual(c.calls("OnNC"), [["4"]])
        self.assertEqual(b.errors(), [], b.describe())

    def test_a_client_stranded_by_a_windowless_server_takes_the_role_when_it_is_killed(self):
        a, b = self.strand_a_client()
        a.kill()
        # Nothing tells B; its next call claims the abandoned role.
        self.assert_b_serves(b, held=1)

    def test_a_client_stranded_by_a_windowless_server_takes_the_role_when_it_unloads(self):
        a, b = self.strand_a_client()
        self.assertEqual(a.close(), 0)
        # The ServerLeaving broadcast handed B the role, and B sent its held
        # post once its settle was over.
        self.wait_calls(b, "NB", 1)
        self.exchange(b)
        self.assertEqual(b.calls("OnNB"), [["1"]])
        self.assert_b_serves(b, held=1)

    def test_a_slow_subscriber_never_runs_a_handler_with_a_wrong_text(self):
        server = self.start()
        slow = self.start()
        self.subscribe(slow, "slow", "Slow")
        self.exchange(server, slow)
        os.kill(slow.process.pid, signal.SIGSTOP)
        try:
            posted = []
            for i in range(120):
                message = ("%04d" % i) * 62  # 248 bytes: 120 posts fill the ring almost twice
                posted.append(message)
                server.send('=ZANVOR_LOCAL("slow", "%s")' % message)
            server.sync(timeout=60)
            self.exchange(server)
        finally:
            os.kill(slow.process.pid, signal.SIGCONT)
        slow.send("DOEVENTS 500")
        slow.sync(timeout=60)
        self.exchange(slow)
        received = [args[0] for args in slow.calls("OnSlow")]
        self.assertTrue(received, slow.describe())
        self.assertLess(len(received), len(posted))
        for text in received:
            self.assertIn(text, posted)
        self.assertEqual(received, sorted(received))
        self.assertEqual(received[-1], posted[-1])

    def test_a_subscription_takes_effect_though_the_ring_wrapped_before_the_server_read_it(self):
        server = self.start()
        client = self.start()
        self.exchange(server, client)
        os.kill(server.process.pid, signal.SIGSTOP)
        try:
            self.subscribe(client, "late", "Late")
            # 150 texts of 150 bytes wrap the 16 KB ring over the name.
            for _ in range(150):
                client.send('=ZANVOR_LOCAL("other", "%s")' % ("x" * 150))
            client.sync(timeout=60)
            client.send("DOEVENTS 2000")  # the client's retries run meanwhile
            client.sync(timeout=60)
        finally:
            os.kill(server.process.pid, signal.SIGCONT)
        self.exchange(server, client)
        client.send('=ZANVOR_LOCAL("late", "1")')
        self.wait_calls(client, "Late", 1)
        self.assertEqual(client.errors(), [], client.describe())


if __name__ == "__main__":
    unittest.main(verbosity=2)
