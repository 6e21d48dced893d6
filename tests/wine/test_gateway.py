"""zanvor gateway between two sites: FoxPro hosts (the stand-in host with the
real library) on emulated machines of site A and site B, each site's
gateways in namespaces with a leg on the WAN, a real mosquitto broker in the
WAN namespace, and mosquitto_pub/mosquitto_sub as the other systems
(winedriver.sites). Machines have remote mailslots switched off, so UDP
alone carries a post on a LAN, as it must between sites.

The world is made once for the module; each test starts its own gateways
(ended after it) and posts texts of its own."""

import os
import re
import secrets
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import winedriver as wd  # noqa: E402
from winedriver import sites  # noqa: E402

# Procedure per name; every host subscribes all of them.
PROCS = {"orders": "Orders", "orders/eu": "OrdersEu", "prices": "Prices"}
PACKET_ID = re.compile(r"^[0-9a-f]{32}$")
# The issue's own bounds: a reconnect within 31 s of the broker's return,
# and no traffic 5 s after the last post.
RECONNECT_BOUND = 31
QUIET = 5

world = None
directory = None
hosts = {}  # "a1" -> Host


def setUpModule():
    missing = wd.gateway_missing()
    if missing:
        raise unittest.SkipTest(missing)
    global world, directory
    directory = tempfile.TemporaryDirectory()
    try:
        world = sites.TwoSites(directory.name, machines=(2, 2), gateways=(2, 1))
        world.broker.start()
        for tag in "ab":
            for i, machine in enumerate(world.sites[tag].machines):
                host = machine.host(wd.FLL)
                for name, proc in PROCS.items():
                    host.send('=SUBSCRIBE("%s", "DO %s WITH <Msg>")' % (name, proc))
                hosts["%s%d" % (tag, i + 1)] = host
        wd.exchange(*hosts.values())
        code_page = hosts["a1"].ask("CPCURRENT()")
        if code_page != "1252":
            raise wd.HarnessError("the hosts run with code page %s; the tests convert their "
                                  "texts as windows-1252" % code_page)
    except BaseException:
        tearDownModule()
        raise


def tearDownModule():
    global world
    if world is not None:
        world.close()
        world = None
    hosts.clear()
    if directory is not None:
        directory.cleanup()


def ansi(text):
    """`text` as a host prints it: its windows-1252 bytes, one code point
    each."""
    return text.encode("cp1252").decode("latin-1")


def post(host, name, text):
    """ZANVOR from a FoxPro host (text without double quotes)."""
    host.send('=ZANVOR("%s", "%s")' % (name, ansi(text)))


def unique(text):
    return "%s %s" % (text, secrets.token_hex(3))


def runs(host, name, text):
    return host.calls(PROCS[name]).count([ansi(text)])


class GatewayTestCase(unittest.TestCase):
    def gateway(self, tag, index, *args, json=True):
        """Starts a gateway of site `tag` in its gateway namespace `index`
        and waits until the broker has its subscription and its LAN socket
        is bound; ended after the test (SIGTERM, then its exit code must be
        0)."""
        client_id = "gw-%s%d-%s" % (tag, index + 1, secrets.token_hex(2))
        since = len(world.broker.log_lines())
        gateway = world.gateway(tag, index, list(args) + (["--json"] if json else []), client_id)
        self.addCleanup(self.stop, gateway)
        world.broker.wait_subscribed(client_id, since=since)
        namespace = world.sites[tag].gateway_namespaces[index]
        deadline = time.monotonic() + wd.scaled(wd.DEFAULT_TIMEOUT)
        while not namespace.udp_port_bound(38217):
            self.assertLess(time.monotonic(), deadline, gateway.describe())
            time.sleep(0.05)
        return gateway

    def stop(self, gateway):
        if gateway.alive():
            self.assertEqual(gateway.stop(), 0, gateway.describe())
        if gateway in world.gateways:
            world.gateways.remove(gateway)
        if gateway.stdout.snapshot():
            gateway.json_objects()  # with --json, stdout holds JSON objects only

    def watch(self):
        watcher = world.broker.watch(world.wan.namespace,
                                     client_id="watcher-" + secrets.token_hex(2))
        self.addCleanup(watcher.kill)
        return watcher

    def publish(self, topic, message, **kwargs):
        world.broker.publish(world.wan.namespace, topic, message, **kwargs)

    def wait_everywhere(self, name, text, where=None):
        for key in where or hosts:
            hosts[key].wait_call_with(PROCS[name], [ansi(text)])

    def assert_once_everywhere(self, name, *texts, where=None):
        for key in where or hosts:
            for text in texts:
                self.assertEqual(runs(hosts[key], name, text), 1,
                                 "%s on %s\n%s" % (text, key, hosts[key].describe()))

    def barrier(self, origin, name="orders", where=None):
        """A last post from `origin` (a host key, or None for an MQTT
        client) that every host must run: what the same path carried before
        it has run by then."""
        text = unique("barrier")
        if origin is None:
            self.publish("zanvor/" + name, text)
        else:
            post(hosts[origin], name, text)
        self.wait_everywhere(name, text, where)


