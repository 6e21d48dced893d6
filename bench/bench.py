"""Benchmarks of zanvor.fll's delivery paths, in real host processes under
Wine. Numbers only: nothing here passes or fails on a timing; the goals are
printed beside the figures for the reader.

a. Local delivery: ZANVOR_LOCAL from a poster host through the server host
   to a subscriber host, beside zanvor_bench.exe over the same two process
   hops (source -> hop -> sink): bare PostMessageA, and the design's own
   floor, the same hops with one store and two reads of a text ring of the
   library's size through the library's ring code.
b. Network delivery: ZANVOR on one machine (both paths), and from one
   emulated machine to another over UDP alone (remote mailslots switched
   off) and over the mailslot alone (the relays, on a LAN where the UDP copy
   cannot leave its machine).
c. Datagram intake of one server: valid datagrams written straight into the
   server mailslot, each once and each twice, against the nominal cap of 100
   datagrams per tick; and each datagram arriving on both paths, over UDP
   from another machine and in the mailslot, with double deliveries counted.
d. The datagram codec (bench/codec_bench, Google Benchmark, native).
e. The size of the stripped zanvor.fll.
f. Between sites: ZANVOR from a host on site A to a handler on site B
   through `zanvor gateway` on each site and a real mosquitto broker on the
   WAN between them (winedriver.sites), beside ZANVOR from the same host to
   another machine of its own LAN over UDP, measured in the same world; and a
   flood of valid datagrams from a machine of site A to its gateway, handled
   on site B, with double deliveries counted. The gateways are the native
   tool of ZANVOR_NATIVE_TOOL (script/bench builds it without sanitizers).

Sections run in the order above; `bench.py f` (or any letters) runs only
those.

Every latency is the receiver's QPC() minus the sender's, in microseconds:
the poster sends its QPC() as the message and the handler records its own
beside it (DO Got WITH <Msg>, QPC()). All processes of one machine read the
same counter, and the emulated machines share the Linux host's.

Environment: as for the whole-system tests (ZANVOR_BUILD, ZANVOR_FLL,
ZANVOR_HOST, ZANVOR_RELAY), plus ZANVOR_BENCH (zanvor_bench.exe) and
ZANVOR_CODEC_BENCH (the native codec_bench; skipped when missing) and
ZANVOR_NATIVE_TOOL (the native tool whose gateway verb section f runs).
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
import winedriver as wd  # noqa: E402

BENCH_EXE = Path(os.environ.get("ZANVOR_BENCH", wd.BUILD / "zanvor_bench.exe"))
CODEC_BENCH = Path(os.environ.get("ZANVOR_CODEC_BENCH", wd.REPO / "build" / "bench" /
                                  "codec_bench"))
STRIP = "i686-w64-mingw32-strip"

LOCAL_POSTS = 3000
LOCAL_INTERVAL_MS = 2
NETWORK_POSTS = 250
NETWORK_INTERVAL_MS = 20
FLOOD_DATAGRAMS = 3000
# A burst on both paths that fits the text ring (1260 records of these
# payloads in 16 KB), beside the flood that does not. (The duplicate filter
# holds the ids of the last 30 s, at least 65,536: both fit it.)
BURST_DATAGRAMS = 1000
TICK_US = 200000
NOMINAL_INTAKE_PER_S = 100 / (TICK_US / 1e6)  # 100 datagrams per receive tick
# A handler that has not run for this long after its flood ended has had
# every datagram that was still waiting in the mailslot.
INTAKE_QUIET_S = 3

# Goals, printed beside the figures.
GOAL_LOCAL_RATIO = 1.1
GOAL_UDP_P50_MS = 5
GOAL_BOTH_PATHS_PER_S = 1000
GOAL_COPIES_SHARE = 0.45
GOAL_SITES_P50_MS = 10
GOAL_BROKER_HOP_MS = 2
GOAL_SITES_PER_S = 1000
# Between sites, a flood long enough to outlast every socket buffer on the
# way at the rate zanvor_bench.exe sends (several thousand a second).
SITES_FLOOD_DATAGRAMS = 10000

HANDLER = "DO Got WITH <Msg>, QPC()"


def say(text=""):
    print(text, flush=True)


def percentile(values, percent):
    """Nearest rank, as zanvor_bench.exe computes it."""
    ordered = sorted(values)
    rank = (len(ordered) * percent + 99) // 100
    return ordered[max(rank, 1) - 1]


def wait_for_calls(host, count, timeout):
    """Waits until the host's Got handler ran `count` times, or until no new
    run came for `timeout` seconds; returns the argument lists seen."""
    last_count, last_change = -1, time.monotonic()
    while True:
        calls = host.calls("Got")
        if len(calls) >= count:
            return calls
        if len(calls) != last_count:
            last_count, last_change = len(calls), time.monotonic()
        elif time.monotonic() - last_change > wd.scaled(timeout):
            return calls
        time.sleep(0.05)


def post_paced(poster, function, count, interval_ms, timed=False):
    """Has the poster post its QPC() `count` times, pausing interval_ms
    (DOEVENTS, which keeps its messages running) after each. The host paces
    itself, so the pipe can carry all lines at once; returns when all ran.
    timed: each post also prints the QPC() before and after the call, and
    the calls' durations in microseconds are returned."""
    call = '%s("bench", QPC())' % function
    post = "? QPC(), %s, QPC()" % call if timed else "=" + call
    before = len(poster.output())
    lines = []
    for _ in range(count):
        lines += [post, "DOEVENTS %d" % interval_ms]
    for start in range(0, len(lines), 200):
        poster.send(*lines[start:start + 200])
    poster.sync(timeout=count * interval_ms / 1000 * 4 + 60)
    durations = []
    for line in poster.output()[before:]:
        words = line.split()
        if len(words) >= 2 and words[0].isdigit() and words[-1].isdigit():
            durations.append(int(words[-1]) - int(words[0]))
    return durations


