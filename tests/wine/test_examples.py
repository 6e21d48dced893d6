"""The programs of examples/ as a FoxPro developer runs them: each program
file in a host process of its own with the real library, on emulated
machines, started in the order examples/README.md gives. Every line their
handlers print is checked, so the examples (and the docs that show them)
cannot drift from what the library does."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import winedriver as wd  # noqa: E402

EXAMPLES = wd.REPO / "examples"
# The native command-line tool, for the Linux side of the import example.
NATIVE_TOOL = os.environ.get("ZANVOR_NATIVE_TOOL", str(wd.REPO / "build" / "native" / "zanvor"))


def run(machine, program):
    """Starts examples/<program> on the machine, in the library's directory,
    where its SET LIBRARY TO zanvor.fll finds the library."""
    return machine.host(script=EXAMPLES / program, cwd=wd.FLL.parent)


def finish(test, host):
    """Waits for the program to end by itself and checks it reported no
    error; returns what it printed."""
    test.assertEqual(host.close(), 0, host.describe())
    test.assertEqual(host.error_lines(), [], host.describe())
    return host.output()


class OneMachineTest(wd.MachineTestCase):
    MACHINE = "examples"

    def test_chat_bob_answers_alice_and_leaves_when_she_does(self):
        bob = run(self.machine, "chat_bob.prg")
        bob.wait_for_line("Bob is online.")
        alice = run(self.machine, "chat_alice.prg")
        self.assertEqual(finish(self, alice),
                         ["Bob: I hear you. You said: Hello Bob, are you there?"])
        self.assertEqual(finish(self, bob), ["Bob is online.",
                                             "Alice: Hello Bob, are you there?",
                                             "Alice left: See you tomorrow."])


class NetworkTest(unittest.TestCase):
    """Two machines of a LAN whose remote mailslots are switched off, as on
    Windows 11 24H2: the posts travel over UDP."""

    def setUp(self):
        self.machines = [wd.Machine("examples-m%d" % (i + 1), remote_off=True)
                         for i in range(2)]
        for machine in self.machines:
            self.addCleanup(machine.stop)

    def start_on_each(self, program, ready):
        hosts = [run(machine, program) for machine in self.machines]
        for host in hosts:
            host.wait_for_line(ready)
        return hosts

    def test_orders_reach_the_watchers_of_both_machines(self):
        watchers = self.start_on_each("orders_watch.prg", "Waiting for orders.")
        self.assertEqual(finish(self, run(self.machines[1], "orders_post.prg")), [])
        for watcher in watchers:
            self.assertEqual(finish(self, watcher), [
                "Waiting for orders.",
                "New order: 1001;ACME Ltd;3 boxes",
                "New order: 1002;Zenith and Sons;1 crate",
                "No more orders: the shop is closed"])

    def test_cache_invalidation_and_shutdown_reach_every_copy(self):
        clients = self.start_on_each("cache_client.prg", "Caching prices and customers.")
        self.assertEqual(finish(self, run(self.machines[0], "cache_invalidate.prg")), [])
        for client in clients:
            client.wait_for_line("Cache dropped: customers")
        self.assertEqual(finish(self, run(self.machines[1], "app_shutdown.prg")), [])
        for client in clients:
            self.assertEqual(finish(self, client), [
                "Caching prices and customers.",
                "Cache dropped: prices",
                "Cache dropped: customers",
                "Closing: backup at 22:00"])

    def test_a_linux_service_tells_the_desktops_that_the_import_is_done(self):
        if not os.access(NATIVE_TOOL, os.X_OK):
            self.skipTest("the native tool %s is not built (target zanvor_tool)" % NATIVE_TOOL)
        desktops = self.start_on_each("import_wait.prg", "Waiting for the nightly import.")
        # The Linux server: one more namespace on the LAN, no Wine at all.
        server = self.machines[0].lan.add_namespace()
        self.addCleanup(server.delete)
        env = dict(os.environ, PATH=os.path.dirname(NATIVE_TOOL) + os.pathsep + os.environ["PATH"])
        result = server.run(["sh", str(EXAMPLES / "import_done.sh"), "1234"], env=env,
                            capture_output=True, timeout=wd.scaled(60))
        self.assertEqual(result.returncode, 0, result.stderr.decode("latin-1"))
        for desktop in desktops:
            lines = finish(self, desktop)
            self.assertEqual(lines[0], "Waiting for the nightly import.")
            self.assertRegex("\n".join(lines[1:]),
                             r"\AImport finished: \d{4}-\d{2}-\d{2}: 1234 rows imported\Z")


if __name__ == "__main__":
    unittest.main()