class CrossingTest(GatewayTestCase):
    def test_foxpro_posts_run_every_handler_on_both_sites_once(self):
        gateways = {tag: self.gateway(tag, 0) for tag in "ab"}
        # Without --site each segment is named after its LAN, so each gets a
        # shared subscription of its own.
        for tag, gateway in gateways.items():
            self.assertEqual(world.broker.subscriptions(gateway.client_id),
                             ["$share/zanvor-%s/zanvor/#" % world.sites[tag].network])
        from_a = unique("from site A")
        from_b = unique("from site B")
        post(hosts["a1"], "orders", from_a)
        post(hosts["b2"], "orders", from_b)
        self.wait_everywhere("orders", from_a)
        self.wait_everywhere("orders", from_b)
        self.barrier("a1")
        self.barrier("b2")
        self.assert_once_everywhere("orders", from_a, from_b)

    def test_mqtt_clients_post_to_and_see_foxpro_byte_for_byte(self):
        self.gateway("a", 0)
        self.gateway("b", 0)
        watcher = self.watch()
        # Accents and the euro sign, which windows-1252 has at 0x80.
        from_mqtt = unique("Gr\u00fc\u00dfe \u2013 5 \u20ac caf\u00e9")
        self.publish("zanvor/orders", from_mqtt)
        self.wait_everywhere("orders", from_mqtt)
        from_foxpro = unique("na\u00efve cr\u00e8me \u20ac")
        post(hosts["a2"], "orders/eu", from_foxpro)
        seen = watcher.wait_messages(lambda m: m["payload"] == from_foxpro)
        self.assertEqual(seen[0]["topic"], "zanvor/orders/eu")
        self.assertRegex(seen[0]["zanvor_id"] or "", PACKET_ID)
        self.wait_everywhere("orders/eu", from_foxpro)
        self.barrier("a2")
        self.barrier(None)
        self.assert_once_everywhere("orders", from_mqtt)
        self.assert_once_everywhere("orders/eu", from_foxpro)
        # One gateway on site A: the broker got the FoxPro post once.
        self.assertEqual(len([m for m in watcher.messages() if m["payload"] == from_foxpro]), 1)


class TwoGatewaysTest(GatewayTestCase):
    def test_every_post_runs_once_and_one_gateway_keeps_the_site_joined(self):
        a1 = self.gateway("a", 0)
        self.gateway("a", 1)
        self.gateway("b", 0)
        watcher = self.watch()
        texts = {"foxpro A": unique("foxpro A"), "foxpro B": unique("foxpro B"),
                 "with id": unique("mqtt with id"), "without id": unique("mqtt without id")}
        post(hosts["a1"], "orders", texts["foxpro A"])
        post(hosts["b1"], "orders", texts["foxpro B"])
        self.publish("zanvor/orders", texts["with id"], zanvor_id=secrets.token_hex(16))
        self.publish("zanvor/orders", texts["without id"])
        for text in texts.values():
            self.wait_everywhere("orders", text)
        # Both gateways of site A heard the post made there and published
        # it; nothing a gateway injected is published again.
        watcher.wait_messages(lambda m: m["payload"] == texts["foxpro A"], count=2)
        mark = len(world.broker.log_lines())
        time.sleep(QUIET)
        self.assertEqual(world.broker.received(mark), [],
                         "traffic %ss after the last post" % QUIET)
        for text in texts.values():
            copies = [m for m in watcher.messages() if m["payload"] == text]
            self.assertLessEqual(len(copies), 2, (text, copies))
        self.assert_once_everywhere("orders", *texts.values())

        self.stop(a1)
        after = {"foxpro A": unique("after the stop, A"), "mqtt": unique("after the stop, mqtt")}
        post(hosts["a2"], "orders", after["foxpro A"])
        self.publish("zanvor/orders", after["mqtt"])
        for text in after.values():
            self.wait_everywhere("orders", text)
        self.barrier("a2")
        self.barrier(None)
        self.assert_once_everywhere("orders", *after.values())


