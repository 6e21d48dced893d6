"""The main job: zanvor.fll loaded by real host processes under Wine.

1. The library's function table, as the host reads it.
2. One machine: one host subscribes, another posts with ZANVOR_LOCAL, and the
   subscriber's handler runs in its own process.
3. An emulated network of two machines (two Wine prefixes joined by loopback
   relays): one ZANVOR on the first machine runs the handlers on both.
4. Windows 11 24H2 (remote mailslots off): the post goes over UDP.
5. The zanvor tool on such a machine: status, listen, post and doctor.
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
import winedriver as wd  # noqa: E402


def say(text=""):
    print(text, flush=True)


class Shown:
    """A host whose commands and new output lines are echoed with a label."""

    def __init__(self, label, host):
        self.label = label
        self.host = host
        self.seen_out = 0
        self.seen_err = 0

    def run(self, *lines):
        for line in lines:
            say("  %-10s > %s" % (self.label, line))
        self.host.send(*lines)
        self.host.sync()
        self.show()

    def show(self):
        out = [l for l in self.host.output() if not l.startswith(wd.SYNC_PREFIX)]
        err = [l for l in self.host.error_lines() if not l.startswith(wd.SYNC_PREFIX)]
        for line in out[self.seen_out:]:
            say("  %-10s | %s" % (self.label, line))
        for line in err[self.seen_err:]:
            say("  %-10s ! %s" % (self.label, line))
        self.seen_out, self.seen_err = len(out), len(err)

    def wait_for_call(self, proc, count=1, timeout=20):
        try:
            self.host.wait_calls(proc, count, timeout)
        except wd.HarnessError as e:
            raise SystemExit("demo: %s did not run %s\n%s" % (self.label, proc, e))
        finally:
            self.show()


def function_table():
    say("== The library's function table, as the host reads it")
    machine = wd.Machine("demo-table", relay=False)
    try:
        code, out, err = machine.run_host(["--table", wd.windows_path(wd.FLL)])
    finally:
        machine.stop()
    for line in out + err:
        say("  " + line)
    if code != 0:
        raise SystemExit("demo: zanvor.exe --table failed")
    say()


def one_machine():
    say("== One machine: a post crosses host processes")
    machine = wd.Machine("demo-machine", relay=False)
    try:
        a = Shown("host A", machine.host(wd.FLL))
        b = Shown("host B", machine.host(wd.FLL))
        a.run('=SUBSCRIBE("orders", "DO OnOrder WITH <Msg>")', "? LIST_SUBSCR()")
        b.run('=ZANVOR_LOCAL("orders", \'order 42 "rush" shipped\')')
        a.wait_for_call("OnOrder")
        say("  (host A's handler ran with exactly the posted text, quotes and all)")
    finally:
        machine.stop()
    say()


def two_machines():
    say("== Two emulated machines: one ZANVOR runs the handlers on both")
    ports = [wd.free_udp_port(), wd.free_udp_port()]
    machines = []
    try:
        machines.append(wd.Machine("demo-net1", ports[0], [ports[1]], twice=True))
        machines.append(wd.Machine("demo-net2", ports[1], [ports[0]], twice=True))
        m1 = Shown("m1 host A", machines[0].host(wd.FLL))
        m2 = Shown("m2 host B", machines[1].host(wd.FLL))
        m1.run('=SUBSCRIBE("news", "DO OnNews WITH <Msg>")')
        m2.run('=SUBSCRIBE("news", "DO OnNews WITH <Msg>")')
        wd.subscribe_barrier(m1.host, m2.host)
        m1.run('=ZANVOR("news", "hello from machine 1")')
        m1.wait_for_call("OnNews")
        m2.wait_for_call("OnNews")
        # A later post through the same relays: once both machines ran it,
        # every copy of the first datagram has been read.
        wd.network_barrier(m1.host, m1.host, m2.host)
        counts = [len(m.host.calls("OnNews")) for m in (m1, m2)]
        say("  (the relays delivered every datagram twice; handler runs per machine: %s)" % counts)
        if counts != [1, 1]:
            raise SystemExit("demo: a handler did not run exactly once")
    finally:
        for machine in machines:
            machine.stop()
    say()


def remote_mailslots_off():
    say("== Windows 11 24H2: remote mailslots switched off, the post goes over UDP")
    machines = []
    try:
        machines.append(wd.Machine("demo-w11a", remote_off=True))
        machines.append(wd.Machine("demo-w11b", remote_off=True))
        m1 = Shown("w11a host", machines[0].host(wd.FLL))
        m2 = Shown("w11b host", machines[1].host(wd.FLL))
        m2.run('=SUBSCRIBE("orders", "DO OnOrder WITH <Msg>")')
        wd.exchange(m2.host)
        say("  (w11a's domain mailslot fails with error 3025; on the LAN: %s -> %s)" %
            (machines[0].address, machines[1].address))
        m1.run('=ZANVOR("orders", "order 43 left the warehouse")', '? "posted"')
        m2.wait_for_call("OnOrder")
        say("  (ZANVOR raised nothing: the UDP copy reached the other machine)")
    finally:
        for machine in machines:
            machine.stop()
    say()


def run_tool(machine, *args):
    """Runs one zanvor.exe command on the machine and shows it as typed."""
    say("  $ zanvor %s" % " ".join(('"%s"' % a) if " " in a else a for a in args))
    code, out, err = machine.run_tool(list(args))
    for line in out + err:
        say("  " + line)
    return code


def the_tool():
    say("== The zanvor tool beside a FoxPro program, remote mailslots off")
    machine = wd.Machine("demo-tool", remote_off=True)
    try:
        host = Shown("host A", machine.host(wd.FLL))
        host.run('=SUBSCRIBE("orders", "DO OnOrder WITH <Msg>")')
        run_tool(machine, "status", "--network", "remote-off")
        say("  $ zanvor listen orders --count 2")
        listener = machine.tool(["listen", "orders", "--count", "2"])
        say("  " + listener.wait_listening())
        host.run('=ZANVOR_LOCAL("orders", \'order 46 "rush"\' + CHR(13) + CHR(10) + \'2 boxes\')')
        run_tool(machine, "post", "--local", "orders", "order 47")
        code = listener.finish()
        for line in listener.output() + listener.error_lines()[1:]:
            say("  " + line)
        host.wait_for_call("OnOrder", 2)
        if code != 0:
            raise SystemExit("demo: zanvor listen failed\n" + listener.describe())
        run_tool(machine, "doctor", "--network", "remote-off")
    finally:
        machine.stop()
    say()


def main():
    say("zanvor.fll: %s" % wd.FLL)
    say("zanvor.exe: %s" % wd.HOST_EXE)
    say()
    function_table()
    one_machine()
    two_machines()
    remote_mailslots_off()
    the_tool()
    say("demo: done")


if __name__ == "__main__":
    main()