def latencies_of(calls):
    """[sent, received] QPC strings to latencies in microseconds, and the
    mean gap between the sends."""
    sent = [int(c[0]) for c in calls]
    latencies = [int(c[1]) - int(c[0]) for c in calls]
    gap = (sent[-1] - sent[0]) / (len(sent) - 1) if len(sent) > 1 else 0
    return latencies, gap


def stop_hosts(hosts):
    for host in hosts:
        if host.process.poll() is None:
            host.kill()


class Program:
    """zanvor_bench.exe in one mode, its output lines collected."""

    def __init__(self, machine, *args):
        self.args = args
        self.process = machine.popen([BENCH_EXE] + [str(a) for a in args])
        self.stdout = wd.Lines(self.process.stdout, "stdout")
        self.stderr = wd.Lines(self.process.stderr, "stderr")

    def describe(self):
        return "zanvor_bench.exe %s\n--- stdout ---\n%s\n--- stderr ---\n%s" % (
            " ".join(map(str, self.args)), "\n".join(self.stdout.snapshot()),
            "\n".join(self.stderr.snapshot()))

    def wait_ready(self):
        if not self.stdout.wait(lambda lines: "READY" in lines, wd.scaled(wd.START_TIMEOUT)):
            raise wd.HarnessError("not ready\n" + self.describe())

    def go(self):
        """Lets a flood that is READY send."""
        self.process.stdin.write(b"go\n")
        self.process.stdin.flush()

    def finish(self, timeout):
        """Waits for the exit; returns the stdout lines."""
        try:
            code = self.process.wait(wd.scaled(timeout))
        except subprocess.TimeoutExpired:
            wd.kill_process(self.process)
            raise wd.HarnessError("did not exit within %ss\n%s" % (timeout, self.describe()))
        self.stdout.join(wd.scaled(5))
        self.stderr.join(wd.scaled(5))
        if code != 0:
            raise wd.HarnessError("exit code %d\n%s" % (code, self.describe()))
        return self.stdout.snapshot()

    def value(self, lines, key):
        for line in lines:
            m = re.search(r"\b%s=(\d+)" % key, line)
            if m:
                return int(m.group(1))
        raise wd.HarnessError("no %s= in the output\n%s" % (key, self.describe()))

    def kill(self):
        if self.process.poll() is None:
            wd.kill_process(self.process)


# ---- a. local delivery ------------------------------------------------------

def two_hops(machine, programs, interval_us, *mode):
    """zanvor_bench.exe's source -> hop -> sink (mode: () for bare posts,
    ("ring",) for the ring floor), one post every interval_us."""
    sink = Program(machine, "sink", LOCAL_POSTS, *mode)
    programs.append(sink)
    sink.wait_ready()
    hop = Program(machine, "hop", *mode)
    programs.append(hop)
    hop.wait_ready()
    source = Program(machine, "source", LOCAL_POSTS, interval_us, *mode)
    programs.append(source)
    limit = LOCAL_POSTS * interval_us / 1e6 * 4 + 60
    source_out = source.finish(limit)
    sink_out = sink.finish(60)
    hop.finish(30)
    sent = source.value(source_out, "sent")
    elapsed = source.value(source_out, "elapsed_us")
    return {"n": sink.value(sink_out, "n"), "p50": sink.value(sink_out, "p50"),
            "p99": sink.value(sink_out, "p99"),
            "gap": elapsed / (sent - 1) if sent > 1 else 0}