class BrokerOutageTest(GatewayTestCase):
    def test_the_gateways_reconnect_and_count_what_they_dropped_meanwhile(self):
        gateways = [self.gateway("a", 0), self.gateway("b", 0)]
        before = gateways[0].counters()
        marks = [(len(g.output()), len(g.error_lines())) for g in gateways]
        stopped = time.monotonic()
        world.broker.stop()
        # Each reports the lost connection (a line on stdout or stderr).
        for gateway, (out, err) in zip(gateways, marks):
            reported = gateway.stdout.wait(lambda lines: len(lines) > out, wd.scaled(10))
            self.assertTrue(reported or len(gateway.error_lines()) > err, gateway.describe())
        during = unique("while the broker is down")
        post(hosts["a1"], "orders", during)
        self.wait_everywhere("orders", during, where=("a1", "a2"))
        time.sleep(max(0, 10 - (time.monotonic() - stopped)))
        since = len(world.broker.log_lines())
        world.broker.start()
        for gateway in gateways:
            world.broker.wait_subscribed(gateway.client_id, timeout=RECONNECT_BOUND, since=since)
        after = unique("after the broker's return")
        post(hosts["a1"], "orders", after)
        self.wait_everywhere("orders", after)
        self.barrier("a1")
        for key in ("b1", "b2"):
            self.assertEqual(runs(hosts[key], "orders", during), 0, hosts[key].describe())
        counters = gateways[0].counters()
        self.assertGreaterEqual(counters.get("dropped_disconnected") -
                                before.get("dropped_disconnected"), 1, (before, counters))
        self.assertGreaterEqual(counters.get("reconnects") - before.get("reconnects"), 1,
                                (before, counters))
        self.assertTrue(all(g.alive() for g in gateways))


class ConfigurationTest(GatewayTestCase):
    def args(self, url, user="site-a", password=None, *extra):
        return ["--broker", url, "--username", user, "--password-file",
                world.broker.password_file(user, password)] + list(extra)

    def test_wrong_password_and_wrong_certificate_end_it_with_one_line(self):
        namespace = world.a.gateway_namespaces[0]
        code, _, err = wd.run_gateway(namespace, self.args(world.broker.url(), "site-a", "nope"))
        self.assertEqual(code, 1, err)
        self.assertRegex(err[-1], r"(?i)password|not authori[sz]ed|refused", err)
        code, _, err = wd.run_gateway(namespace, self.args(
            world.broker.url(tls=True), "site-a", None, "--cafile",
            world.broker.certificates["wrong_ca"]))
        self.assertEqual(code, 1, err)
        self.assertRegex(err[-1], r"(?i)certificate", err)

    def test_tls_with_the_right_ca_carries_posts(self):
        self.gateway("a", 0, "--broker", world.broker.url(tls=True), "--cafile",
                     world.broker.certificates["ca"])
        text = unique("over TLS")
        self.publish("zanvor/orders", text)
        self.wait_everywhere("orders", text, where=("a1", "a2"))

    def test_plain_mqtt_at_the_tls_listener_keeps_retrying_and_is_never_accepted(self):
        client_id = "gw-plain-" + secrets.token_hex(2)
        since = len(world.broker.log_lines())
        gateway = world.gateway("a", 0, ["--broker", world.broker.url().replace(
            ":%d" % wd.broker.PLAIN_PORT, ":%d" % wd.broker.TLS_PORT)], client_id)
        self.addCleanup(self.stop, gateway)
        # The start line, then one line per failure (after 1 s, then 2 s).
        lines = gateway.wait_stderr_lines(4, timeout=30)
        self.assertTrue(gateway.alive(), gateway.describe())
        self.assertEqual(world.broker.connections(client_id, since), 0, lines)

    def test_plain_mqtt_to_a_public_address_is_refused_before_anything_is_sent(self):
        namespace = world.a.lan.add_namespace(role="apub")
        self.addCleanup(namespace.delete)
        world.wan.attach(namespace)
        sink = sites.Sink(namespace, "198.51.100.7")
        before = sink.packets()
        code, _, err = wd.run_gateway(namespace, self.args("mqtt://198.51.100.7:1883"))
        self.assertEqual(code, 2, err)
        self.assertEqual(sink.packets(), before)


