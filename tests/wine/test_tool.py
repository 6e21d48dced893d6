"""The zanvor tool: zanvor.exe's verbs beside FoxPro hosts on one machine,
status and doctor on a machine of the emulated LAN, and the native tool in
a namespace of that LAN talking to hosts under Wine."""

import json
import os
import re
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import winedriver as wd  # noqa: E402

TIMESTAMP = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
CONSOLE_EVENT_EXE = wd.config.BUILD / "console_event.exe"


def subscribe(host, name="news", proc="OnNews"):
    host.send('=SUBSCRIBE("%s", "DO %s WITH <Msg>")' % (name, proc))


class ToolOnOneMachineTest(wd.MachineTestCase):
    MACHINE = "tool-machine"

    def listen(self, *args):
        tool = self.machine.tool(["listen"] + list(args))
        tool.wait_listening()
        return tool

    def table_names(self):
        code, out, err = self.machine.run_tool(["status", "--json"])
        self.assertEqual(code, 0, err)
        return json.loads(out[0])["table_names"]

    def test_posts_cross_between_the_tool_and_foxpro_hosts(self):
        server = self.start()
        subscriber = self.start()
        subscribe(subscriber)
        self.exchange(server, subscriber)
        as_json = self.listen("news", "orders", "--count", "3", "--json")
        plain = self.listen("news", "--count", "3")
        server.send("=ZANVOR_LOCAL(\"news\", 'say \"hi\"' + CHR(13) + CHR(10) + 'bye')")
        server.sync()
        code, out, err = self.machine.run_tool(["post", "--local", "news", "from the tool"])
        self.assertEqual((code, out, err), (0, [], []))
        # ZANVOR, with the message from standard input: this machine hears
        # it over UDP on 127.0.0.1.
        code, out, err = self.machine.run_tool(["post", "--json", "news", "-"],
                                               stdin_text="over udp\n")
        self.assertEqual((code, err), (0, []))
        self.assertEqual(json.loads(out[0]),
                         {"name": "news", "message": "over udp", "scope": "network"})

        self.assertEqual(as_json.finish(), 0, as_json.describe())
        self.assertEqual(plain.finish(), 0, plain.describe())
        texts = ['say "hi"\r\nbye', "from the tool", "over udp"]
        received = as_json.json_lines()
        self.assertEqual([(m["name"], m["message"]) for m in received],
                         [("news", text) for text in texts])
        self.assertTrue(all(TIMESTAMP.match(m["arrived"]) for m in received), received)
        self.assertEqual(plain.output(), ['news\tsay \\"hi\\"\\r\\nbye', "news\tfrom the tool",
                                          "news\tover udp"])
        for text in texts:
            subscriber.wait_call_with("OnNews", [text])

    def test_ctrl_c_ends_a_listener_that_withdraws_its_names(self):
        server = self.start()
        server.sync()
        listener = self.listen("alarm", "--json")
        self.assertEqual(self.table_names(), 1)
        listener.interrupt()
        self.assertEqual(listener.finish(), 0, listener.describe())
        self.assertEqual(listener.output(), [])
        self.assertEqual(self.table_names(), 0)

    def status(self, *args):
        code, out, err = self.machine.run_tool(["status", "--json"] + list(args))
        self.assertEqual((code, err), (0, []))
        return json.loads(out[0])

    def test_closing_the_console_of_a_listener_that_is_the_server_hands_the_role_on(self):
        listener = self.listen("news")  # first: it takes the server role
        subscriber = self.start()
        poster = self.start()
        subscribe(subscriber)
        self.exchange(subscriber, poster)
        server = self.status()["server"]
        self.assertEqual(server["program"], "zanvor.exe")
        # Windows runs the handler on a thread of its own and ends the
        # process when it returns: the handler must not return before the
        # library has unloaded (and broadcast that the server leaves).
        result = self.machine.prefix.run(["wine", CONSOLE_EVENT_EXE, server["process"], "close"],
                                         timeout=30)
        handled = re.search(rb"HANDLED ms=(\d+)", result.stdout)
        self.assertIsNotNone(handled, result.stdout)
        self.assertLess(int(handled.group(1)), 5000)
        listener.finish()
        # The other instances claimed the role on their own (no call of
        # theirs looked for the server): a new server answers, receives
        # over UDP and knows every name but the listener's.
        deadline = time.monotonic() + wd.config.scaled(30)
        status = self.status("--timeout", "1")
        while status["server"] is None:
            self.assertLess(time.monotonic(), deadline, "no new server: %s" % status)
            status = self.status("--timeout", "1")
        self.assertNotEqual(status["server"]["process"], server["process"])
        poster.send('=ZANVOR("news", "after the close")')
        subscriber.wait_call_with("OnNews", ["after the close"])
        self.assertEqual(self.status()["table_names"], 1)

    def test_status_shows_every_instance_with_its_names_and_dropped_texts(self):
        server = self.start()
        client = self.start()
        subscribe(server, "a", "OnA")
        subscribe(client, "a", "OnA")
        subscribe(client, "b", "OnB")
        self.exchange(server, client)
        status = self.status()
        instances = status["instances"]
        self.assertEqual(len(instances), 2, status)
        by_role = {i["server"]: i for i in instances}
        self.assertEqual(by_role[True]["process"], status["server"]["process"])
        self.assertEqual((by_role[True]["own_names"], by_role[False]["own_names"]), (1, 2))
        self.assertEqual(by_role[False]["server_window"], by_role[True]["window"])
        self.assertEqual([i["texts_dropped"] for i in instances], [0, 0])
        self.assertEqual(status["unreadable_answers"], 0)

    def test_ctrl_c_cuts_the_doctors_run_short_without_false_verdicts(self):
        server = self.start()
        server.sync()
        # A server that does not run its message loop: the doctor's waits
        # take their time, and the Ctrl+C comes during one of them.
        server.process.send_signal(signal.SIGSTOP)
        self.addCleanup(server.process.send_signal, signal.SIGCONT)
        doctor = self.machine.tool(["doctor", "--json", "--timeout", "60"])
        # The doctor's instance answers the status request once it waits.
        deadline = time.monotonic() + wd.config.scaled(60)
        while not self.status("--timeout", "1")["instances"]:
            self.assertLess(time.monotonic(), deadline, doctor.describe())
        doctor.interrupt()
        self.assertEqual(doctor.finish(), 1, doctor.describe())
        results = doctor.json_lines()
        self.assertEqual([(r["check"], r["result"]) for r in results], [("run", "stop")],
                         doctor.describe())
        self.assertTrue(results[0]["found"].startswith(
            "cut short by Ctrl+C during the search for the server instance"), results)

    def test_a_listener_that_fell_behind_warns_of_the_texts_the_ring_lost(self):
        poster = self.start()
        poster.sync()
        listener = self.listen("flood")
        listener.pause()
        # 120 texts of 306 bytes: the 16 KB ring holds about 50 of them, so
        # most are overwritten before the stopped listener reads its queue.
        for i in range(120):
            poster.send('=ZANVOR_LOCAL("flood", "%03d" + REPLICATE("x", 297))' % i)
        poster.sync(timeout=60)
        listener.resume()
        warning = listener.wait_for(r"zanvor: warning: (\d+) texts for this listener were "
                                    r"overwritten in the machine's ring", "stderr", timeout=60)
        listener.interrupt()
        self.assertEqual(listener.finish(), 0, listener.describe())
        lost = int(re.match(r"zanvor: warning: (\d+)", warning).group(1))
        printed = len(listener.output())
        self.assertGreater(lost, 0)
        self.assertEqual(printed + lost, 120, listener.describe())