def local_delivery(results):
    say("== a. Local delivery: ZANVOR_LOCAL poster -> server -> subscriber")
    machine = wd.Machine("bench-local", relay=False)
    programs = []
    try:
        server = machine.host(wd.FLL)
        subscriber = machine.host(wd.FLL)
        poster = machine.host(wd.FLL)
        subscriber.send('=SUBSCRIBE("bench", "%s")' % HANDLER)
        subscriber.sync()
        # One post first: the path works, and first-touch costs stay out.
        poster.send('=ZANVOR_LOCAL("bench", QPC())')
        if len(wait_for_calls(subscriber, 1, 10)) != 1:
            raise wd.HarnessError("the warm-up post did not arrive\n" + subscriber.describe())
        started = time.monotonic()
        post_paced(poster, "ZANVOR_LOCAL", LOCAL_POSTS, LOCAL_INTERVAL_MS)
        calls = wait_for_calls(subscriber, LOCAL_POSTS + 1, 10)[1:]
        took = time.monotonic() - started
        errors = poster.error_lines() + subscriber.error_lines() + server.error_lines()
        errors = [e for e in errors if not e.startswith(wd.SYNC_PREFIX)]
        latencies, gap = latencies_of(calls)
        lib = {"n": len(calls), "p50": percentile(latencies, 50),
               "p99": percentile(latencies, 99), "gap": gap}
        say("  library : %d/%d delivered in %.1f s, one post every %.0f us; "
            "p50 %d us, p99 %d us" % (lib["n"], LOCAL_POSTS, took, gap, lib["p50"], lib["p99"]))
        if errors:
            say("  (host errors: %s)" % errors[:3])
        stop_hosts(machine.hosts)

        # The same hops without the library, at the pacing the library run
        # actually had: bare PostMessageA, then the ring floor.
        interval_us = max(int(round(gap)), 1)
        base = two_hops(machine, programs, interval_us)
        say("  baseline: %d/%d delivered, one post every %.0f us; p50 %d us, p99 %d us "
            "(bare PostMessageA)" %
            (base["n"], LOCAL_POSTS, base["gap"], base["p50"], base["p99"]))
        floor = two_hops(machine, programs, interval_us, "ring")
        say("  floor   : %d/%d delivered, one post every %.0f us; p50 %d us, p99 %d us "
            "(one store, two reads of the ring)" %
            (floor["n"], LOCAL_POSTS, floor["gap"], floor["p50"], floor["p99"]))
        if floor["p50"]:
            say("  ZANVOR_LOCAL p50 is %.2f x the floor's (goal <= %.1f), %.2f x the bare "
                "hops'" % (lib["p50"] / floor["p50"], GOAL_LOCAL_RATIO,
                           lib["p50"] / base["p50"] if base["p50"] else float("inf")))
        results["local"] = (lib, base, floor)
    finally:
        for program in programs:
            program.kill()
        machine.stop()
    say()


# ---- b. network delivery ----------------------------------------------------

def zanvor_latency(poster, subscriber, label):
    # The subscriber is its machine's server instance: the name is in its
    # table once SUBSCRIBE has run, and the warm-up post shows the path works.
    subscriber.send('=SUBSCRIBE("bench", "%s")' % HANDLER)
    subscriber.sync()
    poster.send('=ZANVOR("bench", QPC())')
    if len(wait_for_calls(subscriber, 1, 10)) != 1:
        raise wd.HarnessError("the warm-up post did not arrive\n" + subscriber.describe())
    calls_took = post_paced(poster, "ZANVOR", NETWORK_POSTS, NETWORK_INTERVAL_MS, timed=True)
    calls = wait_for_calls(subscriber, NETWORK_POSTS + 1, 5)[1:]
    latencies, gap = latencies_of(calls)
    result = {"n": len(calls), "p50": percentile(latencies, 50),
              "p99": percentile(latencies, 99), "gap": gap,
              "call_p50": percentile(calls_took, 50) if calls_took else 0}
    say("  %s: %d/%d delivered, one post every %.1f ms; p50 %.1f ms, p99 %.1f ms "
        "(the ZANVOR call itself: p50 %.1f ms)" %
        (label, result["n"], NETWORK_POSTS, gap / 1000, result["p50"] / 1000,
         result["p99"] / 1000, result["call_p50"] / 1000))
    return result