class NamesTest(GatewayTestCase):
    def test_a_names_filter_limits_both_directions(self):
        self.gateway("a", 0, "--names", "orders/#")
        self.gateway("b", 0, "--names", "orders/#")
        watcher = self.watch()
        price = unique("a price from A")
        order = unique("an order from A")
        post(hosts["a1"], "prices", price)
        post(hosts["a1"], "orders/eu", order)
        self.wait_everywhere("orders/eu", order)
        watcher.wait_messages(lambda m: m["payload"] == order)
        mqtt_price = unique("a price from MQTT")
        mqtt_order = unique("an order from MQTT")
        self.publish("zanvor/prices", mqtt_price)
        self.publish("zanvor/orders/eu", mqtt_order)
        self.wait_everywhere("orders/eu", mqtt_order)
        self.barrier("a1", "orders/eu")
        self.assertEqual([m["topic"] for m in watcher.messages()
                          if m["payload"] in (price, order)], ["zanvor/orders/eu"])
        for key, host in hosts.items():
            self.assertEqual(runs(host, "prices", price), 1 if key.startswith("a") else 0, key)
            self.assertEqual(runs(host, "prices", mqtt_price), 0, key)
        self.assert_once_everywhere("orders/eu", order, mqtt_order)


class HostileInputTest(GatewayTestCase):
    def test_hostile_messages_are_dropped_and_counted_and_valid_ones_pass_once(self):
        gateways = [self.gateway("a", 0), self.gateway("b", 0)]
        valid = [unique("valid %d" % i) for i in range(3)]
        flood = unique("one post sent 10,000 times")
        self.publish("zanvor/orders", valid[0])
        hostile = [
            ("zanvor/orders", b"x" * 10240),
            ("zanvor/orders", b"not \xff\xfe UTF-8"),
            ("zanvor/ord:ers", b"a name with a colon"),
            ("zanvor/" + "n" * 65, b"a 65-byte name"),
            ("zanvor/", b"a name that unescapes to nothing"),
            ("zanvor/orders%4", b"a cut escape"),
            ("zanvor/%zzorders", b"not hex"),
        ]
        for topic, payload in hostile:
            self.publish(topic, payload)
        self.publish("zanvor/orders", valid[1])
        # 10,000 copies of one post in under 2 s, at a steady rate: an
        # unpaced burst also overruns what a QoS 0 subscriber is sure to get.
        world.broker.flood(world.wan.namespace, "zanvor/orders", flood, 10000, 1.6,
                           zanvor_id=secrets.token_hex(16))
        self.publish("zanvor/orders", valid[2])
        for text in valid + [flood]:
            self.wait_everywhere("orders", text)
        self.barrier(None)
        self.assert_once_everywhere("orders", *(valid + [flood]))
        for key, host in hosts.items():
            texts = [call[0] for call in host.calls("Orders")]
            self.assertFalse([t for t in texts if "x" * 300 in t or "UTF-8" in t], key)
        for gateway in gateways:
            self.assertTrue(gateway.alive(), gateway.describe())
            counters = gateway.counters()
            self.assertGreaterEqual(counters.get("dropped_duplicate"), 9999, counters)
            self.assertGreaterEqual(counters.dropped(), len(hostile) + 9999, counters)


if __name__ == "__main__":
    unittest.main(verbosity=2)