class ToolOnTheLanTest(unittest.TestCase):
    """A machine whose remote mailslots are switched off (error 3025), on
    the emulated LAN, so that its adapter has a broadcast address."""

    def setUp(self):
        self.machine = wd.Machine("tool-lan", remote_off=True)
        self.addCleanup(self.machine.stop)

    def test_status_shows_the_server_its_table_paths_and_counters(self):
        code, out, _ = self.machine.run_tool(["status"])
        self.assertEqual(code, 0)
        self.assertEqual(out[0],
                         "server instance   none: no program has zanvor.fll loaded on this machine")
        server = self.machine.host(wd.FLL)
        client = self.machine.host(wd.FLL)
        subscribe(server, "a", "OnA")
        subscribe(server, "b", "OnB")
        subscribe(client, "a", "OnA")
        wd.exchange(server, client)
        client.send('=ZANVOR("a", "counted")')
        client.wait_calls("OnA", 1)
        server.wait_calls("OnA", 1)

        code, out, err = self.machine.run_tool(["status", "--json", "--network", "remote-off"])
        self.assertEqual((code, err), (0, []))
        status = json.loads(out[0])
        self.assertEqual(status["server"]["program"], "zanvor.exe")
        self.assertTrue(status["server"]["answered"])
        self.assertEqual((status["table_names"], status["table_entries"]), (2, 3))
        self.assertEqual(status["udp_socket"], "open")
        self.assertEqual(status["domain_mailslot"],
                         {"open": False, "error": 3025, "text": "remote mailslots are switched "
                                                                "off on this machine (error 3025)"})
        self.assertEqual(status["adapters"], [{"address": self.machine.address, "prefix": 24,
                                               "broadcast": "10.77.0.255"}])
        # One datagram to the broadcast address and one to 127.0.0.1: the
        # second is a duplicate.
        self.assertEqual(status["counters"], {"mailslot_datagrams": 0, "udp_datagrams": 2,
                                              "delivered": 1, "duplicates": 1,
                                              "bad_datagrams": 0})
        code, out, _ = self.machine.run_tool(["status", "--network", "remote-off"])
        self.assertRegex(out[0], r"^server instance   window 0x[0-9A-F]{8}, process \d+ "
                                 r"\(zanvor\.exe\)$")
        self.assertIn("subscriptions     2 names, 3 subscriber entries", out)

    def test_doctor_reports_each_path_and_fails_without_its_library(self):
        server = self.machine.host(wd.FLL)
        server.sync()
        code, out, err = self.machine.run_tool(["doctor", "--json", "--network", "remote-off"])
        results = [json.loads(line) for line in out]
        self.assertEqual(code, 0, out + err)
        self.assertEqual([(r["check"], r["result"]) for r in results], [
            ("local post", "ok"),
            ("network post over the domain mailslot", "warn"),
            ("network post over UDP to 10.77.0.255:38217 (adapter %s/24)" % self.machine.address,
             "ok"),
            ("network post over UDP to 127.0.0.1:38217", "ok"),
            ("firewall", "warn"),  # Wine keeps no firewall settings
            ("remote-mailslot policy", "warn"),
        ])
        self.assertIn("remote mailslots are switched off on this machine (error 3025)",
                      results[5]["found"])
        self.assertTrue(results[5]["fix"].startswith(
            r"reg add HKLM\Software\Policies\Microsoft\Windows\NetworkProvider"), results[5])

        code, out, _ = self.machine.run_tool(["doctor", "--library", r"Z:\nowhere\zanvor.fll"])
        self.assertEqual(code, 1)
        self.assertTrue(out[0].startswith("fail  library: cannot run an instance: "), out)

    def test_the_native_tool_and_foxpro_hosts_on_two_machines(self):
        linux = self.machine.lan.add_namespace()
        self.addCleanup(linux.delete)
        subscriber = self.machine.host(wd.FLL)
        subscribe(subscriber)
        wd.exchange(subscriber)
        listener = wd.native_tool(linux, ["listen", "news", "--count", "1", "--json"])
        self.addCleanup(listener.kill)
        listener.wait_listening()
        subscriber.send('=ZANVOR("news", \'from "wine"\')')
        self.assertEqual(listener.finish(), 0, listener.describe())
        self.assertEqual([(m["name"], m["message"]) for m in listener.json_lines()],
                         [("news", 'from "wine"')])

        code, out, err = wd.run_native_tool(linux, ["post", "news", "from linux"])
        self.assertEqual((code, out, err), (0, [], []))
        subscriber.wait_call_with("OnNews", ["from linux"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
