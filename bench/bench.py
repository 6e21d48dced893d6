"""Benchmarks of zanvor.fll's delivery paths, in real host processes under
Wine. Numbers only: nothing here passes or fails on a timing.

a. Local delivery: ZANVOR_LOCAL from a poster host through the server host
   to a subscriber host, beside zanvor_bench.exe's bare PostMessageA relay
   over the same two process hops (source -> hop -> sink).
b. Network delivery: ZANVOR through the server mailslot and the 200 ms
   receive timer, on one machine and across two emulated machines.
c. Datagram intake: a flood of valid datagrams written straight into the
   server mailslot, against the nominal cap of 100 datagrams per tick.
d. The datagram codec (bench/codec_bench, Google Benchmark, native).

Every latency is the receiver's QPC() minus the sender's, in microseconds:
the poster sends its QPC() as the message and the handler records its own
beside it (DO Got WITH <Msg>, QPC()). All processes of one machine read the
same counter, and the emulated machines share the Linux host's.

Environment: as for the whole-system tests (ZANVOR_BUILD, ZANVOR_FLL,
ZANVOR_HOST, ZANVOR_RELAY), plus ZANVOR_BENCH (zanvor_bench.exe) and
ZANVOR_CODEC_BENCH (the native codec_bench; skipped when missing).
"""

import json
import os
import re
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

LOCAL_POSTS = 3000
LOCAL_INTERVAL_MS = 2
NETWORK_POSTS = 250
NETWORK_INTERVAL_MS = 20
FLOOD_DATAGRAMS = 3000
NOMINAL_INTAKE_PER_S = 100 / 0.2  # 100 datagrams per 200 ms receive tick

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


def post_paced(poster, function, count, interval_ms):
    """Has the poster post its QPC() `count` times, pausing interval_ms
    (DOEVENTS, which keeps its messages running) after each. The host paces
    itself, so the pipe can carry all lines at once; returns when all ran."""
    lines = []
    for _ in range(count):
        lines += ['=%s("bench", QPC())' % function, "DOEVENTS %d" % interval_ms]
    for start in range(0, len(lines), 200):
        poster.send(*lines[start:start + 200])
    poster.sync(timeout=count * interval_ms / 1000 * 4 + 60)


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

        # The same hops with nothing but PostMessageA, at the pacing the
        # library run actually had.
        interval_us = max(int(round(gap)), 1)
        sink = Program(machine, "sink", LOCAL_POSTS)
        programs.append(sink)
        sink.wait_ready()
        hop = Program(machine, "hop")
        programs.append(hop)
        hop.wait_ready()
        source = Program(machine, "source", LOCAL_POSTS, interval_us)
        programs.append(source)
        limit = LOCAL_POSTS * interval_us / 1e6 * 4 + 60
        source_out = source.finish(limit)
        sink_out = sink.finish(60)
        hop.finish(30)
        sent = source.value(source_out, "sent")
        elapsed = source.value(source_out, "elapsed_us")
        base = {"n": sink.value(sink_out, "n"), "p50": sink.value(sink_out, "p50"),
                "p99": sink.value(sink_out, "p99"),
                "gap": elapsed / (sent - 1) if sent > 1 else 0}
        say("  baseline: %d/%d delivered, one post every %.0f us; p50 %d us, p99 %d us" %
            (base["n"], LOCAL_POSTS, base["gap"], base["p50"], base["p99"]))
        results["local"] = (lib, base)
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
    post_paced(poster, "ZANVOR", NETWORK_POSTS, NETWORK_INTERVAL_MS)
    calls = wait_for_calls(subscriber, NETWORK_POSTS + 1, 5)[1:]
    latencies, gap = latencies_of(calls)
    result = {"n": len(calls), "p50": percentile(latencies, 50),
              "p99": percentile(latencies, 99), "gap": gap}
    say("  %s: %d/%d delivered, one post every %.1f ms; p50 %.1f ms, p99 %.1f ms" %
        (label, result["n"], NETWORK_POSTS, gap / 1000, result["p50"] / 1000,
         result["p99"] / 1000))
    return result


def network_delivery(results):
    say("== b. Network delivery: ZANVOR through the server mailslot and the receive timer")
    machine = wd.Machine("bench-local", relay=False)
    try:
        server = machine.host(wd.FLL, network="local")
        poster = machine.host(wd.FLL, network="local")
        results["net1"] = zanvor_latency(poster, server, "one machine ")
    finally:
        machine.stop()

    ports = [wd.free_udp_port(), wd.free_udp_port()]
    machines = []
    try:
        machines.append(wd.Machine("bench-net1", ports[0], [ports[1]]))
        machines.append(wd.Machine("bench-net2", ports[1], [ports[0]]))
        poster = machines[0].host(wd.FLL)
        subscriber = machines[1].host(wd.FLL)
        results["net2"] = zanvor_latency(poster, subscriber, "two machines")
    finally:
        for machine in machines:
            machine.stop()
    say("  (a datagram waits for the next 200 ms tick of the receiving server: "
        "about 100 ms on average)")
    say()


# ---- c. datagram intake -----------------------------------------------------

