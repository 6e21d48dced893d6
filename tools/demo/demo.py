"""The main job: zanvor.fll loaded by real host processes under Wine.

1. The library's function table, as the host reads it.
2. One machine: one host subscribes, another posts with ZANVOR_LOCAL, and the
   subscriber's handler runs in its own process.
3. An emulated network of two machines (two Wine prefixes joined by loopback
   relays): one ZANVOR on the first machine runs the handlers on both.
"""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from winedriver import harness as zh  # noqa: E402


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
        out = [l for l in self.host.output() if not l.startswith("__sync_")]
        err = [l for l in self.host.error_lines() if not l.startswith("__sync_")]
        for line in out[self.seen_out:]:
            say("  %-10s | %s" % (self.label, line))
        for line in err[self.seen_err:]:
            say("  %-10s ! %s" % (self.label, line))
        self.seen_out, self.seen_err = len(out), len(err)

    def wait_for_call(self, proc, count=1, timeout=20):
        deadline = time.monotonic() + zh.scaled(timeout)
        while len(self.host.calls(proc)) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        self.show()
        if len(self.host.calls(proc)) < count:
            raise SystemExit("demo: %s did not run %s\n%s" % (self.label, proc,
                                                              self.host.describe()))


def function_table():
    say("== The library's function table, as the host reads it")
    prefix = zh.Prefix("demo-table").ensure()
    code, out, err = zh.run_host(prefix, ["--table", zh.windows_path(zh.FLL)])
    for line in out + err:
        say("  " + line)
    if code != 0:
        raise SystemExit("demo: zanvor.exe --table failed")
    say()


def one_machine():
    say("== One machine: a post crosses host processes")
    prefix = zh.Prefix("demo-machine").fresh()
    hosts = []
    try:
        a = Shown("host A", zh.Host(prefix, library=zh.FLL))
        hosts.append(a.host)
        b = Shown("host B", zh.Host(prefix, library=zh.FLL))
        hosts.append(b.host)
        a.run('=SUBSCRIBE("orders", "DO OnOrder WITH <Msg>")', "? LIST_SUBSCR()")
        b.run('=ZANVOR_LOCAL("orders", \'order 42 "rush" shipped\')')
        a.wait_for_call("OnOrder")
        say("  (host A's handler ran with exactly the posted text, quotes and all)")
    finally:
        for host in hosts:
            host.kill()
        prefix.stop_server()
    say()


def two_machines():
    say("== Two emulated machines: one ZANVOR runs the handlers on both")
    ports = [zh.free_udp_port(), zh.free_udp_port()]
    machines = [zh.Machine("demo-net1", ports[0], [ports[1]], twice=True),
                zh.Machine("demo-net2", ports[1], [ports[0]], twice=True)]
    try:
        m1 = Shown("m1 host A", machines[0].host(zh.FLL))
        m2 = Shown("m2 host B", machines[1].host(zh.FLL))
        m1.run('=SUBSCRIBE("news", "DO OnNews WITH <Msg>")')
        m2.run('=SUBSCRIBE("news", "DO OnNews WITH <Msg>")')
        time.sleep(zh.scaled(0.5))
        m1.run('=ZANVOR("news", "hello from machine 1")')
        m1.wait_for_call("OnNews")
        m2.wait_for_call("OnNews")
        time.sleep(zh.scaled(1.0))  # several receive ticks: a duplicate would have run by now
        m1.run("DOEVENTS 200")
        m2.run("DOEVENTS 200")
        counts = [len(m.host.calls("OnNews")) for m in (m1, m2)]
        say("  (the relays delivered every datagram twice; handler runs per machine: %s)" % counts)
        if counts != [1, 1]:
            raise SystemExit("demo: a handler did not run exactly once")
    finally:
        for machine in machines:
            machine.stop()
    say()


def main():
    say("zanvor.fll: %s" % zh.FLL)
    say("zanvor.exe: %s" % zh.HOST_EXE)
    say()
    function_table()
    one_machine()
    two_machines()
    say("demo: done")


if __name__ == "__main__":
    main()