def network_delivery(results):
    say("== b. Network delivery: ZANVOR to a handler of the server instance")
    machine = wd.Machine("bench-local", relay=False)
    try:
        server = machine.host(wd.FLL, network="local")
        poster = machine.host(wd.FLL, network="local")
        results["net1"] = zanvor_latency(poster, server, "one machine, both paths     ")
    finally:
        machine.stop()

    # Remote mailslots switched off on both machines: the domain mailslot
    # fails with 3025 and only the UDP copy carries.
    machines = []
    try:
        machines.append(wd.Machine("bench-udp1", remote_off=True))
        machines.append(wd.Machine("bench-udp2", remote_off=True))
        poster = machines[0].host(wd.FLL)
        subscriber = machines[1].host(wd.FLL)
        results["udp"] = zanvor_latency(poster, subscriber, "two machines, UDP alone     ")
    finally:
        for machine in machines:
            machine.stop()

    # The relays carry the mailslot path; on this LAN no adapter has a
    # broadcast address, so the UDP copy stays on the poster's machine.
    lan = wd.netns.Lan(broadcast=False, tag="nb")
    ports = [wd.free_udp_port(), wd.free_udp_port()]
    machines = []
    try:
        machines.append(wd.Machine("bench-ms1", ports[0], [ports[1]], lan=lan))
        machines.append(wd.Machine("bench-ms2", ports[1], [ports[0]], lan=lan))
        poster = machines[0].host(wd.FLL)
        subscriber = machines[1].host(wd.FLL)
        results["mailslot"] = zanvor_latency(poster, subscriber, "two machines, mailslot alone")
    finally:
        for machine in machines:
            machine.stop()
        lan.close()
    say("  (on the mailslot a datagram waits for the next %d ms tick of the receiving "
        "server: about %d ms on average; UDP wakes the server at once)" %
        (TICK_US // 1000, TICK_US // 2000))
    say()


# ---- c. datagram intake -----------------------------------------------------

def wait_quiet(host, quiet):
    """Waits until the host's Got handler has not run for `quiet` seconds;
    returns the argument lists seen."""
    last_count, last_change = -1, time.monotonic()
    while True:
        calls = host.calls("Got")
        if len(calls) != last_count:
            last_count, last_change = len(calls), time.monotonic()
        elif time.monotonic() - last_change > wd.scaled(quiet):
            return calls
        time.sleep(0.1)


def run_floods(server, floods, timeout=180):
    """Starts the floods together once all are READY, waits for them and
    then for the server's handler to fall quiet; returns the handler's
    argument lists and each flood's output lines."""
    for flood in floods:
        flood.wait_ready()
    for flood in floods:
        flood.go()
    outputs = [flood.finish(timeout) for flood in floods]
    return wait_quiet(server, INTAKE_QUIET_S), outputs


def intake_of(calls, count, by_ticks):
    """What the server made of `count` flood packets. The flood's payloads
    are bench:<seq>, so each handler run names its packet: the first run of
    a seq is a distinct message, any later one a double delivery.

    by_ticks: the mailslot alone carried them, in receive ticks. Handler runs
    closer together than half a tick belong to one tick, and from the first
    run to the last spans one tick fewer than there were batches, so the
    rate counts the messages after the first batch over that span. Otherwise
    (UDP wakes the server at once) the rate is the distinct messages after
    the first over the span of their first runs."""
    seen = set()
    order, received = [], []
    for seq, when in ((int(c[0]), int(c[1])) for c in calls):
        if seq not in seen:
            seen.add(seq)
            order.append(seq)
            received.append(when)
    distinct = len(order)
    if distinct == 0:
        raise wd.HarnessError("the server's handler never ran")
    span = received[-1] - received[0]
    batches = [1]
    for before, after in zip(received, received[1:]):
        if after - before > TICK_US // 2:
            batches.append(1)
        else:
            batches[-1] += 1
    handled_after_first = distinct - (batches[0] if by_ticks else 1)
    rate = handled_after_first / (span / 1e6) if span > 0 else 0.0
    return {"distinct": distinct, "doubles": len(calls) - distinct,
            "lost": count - distinct, "span": span, "rate": rate,
            "in_order": order == list(range(1, distinct + 1)),
            "batches": len(batches), "largest": max(batches)}


def say_intake(label, r, count):
    say("  %s: %d/%d distinct messages handled%s, %d double deliveries, first to last "
        "%.2f s; %.0f per second" %
        (label, r["distinct"], count, "" if r["in_order"] else " (not in order)",
         r["doubles"], r["span"] / 1e6, r["rate"]))


def mailslot_intake(copies):
    machine = wd.Machine("bench-local", relay=False)
    programs = []
    try:
        server = machine.host(wd.FLL)
        server.send('=SUBSCRIBE("bench", "%s")' % HANDLER)
        server.sync()
        flood = Program(machine, "flood", FLOOD_DATAGRAMS, copies)
        programs.append(flood)
        calls, (out,) = run_floods(server, [flood])
        r = intake_of(calls, FLOOD_DATAGRAMS, by_ticks=True)
        wrote, write_us = flood.value(out, "wrote"), flood.value(out, "elapsed_us")
        first_blocked = flood.value(out, "first_blocked")
        say("  flood   : %d datagrams (%d each) written in %.1f ms; %s" %
            (wrote, copies, write_us / 1000,
             "the mailslot was full at packet %d, from there on each write waited for a "
             "receive tick (slowest write %.1f ms)" %
             (first_blocked, flood.value(out, "slowest_write_us") / 1000)
             if first_blocked else "no write waited"))
        say_intake("server  ", r, FLOOD_DATAGRAMS)
        say("            %d batches of handler runs (a gap of half a tick or more between "
            "two), largest %d messages (%d datagrams)" %
            (r["batches"], r["largest"], r["largest"] * copies))
        return r
    finally:
        for program in programs:
            program.kill()
        machine.stop()


def both_paths_intake(count):
    # The receiving server on one machine of the LAN, the UDP copies sent
    # from another, so that the sender's work falls on its own wineserver
    # and not on the receiver's; the mailslot copies are written on the
    # receiver's machine, where that mailslot is.
    machines = []
    programs = []
    try:
        receiver = wd.Machine("bench-in1", remote_off=True)
        machines.append(receiver)
        sender = wd.Machine("bench-in2", remote_off=True)
        machines.append(sender)
        server = receiver.host(wd.FLL)
        server.send('=SUBSCRIBE("bench", "%s")' % HANDLER)
        server.sync()
        if not receiver.udp_port_bound():
            raise wd.HarnessError("the server holds no UDP port\n" + server.describe())
        mailslot = Program(receiver, "flood", count)
        programs.append(mailslot)
        udp = Program(sender, "udpflood", count, receiver.address)
        programs.append(udp)
        calls, (mailslot_out, udp_out) = run_floods(server, [mailslot, udp])
        r = intake_of(calls, count, by_ticks=False)
        say("  flood   : %d over UDP from another machine in %.1f ms, the same %d into the "
            "mailslot in %.1f ms" %
            (udp.value(udp_out, "sent"), udp.value(udp_out, "elapsed_us") / 1000,
             mailslot.value(mailslot_out, "wrote"),
             mailslot.value(mailslot_out, "elapsed_us") / 1000))
        say_intake("server  ", r, count)
        if r["lost"]:
            say("            %d messages never handled" % r["lost"])
        return r
    finally:
        for program in programs:
            program.kill()
        for machine in machines:
            machine.stop()


def datagram_intake(results):
    say("== c. Datagram intake of one server, %d valid datagrams" % FLOOD_DATAGRAMS)
    say("  (the emulated LAN never doubles a datagram, having no netem: every copy "
        "here is sent by zanvor_bench.exe itself)")
    say(" c1. written straight into the server mailslot, each once")
    once = mailslot_intake(1)
    say("            nominal cap %.0f datagrams per second" % NOMINAL_INTAKE_PER_S)
    results["intake"] = once
    say(" c2. written into the server mailslot, each twice")
    twice = mailslot_intake(2)
    results["intake2"] = twice
    if once["rate"]:
        say("            %.0f%% of the rate with each written once (goal >= %.0f%%)" %
            (100 * twice["rate"] / once["rate"], 100 * GOAL_COPIES_SHARE))
    for key, count in (("burst", BURST_DATAGRAMS), ("both", FLOOD_DATAGRAMS)):
        say(" c3. each of %d on both paths: over UDP and in the mailslot" % count)
        results[key] = both_paths_intake(count)
        results[key]["count"] = count
    say("            goal >= %d per second, 0 double deliveries" % GOAL_BOTH_PATHS_PER_S)
    say()


# ---- d. codec ---------------------------------------------------------------

def codec(results):
    say("== d. Datagram codec (native, %s)" % CODEC_BENCH)
    if not CODEC_BENCH.exists():
        say("  skipped: %s was not built" % CODEC_BENCH)
        say()
        return
    with tempfile.TemporaryDirectory() as directory:
        out = Path(directory) / "codec.json"
        run = subprocess.run([str(CODEC_BENCH), "--benchmark_out=%s" % out,
                              "--benchmark_out_format=json"],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        output = run.stdout.decode("latin-1")
        for line in output.splitlines():
            say("  " + line)
        if "Library was built as DEBUG" in output:
            say("  (that warning is about the system's Google Benchmark library; the code "
                "measured is built -O3 without sanitizers)")
        if run.returncode != 0:
            raise wd.HarnessError("codec_bench exited with %d" % run.returncode)
        data = json.loads(out.read_text())
    per_byte = {}
    for entry in data["benchmarks"]:
        if entry.get("bytes_per_second"):
            per_byte[entry["name"]] = 1e9 / entry["bytes_per_second"]
    key = per_byte.get("BM_KeyStreamArithmetic")
    for name in ("BM_Pack", "BM_UnPack", "BM_KeyStreamArithmetic"):
        if name in per_byte:
            ratio = " (%.2f x the bare key stream)" % (per_byte[name] / key) if key else ""
            say("  %-24s %.2f ns per byte%s" % (name, per_byte[name], ratio))
    results["codec"] = per_byte
    say()


# ---- e. library size --------------------------------------------------------

def library_size(results):
    say("== e. Size of %s" % wd.FLL)
    built = wd.FLL.stat().st_size
    strip = shutil.which(STRIP)
    if strip is None:
        raise wd.HarnessError("%s is not installed" % STRIP)
    with tempfile.TemporaryDirectory() as directory:
        stripped_path = Path(directory) / wd.FLL.name
        subprocess.run([strip, "-o", str(stripped_path), str(wd.FLL)], check=True, timeout=60)
        stripped = stripped_path.stat().st_size
    say("  stripped: %d bytes (%.1f KB); as built: %d bytes" % (stripped, stripped / 1024, built))
    results["size"] = stripped
    say()


# ---- f. between sites -------------------------------------------------------

def native_tool_kind():
    """How the gateways' binary was built, from its own bytes: a build with
    AddressSanitizer runs several times slower, which the figures must say."""
    data = wd.NATIVE_TOOL.read_bytes()
    return "built with AddressSanitizer" if b"__asan_init" in data else "without sanitizers"


def gateway_counters(gateway):
    """The gateway's counters (SIGUSR1, --json) as "published=.. ..."."""
    counters = gateway.counters()
    return ", ".join("%s=%d" % (key, value) for key, value in sorted(counters.numbers.items())
                     if value or not key.startswith("dropped"))


def dropped_between(before, after):
    """The drop counters that grew from one counters object to the next, as
    "reason=count" (or "none")."""
    grown = ["%s=%d" % (key.split(".")[-1], value - before.numbers.get(key, 0))
             for key, value in sorted(after.numbers.items())
             if "dropped" in key and value > before.numbers.get(key, 0)]
    return ", ".join(grown) or "none"


def lan_listener(site):
    """The native `zanvor listen bench` in a namespace of its own on the
    site's LAN: when each post reached that LAN, as the time its line was
    read off the pipe (the same delay on both sites)."""
    namespace = site.lan.add_namespace(role=site.tag + "listen")
    listener = wd.native_tool(namespace, ["listen", "bench"])
    listener.wait_listening()
    return listener


def arrivals(listener, since=0):
    """Message -> the time.monotonic() of its first line (from line `since`
    on)."""
    result = {}
    for read, line in listener.stdout.timed_snapshot()[since:]:
        result.setdefault(line.partition("\t")[2], read)
    return result


def between_sites(results):
    say("== f. Between sites: ZANVOR on site A to a handler on site B through two "
        "gateways and mosquitto")
    if not wd.NATIVE_TOOL.exists():
        raise wd.HarnessError("%s was not built" % wd.NATIVE_TOOL)
    missing = wd.gateway_missing()
    if missing:
        raise wd.HarnessError(missing)
    say("  gateways: %s gateway (%s)" % (wd.NATIVE_TOOL, native_tool_kind()))
    directory = tempfile.TemporaryDirectory()
    world = None
    programs = []
    listeners = {}
    try:
        # Site A: the poster's machine and a second one for the same-LAN
        # figure; site B: the subscriber's. One gateway per site.
        world = wd.sites.TwoSites(directory.name, machines=(2, 1), gateways=(1, 1), tls=False)
        world.broker.start()
        gateways = {}
        for tag in "ab":
            since = len(world.broker.log_lines())
            gateways[tag] = world.gateway(tag, 0, ["--json"], "bench-gw-" + tag)
            world.broker.wait_subscribed("bench-gw-" + tag, since=since)
            namespace = world.sites[tag].gateway_namespaces[0]
            deadline = time.monotonic() + wd.scaled(wd.DEFAULT_TIMEOUT)
            while not namespace.udp_port_bound(38217):
                if time.monotonic() > deadline:
                    raise wd.HarnessError("the gateway holds no UDP port\n" +
                                          gateways[tag].describe())
                time.sleep(0.05)
        listeners = {tag: lan_listener(world.sites[tag]) for tag in "ab"}
        a1, a2 = world.a.machines
        b1, = world.b.machines
        poster = a1.host(wd.FLL)
        lan_receiver = a2.host(wd.FLL)
        site_receiver = b1.host(wd.FLL)
        # Same LAN first, then site to site, from the same poster; the
        # gateways run all along, as they would in production.
        lan = zanvor_latency(poster, lan_receiver, "same LAN, UDP        ")
        sites_r = zanvor_latency(poster, site_receiver, "site A to site B     ")
        results["sites_lan"], results["sites"] = lan, sites_r
        say("  the broker hop and the two gateways add %+.1f ms at p50, %+.1f ms at p99 "
            "(goal: p50 under %d ms, the broker hop under %d ms)" %
            ((sites_r["p50"] - lan["p50"]) / 1000, (sites_r["p99"] - lan["p99"]) / 1000,
             GOAL_SITES_P50_MS, GOAL_BROKER_HOP_MS))
        # Every post of both runs crossed (the gateways ran all along): the
        # time from site A's LAN to site B's, seen by the native listeners.
        on_a, on_b = arrivals(listeners["a"]), arrivals(listeners["b"])
        hops = [int((on_b[m] - on_a[m]) * 1e6) for m in on_a if m in on_b]
        if hops:
            results["sites_hop"] = {"n": len(hops), "p50": percentile(hops, 50),
                                    "p99": percentile(hops, 99)}
            say("  LAN A to LAN B (gateway, broker, gateway), seen by `zanvor listen` on each "
                "LAN: %d posts, p50 %.2f ms, p99 %.2f ms" %
                (len(hops), results["sites_hop"]["p50"] / 1000,
                 results["sites_hop"]["p99"] / 1000))
        say("  gateway A after the latency runs: %s" % gateway_counters(gateways["a"]))

        # The flood: valid datagrams from a machine of site A straight to its
        # gateway's LAN address (from an unbound port, as FoxPro sends),
        # handled by the subscriber on site B. Its payloads are bench:<seq>.
        # One flood only: its ids come from the sequence numbers alone, so a
        # second one within 30 s would meet the duplicate filters.
        count = SITES_FLOOD_DATAGRAMS
        before = site_receiver.calls("Got")
        listened = len(listeners["b"].output())
        before_a = gateways["a"].counters()
        before_b = gateways["b"].counters()
        udp = Program(a1, "udpflood", count, world.a.gateway_namespaces[0].address)
        programs.append(udp)
        calls, (out,) = run_floods(site_receiver, [udp])
        calls = calls[len(before):]
        r = intake_of(calls, count, by_ticks=False)
        after_a, after_b = gateways["a"].counters(), gateways["b"].counters()
        sent, send_us = udp.value(out, "sent"), udp.value(out, "elapsed_us")
        say("  flood   : %d sent over UDP from site A to its gateway in %.1f ms, %.0f per "
            "second" % (sent, send_us / 1000, sent / (send_us / 1e6) if send_us else 0))
        say_intake("site B  ", r, count)
        # The gateway pair alone, without the FoxPro host's intake: the
        # flood's arrivals on site B's LAN.
        on_b = sorted(arrivals(listeners["b"], since=listened).values())
        pair_rate = (len(on_b) - 1) / (on_b[-1] - on_b[0]) if len(on_b) > 1 else 0.0
        say("  LAN B   : %d/%d distinct messages broadcast by gateway B, first to last %.2f s; "
            "%.0f per second (`zanvor listen` on site B)" %
            (len(on_b), count, on_b[-1] - on_b[0] if on_b else 0, pair_rate))
        published = after_a.get("published") - before_a.get("published")
        broadcast = after_b.get("broadcast") - before_b.get("broadcast")
        if r["lost"]:
            say("            %d messages never handled%s: the receiving server's intake fell "
                "behind (c3 measures it within one LAN)" %
                (r["lost"], ", though all reached LAN B" if len(on_b) == count else ""))
        say("            gateway A published %d, gateway B broadcast %d" % (published, broadcast))
        # By design a gateway drops its own posts when the broker hands them
        # back to its segment (duplicate) and its own broadcasts when it hears
        # them on its LAN (from a gateway).
        say("            dropped by gateway A: %s; by gateway B: %s" %
            (dropped_between(before_a, after_a), dropped_between(before_b, after_b)))
        r.update(count=count, published=published, broadcast=broadcast, pair_rate=pair_rate,
                 pair_n=len(on_b))
        results["sites_flood"] = r
        say("            goal >= %d per second through one gateway pair, 0 double "
            "deliveries" % GOAL_SITES_PER_S)
        for tag in "ab":
            say("  gateway %s at the end: %s" % (tag.upper(), gateway_counters(gateways[tag])))
    finally:
        for program in programs + list(listeners.values()):
            program.kill()
        if world is not None:
            world.close()
        directory.cleanup()
    say()


# ---- summary ----------------------------------------------------------------

def summary(results, took):
    say("== Summary (%.0f s)" % took)
    rows = [("measure", "library", "against", "ratio", "goal")]
    if "local" in results:
        lib, base, floor = results["local"]
        for key in ("p50", "p99"):
            rows.append(("a. local delivery %s (us)" % key, "%d" % lib[key],
                         "%d floor" % floor[key],
                         "%.2f" % (lib[key] / floor[key]) if floor[key] else "-",
                         "<= %.1f" % GOAL_LOCAL_RATIO if key == "p50" else ""))
            rows.append(("", "", "%d bare" % base[key],
                         "%.2f" % (lib[key] / base[key]) if base[key] else "-", ""))
        rows.append(("  delivered / gap between posts (us)",
                     "%d / %.0f" % (lib["n"], lib["gap"]),
                     "%d / %.0f" % (floor["n"], floor["gap"]), "", ""))
    for name, label, goal in (("net1", "b. ZANVOR one machine", ""),
                              ("udp", "b. ZANVOR two machines, UDP", "p50 < %d" % GOAL_UDP_P50_MS),
                              ("mailslot", "b. ZANVOR two machines, mailslot", "")):
        if name in results:
            r = results[name]
            rows.append(("%s p50 / p99 (ms)" % label,
                         "%.1f / %.1f" % (r["p50"] / 1000, r["p99"] / 1000), "", "", goal))
            rows.append(("  delivered; the call's own p50 (ms)",
                         "%d/%d; %.1f" % (r["n"], NETWORK_POSTS, r["call_p50"] / 1000), "", "",
                         ""))
    if "intake" in results:
        r = results["intake"]
        rows.append(("c1. mailslot intake (per s)", "%.0f" % r["rate"],
                     "%.0f nominal" % NOMINAL_INTAKE_PER_S,
                     "%.2f" % (r["rate"] / NOMINAL_INTAKE_PER_S), ""))
        rows.append(("  handled%s, largest batch of a tick" %
                     ("" if r["in_order"] else " (NOT IN ORDER)"),
                     "%d/%d, %d" % (r["distinct"], FLOOD_DATAGRAMS, r["largest"]), "100 cap", "",
                     ""))
    if "intake2" in results and "intake" in results:
        r, once = results["intake2"], results["intake"]
        rows.append(("c2. mailslot intake, each twice (per s)", "%.0f" % r["rate"],
                     "%.0f once" % once["rate"],
                     "%.2f" % (r["rate"] / once["rate"]) if once["rate"] else "-",
                     ">= %.2f" % GOAL_COPIES_SHARE))
        rows.append(("  handled, double deliveries", "%d/%d, %d" %
                     (r["distinct"], FLOOD_DATAGRAMS, r["doubles"]), "", "", ""))
    for key in ("burst", "both"):
        if key in results:
            r = results[key]
            rows.append(("c3. intake on both paths, %d (per s)" % r["count"], "%.0f" % r["rate"],
                         "", "", ">= %d" % GOAL_BOTH_PATHS_PER_S))
            rows.append(("  handled, double deliveries", "%d/%d, %d" %
                         (r["distinct"], r["count"], r["doubles"]), "", "", "0 doubles"))
    if "codec" in results:
        per_byte = results["codec"]
        key = per_byte.get("BM_KeyStreamArithmetic")
        for name, label in (("BM_Pack", "d. codec Pack (ns/byte)"),
                            ("BM_UnPack", "d. codec UnPack (ns/byte)")):
            if name in per_byte:
                rows.append((label, "%.2f" % per_byte[name],
                             "%.2f key stream" % key if key else "",
                             "%.2f" % (per_byte[name] / key) if key else "", ""))
    if "sites" in results:
        lan, r = results["sites_lan"], results["sites"]
        for key in ("p50", "p99"):
            rows.append(("f. site A to site B %s (ms)" % key, "%.1f" % (r[key] / 1000),
                         "%.1f same LAN" % (lan[key] / 1000),
                         "%+.1f" % ((r[key] - lan[key]) / 1000),
                         "< %d" % GOAL_SITES_P50_MS if key == "p50" else ""))
        rows.append(("  delivered site to site / same LAN", "%d/%d" % (r["n"], NETWORK_POSTS),
                     "%d/%d" % (lan["n"], NETWORK_POSTS), "", ""))
    if "sites_hop" in results:
        r = results["sites_hop"]
        rows.append(("f. LAN A to LAN B p50 / p99 (ms)",
                     "%.2f / %.2f" % (r["p50"] / 1000, r["p99"] / 1000), "", "",
                     "< %d" % GOAL_BROKER_HOP_MS))
    if "sites_flood" in results:
        r = results["sites_flood"]
        rows.append(("f. site to site flood, %d, handler (per s)" % r["count"],
                     "%.0f" % r["rate"], "", "", ""))
        rows.append(("  handled, double deliveries", "%d/%d, %d" %
                     (r["distinct"], r["count"], r["doubles"]), "", "", "0 doubles"))
        rows.append(("  gateway pair alone (per s), broadcast on LAN B",
                     "%.0f" % r["pair_rate"], "%d/%d" % (r["pair_n"], r["count"]), "",
                     ">= %d" % GOAL_SITES_PER_S))
    if "size" in results:
        rows.append(("e. zanvor.fll stripped (bytes / KB)",
                     "%d / %.1f" % (results["size"], results["size"] / 1024), "", "", ""))
    widths = [max(len(row[i]) for row in rows) for i in range(5)]
    for row in rows:
        say("  " + "  ".join(cell.ljust(widths[i]) if i == 0 else cell.rjust(widths[i])
                             for i, cell in enumerate(row)).rstrip())


SECTIONS = {"a": local_delivery, "b": network_delivery, "c": datagram_intake, "d": codec,
            "e": library_size, "f": between_sites}


def main():
    parser = argparse.ArgumentParser(description="The benchmarks of zanvor.fll (see the "
                                     "docstring of bench/bench.py).")
    parser.add_argument("sections", nargs="*", choices=sorted(SECTIONS), metavar="SECTION",
                        help="run only these sections (letters a to f; default: all)")
    chosen = parser.parse_args().sections or sorted(SECTIONS)
    say("zanvor.fll: %s" % wd.FLL)
    say("zanvor_bench.exe: %s" % BENCH_EXE)
    say()
    started = time.monotonic()
    results = {}
    failures = []
    for step in [SECTIONS[letter] for letter in sorted(set(chosen))]:
        try:
            step(results)
        except (wd.HarnessError, subprocess.SubprocessError, OSError) as e:
            failures.append(step.__name__)
            say("  %s failed: %s" % (step.__name__, e))
            say()
    summary(results, time.monotonic() - started)
    if failures:
        say("bench: failed: %s" % ", ".join(failures))
        sys.exit(1)


if __name__ == "__main__":
    main()