def datagram_intake(results):
    say("== c. Datagram intake: %d datagrams written straight into the server mailslot" %
        FLOOD_DATAGRAMS)
    machine = wd.Machine("bench-local", relay=False)
    programs = []
    try:
        server = machine.host(wd.FLL)
        server.send('=SUBSCRIBE("bench", "%s")' % HANDLER)
        server.sync()
        flood = Program(machine, "flood", FLOOD_DATAGRAMS)
        programs.append(flood)
        flood_out = flood.finish(120)
        wrote = flood.value(flood_out, "wrote")
        write_us = flood.value(flood_out, "elapsed_us")
        slowest_us = flood.value(flood_out, "slowest_write_us")
        first_blocked = flood.value(flood_out, "first_blocked")
        calls = wait_for_calls(server, FLOOD_DATAGRAMS, 3)
        received = [int(c[1]) for c in calls]
        order = [int(c[0]) for c in calls]  # the flood's payloads are bench:<seq>
        # Handler runs closer together than half a tick belong to one tick.
        batches = [1]
        for before, after in zip(received, received[1:]):
            if after - before > 100000:
                batches.append(1)
            else:
                batches[-1] += 1
        span = (received[-1] - received[0]) if len(received) > 1 else 0
        # From the first handler run to the last spans one tick fewer than
        # there were batches: the rate counts the datagrams after the first
        # batch over that span.
        rate = (len(calls) - batches[0]) / (span / 1e6) if span > 0 else float("inf")
        in_order = order == list(range(1, len(order) + 1))
        say("  flood   : %d datagrams written in %.1f ms (%.0f per second)" %
            (wrote, write_us / 1000, wrote / (write_us / 1e6) if write_us else float("inf")))
        if first_blocked:
            say("            the mailslot was full at datagram %d: from there on each write "
                "waited for a receive tick (slowest write %.1f ms)" %
                (first_blocked, slowest_us / 1000))
        say("  server  : %d/%d taken in, %s, first to last handler run %.2f s" %
            (len(calls), FLOOD_DATAGRAMS, "in order" if in_order else "OUT OF ORDER",
             span / 1e6))
        say("  ticks   : %d batches, largest %d, smallest %d" %
            (len(batches), max(batches), min(batches)))
        say("  intake  : %.0f datagrams per second (nominal cap %.0f per second)" %
            (rate, NOMINAL_INTAKE_PER_S))
        results["intake"] = {"arrived": len(calls), "rate": rate, "in_order": in_order,
                             "batches": len(batches), "largest": max(batches)}
    finally:
        for program in programs:
            program.kill()
        machine.stop()
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


# ---- summary ----------------------------------------------------------------

def summary(results, took):
    say("== Summary (%.0f s)" % took)
    rows = [("measure", "library", "baseline", "ratio")]
    if "local" in results:
        lib, base = results["local"]
        for key in ("p50", "p99"):
            rows.append(("local delivery %s (us)" % key, "%d" % lib[key], "%d" % base[key],
                         "%.1f" % (lib[key] / base[key]) if base[key] else "-"))
        rows.append(("  delivered / gap between posts (us)",
                     "%d / %.0f" % (lib["n"], lib["gap"]),
                     "%d / %.0f" % (base["n"], base["gap"]), ""))
    for name, label in (("net1", "ZANVOR one machine"), ("net2", "ZANVOR two machines")):
        if name in results:
            r = results[name]
            rows.append(("%s p50 / p99 (ms)" % label,
                         "%.1f / %.1f" % (r["p50"] / 1000, r["p99"] / 1000), "", ""))
            rows.append(("  delivered", "%d/%d" % (r["n"], NETWORK_POSTS), "", ""))
    if "intake" in results:
        r = results["intake"]
        rows.append(("datagram intake (per s)", "%.0f" % r["rate"],
                     "%.0f nominal" % NOMINAL_INTAKE_PER_S,
                     "%.2f" % (r["rate"] / NOMINAL_INTAKE_PER_S)))
        rows.append(("  arrived%s, largest batch of a tick" %
                     ("" if r["in_order"] else " (OUT OF ORDER)"),
                     "%d/%d, %d" % (r["arrived"], FLOOD_DATAGRAMS, r["largest"]), "100 cap", ""))
    if "codec" in results:
        per_byte = results["codec"]
        key = per_byte.get("BM_KeyStreamArithmetic")
        for name, label in (("BM_Pack", "codec Pack (ns/byte)"),
                            ("BM_UnPack", "codec UnPack (ns/byte)")):
            if name in per_byte:
                rows.append((label, "%.2f" % per_byte[name],
                             "%.2f key stream" % key if key else "",
                             "%.2f" % (per_byte[name] / key) if key else ""))
    widths = [max(len(row[i]) for row in rows) for i in range(4)]
    for row in rows:
        say("  " + "  ".join(cell.ljust(widths[i]) if i == 0 else cell.rjust(widths[i])
                             for i, cell in enumerate(row)).rstrip())


def main():
    say("zanvor.fll: %s" % wd.FLL)
    say("zanvor_bench.exe: %s" % BENCH_EXE)
    say()
    started = time.monotonic()
    results = {}
    failures = []
    for step in (local_delivery, network_delivery, datagram_intake, codec):
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
