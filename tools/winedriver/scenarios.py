"""The reliability scenarios with real host processes on one machine.

Each takes a fresh Machine (its wineserver, hosts and named objects are the
scenario's alone) and its own sizes, and returns a Result: the figures it
measured and the problems it found. script/stress runs them at full size
and prints the figures; tests/wine/test_reliability.py runs short versions
and wants no problem."""

import json
import os
import signal
import threading
import time

from .config import HarnessError
from .crowd import Background, Crowd, ask_tagged, find_servers, ring_check, run_bench, words
from .deliveries import judge, losses_by_event, recovery_seconds, totals
from .traffic import Poster, arrivals, call_results, post_line
from .waits import exchange

BUSY = "Unable to post the message. The message buffer is busy."


class Result:
    def __init__(self, title):
        self.title = title
        self.figures = []
        self.problems = []

    def figure(self, label, value):
        self.figures.append((label, value))

    def problem(self, text):
        self.problems.append(text)

    def check(self, ok, text):
        if not ok:
            self.problem(text)

    def lines(self):
        out = ["== " + self.title]
        out += ["  %-50s %s" % (label, value) for label, value in self.figures]
        out += ["  PROBLEM: " + p for p in self.problems] or ["  no problem found"]
        return out


def percent(part, whole):
    return "%d/%d (%.2f%%)" % (part, whole, 100.0 * part / whole if whole else 100.0)


def report_stream(result, label, posts, receivers, events=(), strict=True):
    """Judges every receiver of one stream; figures for the totals, a
    problem for every duplicate, damaged, foreign or reordered text, and
    with strict for every loss that no event explains."""
    verdicts = [judge(posts, r, events) for r in receivers]
    t = totals(verdicts)
    result.figure(label + ": delivered/expected", percent(t["expected"] - t["missing"],
                                                          t["expected"]))
    result.figure(label + ": missing (of them gaps)", "%d (%d)" % (t["missing"], t["gaps"]))
    result.figure(label + ": duplicate/damaged/foreign/reordered",
                  "%d/%d/%d/%d" % (t["duplicates"], t["corrupt"], t["unposted"],
                                   t["out_of_order"]))
    delays = sorted(d for v in verdicts for d in v.repeat_delays)
    if delays:
        result.figure(label + ": repeat run after the first", "%.1f to %.1f s" % (delays[0],
                                                                                 delays[-1]))
    for key, what in (("duplicates", "ran twice"), ("corrupt", "were damaged"),
                      ("unposted", "were never posted"), ("out_of_order", "came out of order")):
        if t[key]:
            result.problem("%s: %d handler runs %s" % (label, t[key], what))
    if strict and t["gaps"]:
        worst = max(verdicts, key=lambda v: v.gaps)
        result.problem("%s: %d posts lost with no hand-over to explain it (most at %s: %d)" %
                       (label, t["gaps"], worst.label, worst.gaps))
    return verdicts


def settle(crowd):
    exchange(*crowd.hosts())


def final_round(result, crowd, poster, name):
    """Once all has settled, one more post from every live poster: every
    live subscriber must run its handler for each."""
    posts = poster.burst(1)
    settle(crowd)
    texts = {p.text for p in posts}
    for receiver in crowd.live_receivers(name):
        got = {args[0] for _, args in arrivals(receiver.host, receiver.proc) if args}
        if texts - got:
            result.problem("%s missed %d of the %d posts made after everything settled" %
                           (receiver.label, len(texts - got), len(texts)))


def check_alive(result, crowd):
    spared = [m for m in crowd.members if not m.killed]
    dead = [m.sender for m in spared if m.host.process.poll() is not None]
    result.figure("host processes alive at the end (not killed)",
                  "%d/%d" % (len(spared) - len(dead), len(spared)))
    result.check(not dead, "host processes that died by themselves: %r" % dead)


def check_ring(result, machine):
    ring = ring_check(machine)
    result.figure("ring walk: next, records since the wrap", "%d, %d (%s)" % (
        ring["next"], ring["records"], "consistent" if ring["consistent"] else "INCONSISTENT"))
    result.check(ring["consistent"], "the ring's records do not lie back to back up to its "
                 "next position: %r" % ring)


def check_errors(result, crowd, allowed=()):
    for line in crowd.errors(allowed):
        result.problem(line)


def check_one_server(result, machine, when):
    pids = find_servers(machine)
    result.check(len(pids) == 1, "%s: %d instances answer as the server (%r)" %
                 (when, len(pids), pids))
    return pids


# ---- load -----------------------------------------------------------------


def load(machine, hosts=8, per_host=1000, rate=10.0, seed=1):
    """Every host subscribed, every host posting `per_host` self-checking
    texts of 10 to 300 bytes at `rate` a second."""
    result = Result("Load: %d hosts, %d posts each at %g/s, 10-300 bytes" %
                    (hosts, per_host, rate))
    crowd = Crowd(machine, [("load", "OnLoad")])
    crowd.join(hosts)
    poster = Poster("load", rate, seed=seed)
    crowd.add_poster(poster)
    check_one_server(result, machine, "before the load")
    start = time.monotonic()
    poster.start(limit=per_host)
    poster.wait(per_host / rate * 4 + 60)
    posted = time.monotonic()
    settle(crowd)
    settled = time.monotonic()
    posts = poster.all_posts()
    verdicts = report_stream(result, "deliveries", posts, crowd.receivers("load"), strict=False)
    received = sum(v.received for v in verdicts)
    result.figure("posts", len(posts))
    result.figure("posting took, then settling", "%.1f s, %.1f s" % (posted - start,
                                                                     settled - posted))
    result.figure("handler runs per second", "%.0f" % (received / (settled - start)))
    result.figure("lowest receiver", min("%s %s" % (percent(v.expected - v.missing,
                                                            v.expected), v.label)
                                         for v in verdicts))
    final_round(result, crowd, poster, "load")
    check_alive(result, crowd)
    check_ring(result, machine)
    check_errors(result, crowd)
    return result


def burst(machine, hosts=8, per_host=200, size=300, seed=2):
    """Every host writes all its posts at once: the ring wraps many times
    over; what a receiver could not read in time is dropped, never
    delivered wrong or twice."""
    result = Result("Unpaced burst: %d hosts x %d posts of %d bytes" % (hosts, per_host, size))
    crowd = Crowd(machine, [("burst", "OnBurst")])
    crowd.join(hosts)
    poster = Poster("burst", sizes=(size, size), seed=seed)
    crowd.add_poster(poster)
    start = time.monotonic()
    poster.burst(per_host)
    settle(crowd)
    took = time.monotonic() - start
    posts = poster.all_posts()
    stored = sum(len("burst:") + len(p.text) + 3 for p in posts)
    result.figure("bytes through the 16 KB ring", "%d (%.0f times round)" % (stored,
                                                                            stored / 16380.0))
    verdicts = report_stream(result, "deliveries", posts, crowd.receivers("burst"),
                             strict=False)
    result.figure("dropped (the ring wrapped over them)", sum(v.missing for v in verdicts))
    result.figure("burst and settling took", "%.1f s" % took)
    final_round(result, crowd, poster, "burst")
    check_alive(result, crowd)
    check_ring(result, machine)
    check_errors(result, crowd)
    return result


# ---- faults while loaded ---------------------------------------------------


def wait_recovery(poster, crowd, name, event, timeout=30.0):
    """Seconds from `event` until every live subscriber ran its handler for
    a post made after it; None at the timeout."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        seconds = recovery_seconds(poster.all_posts(), crowd.live_receivers(name), event)
        if seconds is not None:
            return seconds
        time.sleep(0.1)
    return None


def server_kill(machine, hosts=6, rate=10.0, before=3.0, after=5.0, seed=3):
    """The server instance's process killed while every host posts."""
    result = Result("Server killed mid-stream: %d hosts posting at %g/s each" % (hosts, rate))
    crowd = Crowd(machine, [("load", "OnLoad")])
    crowd.join(hosts)
    poster = Poster("load", rate, seed=seed)
    crowd.add_poster(poster)
    poster.start()
    time.sleep(before)
    server = crowd.server()
    killed = crowd.kill(server)
    recovery = wait_recovery(poster, crowd, "load", killed)
    time.sleep(max(0.0, after - (recovery or 0)))
    poster.stop()
    check_one_server(result, machine, "after the kill")
    settle(crowd)
    result.check(recovery is not None, "some subscriber got no post made after the kill")
    result.figure("recovery (kill until all live got a later post)",
                  "%.0f ms" % (recovery * 1000) if recovery is not None else "never")
    posts = poster.all_posts()
    live = crowd.live_receivers("load")
    verdicts = report_stream(result, "deliveries to the live", posts, live, events=[killed])
    result.figure("posts lost while recovering", sum(v.missing for v in verdicts))
    final_round(result, crowd, poster, "load")
    check_alive(result, crowd)
    check_errors(result, crowd)
    return result


def handovers(machine, hosts=8, count=6, rate=8.0, pause=1.5, seed=4):
    """`count` hand-overs in a row while every host posts: the server is
    killed (a new host takes its place) or unloads (it loads the library
    again as a client), by turns."""
    result = Result("%d hand-overs in a row under load: %d hosts at %g/s each" %
                    (count, hosts, rate))
    crowd = Crowd(machine, [("load", "OnLoad")])
    crowd.join(hosts)
    poster = Poster("load", rate, seed=seed)
    crowd.add_poster(poster)
    poster.start()
    events = []
    rows = []
    try:
        time.sleep(pause)
        for i in range(count):
            way = "kill" if i % 2 == 0 else "unload"
            old = crowd.server()
            if way == "kill":
                at = crowd.kill(old)
            else:
                at = crowd.unload(old)
            events.append(at)
            recovery = wait_recovery(poster, crowd, "load", at)
            new = crowd.server()
            rows.append((way, old.pid, new.pid, recovery))
            if way == "kill":
                crowd.join(1, settle=False)
            else:
                crowd.reload(old)
            time.sleep(pause)
    finally:
        poster.stop()
    settle(crowd)
    posts = poster.all_posts()
    verdicts = report_stream(result, "deliveries", posts, crowd.receivers("load"),
                             events=events)
    lost = losses_by_event(verdicts, events)
    for (way, old, new, recovery), at in zip(rows, events):
        result.figure("%-6s pid %d -> %d" % (way, old, new), "recovered in %s, %d lost" % (
            "%.0f ms" % (recovery * 1000) if recovery is not None else "NEVER", lost[at]))
        result.check(recovery is not None, "after the %s of pid %d some subscriber never got "
                     "a later post" % (way, old))
    check_one_server(result, machine, "after the hand-overs")
    final_round(result, crowd, poster, "load")
    check_alive(result, crowd)
    check_errors(result, crowd)
    return result


def mutex_hold(machine, hosts=4, rate=10.0, hold_ms=3000, before=1.0, after=2.0,
               late_subscribe=True, seed=5):
    """A foreign process holds the text ring's mutex while every host posts
    (and, with late_subscribe, one more subscribes): no call may wait longer
    than the library's own 1000 ms, a call that gave up reached nobody,
    delivery resumes, and the subscription made meanwhile receives."""
    result = Result("Foreign holder of vfp_zanvor_mu for %d ms: %d hosts posting at %g/s" %
                    (hold_ms, hosts, rate))
    crowd = Crowd(machine, [("load", "OnLoad")])
    crowd.join(hosts)
    late = crowd.join(1)[0]  # subscribes "late" during the hold
    poster = Poster("load", rate, seed=seed, timed=True)
    crowd.add_poster(poster)
    poster.remove(late.sender)
    poster.start()
    time.sleep(before)
    holder = Background(machine, "hold-mutex", "vfp_zanvor_mu", hold_ms)
    held, _ = holder.wait_line("HELD")
    since = len(late.host.output())
    if late_subscribe:
        late.host.send('? "@s " + QPC()', '=SUBSCRIBE("late", "DO OnLate WITH <Msg>")',
                       '? "@t " + QPC()')
    released, _ = holder.wait_line("RELEASED", timeout=hold_ms / 1000.0 + 30)
    holder.finish()
    time.sleep(after)
    poster.stop()
    settle(crowd)

    calls = {}
    for member in crowd.members:
        for seq, outcome in call_results(member.host).items():
            calls[(member.sender, seq)] = outcome
    posts = poster.all_posts()
    returned = [p for p in posts if calls.get((p.sender, p.seq), (False, 0))[0]]
    gave_up = [p for p in posts if (p.sender, p.seq) in calls and not calls[(p.sender, p.seq)][0]]
    longest = max((ms for _, ms in calls.values()), default=0.0)
    busy = sum(text == BUSY for m in crowd.members for text in m.host.error_texts())
    result.figure("held from HELD to RELEASED", "%.0f ms" % ((released - held) * 1000))
    result.figure("calls that gave up (busy) / returned", "%d (%d errors raised) / %d" % (
        len(gave_up), busy, len(returned)))
    result.figure("longest ZANVOR_LOCAL call (with the pump after it)", "%.0f ms" % longest)
    bound = 2000.0  # the library's 1000 ms wait and a pump of messages after it
    result.check(longest < bound, "a ZANVOR_LOCAL call took %.0f ms" % longest)
    result.check(len(gave_up) == busy, "%d calls did not return but %d busy errors were raised"
                 % (len(gave_up), busy))
    result.check(gave_up, "no call met the held mutex")
    # The calls that gave up are not among the expected posts: a handler
    # run for one of them shows up as a text that was never posted. The
    # lines each host could not run during the hold run in one rush after
    # it, which may wrap the ring over a slow receiver: such drops are
    # counted, not judged.
    report_stream(result, "deliveries of returned posts", returned, crowd.receivers("load"),
                  strict=False)
    # Delivery resumed: each poster's last returned post reached everyone.
    ends = {}
    for post in returned:
        ends[post.sender] = post
    for receiver in crowd.receivers("load"):
        texts = {a[0] for _, a in arrivals(receiver.host, receiver.proc) if a}
        missed = [p for p in ends.values() if p.text not in texts]
        result.check(not missed, "%s missed the last post of %d posters" % (receiver.label,
                                                                             len(missed)))
    final_round(result, crowd, poster, "load")
    if late_subscribe:
        stamps = dict(line.split()[:2] for line in late.host.output()[since:]
                      if line.startswith(("@s ", "@t ")))
        subscribe_ms = (int(stamps["@t"]) - int(stamps["@s"])) / 1000.0
        result.figure("SUBSCRIBE during the hold took", "%.0f ms" % subscribe_ms)
        result.check(subscribe_ms < bound, "SUBSCRIBE took %.0f ms during the hold" %
                     subscribe_ms)
        crowd.members[0].host.send('=ZANVOR_LOCAL("late", "after the hold")')
        settle(crowd)
        got = late.host.calls("OnLate")
        result.figure("the subscription made during the hold receives", "yes" if got else "NO")
        result.check(got == [["after the hold"]], "the SUBSCRIBE made during the hold never "
                     "receives (its registration could not be stored, nor was it sent again): "
                     "%r" % got)
    check_alive(result, crowd)
    check_errors(result, crowd, allowed=(BUSY,))
    return result


def stopped_subscriber(machine, posters=4, rate=10.0, stop_s=5.0, before=1.5, after=3.0,
                       sizes=(10, 300), seed=6):
    """One subscriber's process stopped (SIGSTOP) while the others post: it
    loses what the ring no longer holds when it resumes, never gets a wrong
    text, and the others lose nothing."""
    result = Result("Subscriber stopped for %.0f s: %d hosts posting at %g/s each" %
                    (stop_s, posters, rate))
    crowd = Crowd(machine, [("load", "OnLoad")])
    crowd.join(posters + 1)
    sleeper = crowd.members[-1]
    poster = Poster("load", rate, sizes=sizes, seed=seed)
    crowd.add_poster(poster)
    poster.remove(sleeper.sender)
    poster.start()
    time.sleep(before)
    # Under Wine the .exe runs as the Linux process that the host's Popen
    # started ("ip netns exec" and the wine loader exec in place).
    pid = sleeper.host.process.pid
    os.kill(pid, signal.SIGSTOP)
    stopped = time.monotonic()
    try:
        time.sleep(stop_s)
    finally:
        os.kill(pid, signal.SIGCONT)
    resumed = time.monotonic()
    time.sleep(after)
    poster.stop()
    settle(crowd)
    sleeper.receivers["load"].events = [stopped, resumed]
    posts = poster.all_posts()
    during = [p for p in posts if stopped <= p.sent <= resumed]
    result.figure("posted while it was stopped", "%d (%d bytes)" % (
        len(during), sum(len(p.text) + 8 for p in during)))
    others = [m.receivers["load"] for m in crowd.members if m is not sleeper]
    lost = sum(v.missing for v in report_stream(result, "others", posts, others))
    result.check(lost == 0, "the others lost %d posts while one subscriber was stopped" % lost)
    verdicts = report_stream(result, "the stopped one", posts, [sleeper.receivers["load"]])
    result.figure("the stopped one dropped", verdicts[0].missing)
    # More than a ring's worth was stored while it slept, so some of what
    # it was handed had been overwritten when it woke: that must show.
    if sum(len(p.text) + 8 for p in during) > 16384:
        result.check(verdicts[0].missing > 0, "the stopped subscriber dropped nothing although "
                     "the ring wrapped over it")
    final_round(result, crowd, poster, "load")
    check_alive(result, crowd)
    check_errors(result, crowd)
    return result


# ---- hostile input ---------------------------------------------------------


def hostile_texts():
    """Texts that break naive quoting or look like commands of the host."""
    every_byte = "".join(chr(i) for i in range(1, 256))
    tail = "\"'[]\r\n" * 7 + "end"
    texts = [
        every_byte + tail, every_byte[::-1] + tail, "",
        '"', "'", "[", "]", '""', "''", "[]", "][", "\"'", "'\"", "[\"']", "\"'[]", "]\"'[",
        "([", "x([y", "\r", "\n", "\r\n", "\n\r", "a\rb\nc\r\nd", "\r\n" * 150,
        "x" * 300, '"' * 300, "'" * 300, "[" * 300, "]" * 300, ("\"'[]" * 75),
        "QUIT", "RELEASE LIBRARY", "SET LIBRARY TO", '"); QUIT; ("', "'); QUIT; ('",
        "]); QUIT; ([", '=ZANVOR_LOCAL("hostile", "loop")', "DO Evil WITH 1", '" + CHR(0) + "',
        "&& comment", "* comment", "<Msg>", "DO OnHostile WITH <Msg>", '? "injected"',
        "\nQUIT\n", '"\n? "injected', "MESSAGEBOX('box')", "CHR(34)", '"+CHR(34)+"', "a:b:c",
        ":", "  padded  ", "\t", " ",
    ]
    assert all(len(t) <= 300 for t in texts)
    return texts


def hostile(machine):
    """Every hostile text posted locally and over the network reaches each
    subscriber's handler as one argument, byte for byte, in order; nothing
    else runs."""
    texts = hostile_texts()
    result = Result("Hostile texts (%d, up to 300 bytes), by ZANVOR_LOCAL and by ZANVOR" %
                    len(texts))
    names = [("hostile", "OnHostile", "ZANVOR_LOCAL"), ("hostilenet", "OnHostileNet", "ZANVOR")]
    crowd = Crowd(machine, [(n, p) for n, p, _ in names], network="local")
    crowd.join(3)
    sender = crowd.members[-1].host
    for name, _, function in names:
        for text in texts:
            sender.send(post_line(function, name, text))
    receivers = [m.host for m in crowd.members[:2]]
    for name, proc, function in names:
        for host in receivers:
            wait_until(lambda: len(host.calls(proc)) >= len(texts), 60)
    settle(crowd)
    for name, proc, function in names:
        exact = 0
        for host in receivers:
            got = host.calls(proc)
            exact += sum(1 for g, t in zip(got, texts) if g == [t])
            result.check(got == [[t] for t in texts], "%s by %s: handler arguments differ: %r" % (
                name, function, [g for g, t in zip(got, texts) if g != [t]][:3] +
                ["%d runs for %d texts" % (len(got), len(texts))]))
        result.figure("%s: exact single-argument runs" % function,
                      "%d/%d" % (exact, len(texts) * len(receivers)))
    procs = {p.upper() for _, p, _ in names}
    for member in crowd.members:
        for line in member.host.output():
            stray = line.startswith("DO ") and line[3:].split("(")[0].upper() not in procs
            stray = stray or not (line.startswith(("DO ", "__sync_", "@v")))
            result.check(not stray, "#%d printed a line no handler made: %r" % (member.sender,
                                                                                line[:80]))
        listed = ask_tagged(member.host, "LIST_SUBSCR()") if member.host in receivers else None
        result.check(listed is None or listed.startswith("hostile\t"),
                     "#%d lost its subscriptions: %r" % (member.sender, listed))
    check_alive(result, crowd)
    check_errors(result, crowd)
    return result


def wait_until(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return predicate()


class StallWatch:
    """Syncs each host over and over from threads of its own and keeps the
    longest round trip: a host that stalls shows here."""

    def __init__(self, members):
        self.longest = {m.sender: 0.0 for m in members}
        self._stop = threading.Event()
        self._threads = [threading.Thread(target=self._watch, args=(m,), daemon=True)
                         for m in members]
        for t in self._threads:
            t.start()

    def _watch(self, member):
        while not self._stop.is_set():
            start = time.monotonic()
            try:
                member.host.sync(timeout=60)
            except HarnessError:
                self.longest[member.sender] = float("inf")
                return
            self.longest[member.sender] = max(self.longest[member.sender],
                                              time.monotonic() - start)
            self._stop.wait(0.2)

    def stop(self):
        self._stop.set()
        for t in self._threads:
            t.join()
        return self.longest


def replay_texts(junk_line, seed):
    count = words(junk_line)["replay_texts"]
    return ["%d-%d" % (seed, k) for k in range(count)]


def judge_replays(result, label, members, expected, seeds):
    """Each replayed text of the floods with these seeds once at every
    member, and no text whose check byte was spoilt."""
    expected = set(expected)
    mine = tuple("%d-" % s for s in seeds) + tuple("bad-%d-" % s for s in seeds)
    worst = len(expected)
    for member in members:
        got = [c[0] for c in member.host.calls("OnReplay") if c and c[0].startswith(mine)]
        twice = len(got) - len(set(got))
        foreign = [g for g in got if g not in expected]
        result.check(not twice, "%s: %d replayed texts ran twice at #%d" %
                     (label, twice, member.sender))
        result.check(not foreign, "%s: texts that should have been dropped ran at #%d: %r" %
                     (label, member.sender, foreign[:3]))
        worst = min(worst, len(set(got) & expected))
    result.figure(label + ": replayed texts run once", "%d/%d at the worst receiver" % (
        worst, len(expected)))


def junk_flood(machine, junk=5000, junk_rate=2000, posts=100, valid_rate=10.0, seed=8):
    """Junk datagrams on the server mailslot and on UDP port 38217 (wrong
    sizes, bad check bytes, random bytes, replayed ids) while valid ZANVOR
    posts flow on both paths: the server and a client subscribe, a third
    host posts."""
    result = Result("Junk floods: %d datagrams on each path at up to %d/s, valid ZANVOR posts "
                    "at %g/s" % (junk, junk_rate, valid_rate))
    crowd = Crowd(machine, [("valid", "OnValid"), ("replay", "OnReplay")], network="local")
    crowd.join(3)
    roles = {crowd.members[0].sender: "server", crowd.members[1].sender: "client",
             crowd.members[2].sender: "poster"}
    poster = Poster("valid", valid_rate, seed=seed, function="ZANVOR")
    poster.add(crowd.members[2].sender, crowd.members[2].host)
    watch = StallWatch(crowd.live())
    floods = [(path, s, Background(machine, "junk", path, junk, junk_rate, s))
              for path, s in (("mailslot", seed), ("udp", seed + 1))]
    poster.start(limit=posts)
    hosts = [m.host for m in crowd.members]
    for path, s, flood in floods:
        flood.finish(timeout=junk / 100.0 + 120)
        line = next((l for l in flood.stdout.snapshot() if l.startswith("JUNK ")), "")
        w = words(line)
        result.check(w.get("failed", 1) == 0, "the %s flood failed: %r" % (path, line))
        result.figure("%s junk sent (rate)" % path, "%d in %.1f s (%.0f/s)" % (
            w.get("sent", 0), w.get("elapsed_us", 0) / 1e6,
            w.get("sent", 0) / max(w.get("elapsed_us", 1) / 1e6, 1e-6)))
        flood.texts = replay_texts(line, s) if line else []
    poster.wait(posts / valid_rate * 4 + 120)
    longest = watch.stop()
    valid = poster.all_posts()
    # The mailslot's backlog drains at the receive timer's pace.
    texts = [t for _, _, f in floods for t in f.texts]
    wanted = set(texts)
    wait_until(lambda: all(len(h.calls("OnValid")) >= len(valid) for h in hosts[:2]) and
               all(wanted <= {c[0] for c in h.calls("OnReplay") if c} for h in hosts), 120)
    settle(crowd)
    receivers = [m.receivers["valid"] for m in crowd.members[:2]]
    verdicts = report_stream(result, "valid posts", valid, receivers)
    lost = sum(v.missing for v in verdicts)
    result.check(lost == 0, "%d valid posts were lost in the flood" % lost)
    for path, s, flood in floods:
        judge_replays(result, "replays on " + path, crowd.members, flood.texts, (s,))
    result.figure("longest round trip: server, client, poster", ", ".join(
        "%.0f ms" % (longest[m.sender] * 1000) for m in crowd.members))
    for sender, seconds in longest.items():
        result.check(seconds < 30, "the %s stalled for %.1f s" % (roles[sender], seconds))
    check_alive(result, crowd)
    check_errors(result, crowd)
    return result


def server_counters(machine):
    """The server's receive counters, as `zanvor status --json` shows them
    ({} when it does not answer)."""
    code, out, _ = machine.run_tool(["status", "--json"])
    for line in out:
        try:
            return json.loads(line).get("counters") or {}
        except ValueError:
            continue
    return {}


def flood_and_burst(machine, junk=20000, junk_rate=4000, burst=3000, seed=21):
    """Two floods against the server instance. First junk on UDP port 38217
    (every kind of zanvor_bench's junk, valid replays among it) while the
    server's host keeps a 50 ms timer of its own whose every tick posts a
    message to its own queue (PULSE): the library must leave the host at
    least half its ticks, and each of those messages handled within 250 ms.
    Then a sustained burst of distinct valid posts written into the
    mailslot and sent over UDP at once, as a ZANVOR burst arrives from
    another machine: each post must run each handler once, however far the
    slower path's copies fall behind."""
    result = Result("Floods: %d junk datagrams on UDP at up to %d/s against the host's own "
                    "50 ms timer; %d distinct posts on both paths" % (junk, junk_rate, burst))
    crowd = Crowd(machine, [("replay", "OnReplay"), ("bench", "Got")], network="local")
    crowd.join(2)
    server = crowd.server()
    host = server.host

    started = time.monotonic()
    host.send("=PULSE(50)")
    host.sync()
    flood = Background(machine, "junk", "udp", junk, junk_rate, seed)
    flood.finish(timeout=junk / 100.0 + 120)
    flood_ended = time.monotonic()
    pulse = words(ask_tagged(host, "PULSE()", timeout=120))
    answered = time.monotonic()
    host.send("=PULSE(0)")
    line = next((l for l in flood.stdout.snapshot() if l.startswith("JUNK ")), "")
    w = words(line)
    result.check(w.get("failed", 1) == 0, "the UDP flood failed: %r" % line)
    result.figure("udp junk sent (rate)", "%d in %.1f s (%.0f/s)" % (
        w.get("sent", 0), w.get("elapsed_us", 0) / 1e6,
        w.get("sent", 0) / max(w.get("elapsed_us", 1) / 1e6, 1e-6)))
    # From before PULSE(50) ran to after PULSE() answered: at least the
    # host's own span, so the share is never flattered.
    expected = (answered - started) / 0.050
    ticks = pulse.get("ticks", 0)
    result.figure("host's 50 ms timer: ticks kept", "%d of %.0f (%.0f%%)" % (
        ticks, expected, 100.0 * ticks / expected))
    result.figure("host's posted messages: handled, longest wait", "%d/%d, %.1f ms" % (
        pulse.get("handled", 0), pulse.get("posted", 0), pulse.get("longest_us", 0) / 1000.0))
    result.figure("the host answered after the flood ended", "%.0f ms later" % (
        (answered - flood_ended) * 1000))
    result.check(ticks >= expected / 2, "the host's timer kept %d of %.0f ticks during the "
                 "flood" % (ticks, expected))
    result.check(pulse.get("longest_us", 0) <= 250000, "a message the host posted to itself "
                 "waited %.0f ms" % (pulse.get("longest_us", 0) / 1000.0))
    result.check(pulse.get("handled", 0) >= pulse.get("posted", 0) - 1,
                 "the host's own posted messages were not handled: %r" % pulse)
    texts = replay_texts(line, seed) if line else []
    wanted = set(texts)
    wait_until(lambda: all(wanted <= {c[0] for c in h.calls("OnReplay") if c}
                           for h in crowd.hosts()), 60)
    read = server_counters(machine).get("udp_datagrams", 0)
    result.figure("udp junk read by the server (the rest overflowed the socket)",
                  percent(read, w.get("sent", 0)))

    # The same packets (ids of the sequence number, texts "bench:N") on both
    # paths at once.
    began = time.monotonic()
    floods = [Background(machine, "flood", burst), Background(machine, "udpflood", burst,
                                                              "127.0.0.1")]
    for f in floods:
        code = f.finish(timeout=burst / 50.0 + 120)
        result.check(code == 0, "a burst flood failed: %r" % f.stdout.snapshot())
    quiet = {"count": -1, "since": time.monotonic()}

    def settled():
        count = sum(len(m.host.calls("Got")) for m in crowd.members)
        if count != quiet["count"]:
            quiet["count"], quiet["since"] = count, time.monotonic()
        done = all(len({tuple(c) for c in m.host.calls("Got")}) >= burst for m in crowd.members)
        return done or time.monotonic() - quiet["since"] > 5

    wait_until(settled, burst / 20.0 + 120)
    settle(crowd)
    took = time.monotonic() - began
    doubles = lost = 0
    for member in crowd.members:
        seqs = [c[0] for c in member.host.calls("Got") if c]
        doubles += len(seqs) - len(set(seqs))
        lost += burst - len(set(seqs) & {str(n) for n in range(1, burst + 1)})
    result.figure("burst on both paths: handler runs expected", "%d (%d hosts)" % (
        burst * len(crowd.members), len(crowd.members)))
    result.figure("burst: double deliveries, never handled", "%d, %d" % (doubles, lost))
    result.figure("burst: from the start to the last handler run", "%.1f s" % took)
    result.check(doubles == 0, "%d posts of the burst ran a handler twice" % doubles)
    judge_replays(result, "replays on udp", crowd.members, texts, (seed,))
    check_alive(result, crowd)
    check_errors(result, crowd)
    return result


# ---- soak ------------------------------------------------------------------


def filter_probe(machine, crowd, seed):
    """Replayed ids over UDP: every live member's "replay" handler must run
    once per text. Returns the texts."""
    _, lines = run_bench(machine, "junk", "udp", 300, 0, seed)
    line = next((l for l in lines if l.startswith("JUNK ")), "")
    texts = replay_texts(line, seed) if line else []
    hosts = crowd.hosts()
    wait_until(lambda: all(count_seed(h, seed) >= len(texts) for h in hosts), 30)
    settle(crowd)
    return texts


def count_seed(host, seed):
    prefix = "%d-" % seed
    return sum(1 for c in host.calls("OnReplay") if c and c[0].startswith(prefix))


RESOURCE_KEYS = ("working_set", "private_bytes", "handles", "gdi", "user", "linux_rss_kb",
                 "linux_fds")


def soak(machine, minutes=10.0, hosts=8, rate=4.0, net_rate=1.0, every=45.0, seed=9,
         progress=None):
    """Mixed load for `minutes`: every host posts locally and over the
    network, the server is killed or unloads by turns every `every` seconds.
    Resources of every host, the ring and the duplicate filter at the start
    and at the end."""
    result = Result("Soak: %.1f min, %d hosts posting %g/s locally and %g/s over UDP each, a "
                    "hand-over every %.0f s" % (minutes, hosts, rate, net_rate, every))
    crowd = Crowd(machine, [("soak", "OnSoak"), ("soaknet", "OnSoakNet"),
                            ("replay", "OnReplay")])
    crowd.join(hosts)
    local = Poster("soak", rate, seed=seed)
    network = Poster("soaknet", net_rate, sizes=(10, 290), seed=seed + 1, function="ZANVOR")
    crowd.add_poster(local)
    crowd.add_poster(network)
    before = crowd.resources()
    ring_before = ring_check(machine)
    texts = filter_probe(machine, crowd, seed)
    judge_replays(result, "duplicate filter at the start", crowd.live(), texts, (seed,))
    local.start()
    network.start()
    start = time.monotonic()
    deadline = start + minutes * 60
    events = []
    rows = []
    try:
        while True:
            due = start + every * (len(events) + 1)
            if due >= deadline:
                break
            time.sleep(max(0.0, due - time.monotonic()))
            way = "kill" if len(events) % 2 == 0 else "unload"
            old = crowd.server()
            at = crowd.kill(old) if way == "kill" else crowd.unload(old)
            events.append(at)
            recovery = wait_recovery(local, crowd, "soak", at)
            rows.append((way, recovery))
            if way == "kill":
                crowd.join(1, settle=False)
            else:
                crowd.reload(old)
            if progress:
                progress("soak %4.0f s: %s #%d, recovered in %s" % (
                    at - start, way, len(events),
                    "%.0f ms" % (recovery * 1000) if recovery is not None else "NEVER"))
        time.sleep(max(0.0, deadline - time.monotonic()))
    finally:
        local.stop()
        network.stop()
    settle(crowd)
    time.sleep(1.0)  # the last UDP datagrams
    settle(crowd)
    ran = time.monotonic() - start
    result.figure("ran", "%.1f min, %d hand-overs (%d kills, %d unloads)" % (
        ran / 60, len(events), sum(w == "kill" for w, _ in rows),
        sum(w == "unload" for w, _ in rows)))
    recoveries = sorted(r for _, r in rows if r is not None)
    if recoveries:
        result.figure("recovery min/median/max", "%.0f/%.0f/%.0f ms" % (
            recoveries[0] * 1000, recoveries[len(recoveries) // 2] * 1000,
            recoveries[-1] * 1000))
    result.check(len(recoveries) == len(rows), "%d hand-overs never recovered" %
                 (len(rows) - len(recoveries)))
    report_stream(result, "local", local.all_posts(), crowd.receivers("soak"), events=events)
    report_stream(result, "network", network.all_posts(), crowd.receivers("soaknet"),
                  events=events)
    after = crowd.resources()
    ring_after = ring_check(machine)
    texts = filter_probe(machine, crowd, seed + 100)
    judge_replays(result, "duplicate filter at the end", crowd.live(), texts, (seed + 100,))
    for when, ring in (("start", ring_before), ("end", ring_after)):
        result.figure("ring at the %s: next, records" % when, "%d, %d (%s)" % (
            ring["next"], ring["records"], "consistent" if ring["consistent"] else
            "INCONSISTENT"))
        result.check(ring["consistent"], "the ring is inconsistent at the %s: %r" % (when, ring))
    for sender in sorted(after):
        start_row = before.get(sender)
        end_row = after[sender]
        label = "host #%d%s" % (sender, "" if start_row else " (joined later)")
        result.figure(label, " ".join("%s=%s" % (k, fmt_change(start_row, end_row, k))
                                      for k in RESOURCE_KEYS))
    growth = [after[s]["private_bytes"] - before[s]["private_bytes"] for s in after
              if s in before]
    if growth:
        result.figure("private bytes growth, largest", "%+d" % max(growth))
        result.check(max(growth) < 1 << 20, "a host's private bytes grew by %d" % max(growth))
    final_round(result, crowd, local, "soak")
    check_alive(result, crowd)
    check_errors(result, crowd)
    return result


def fmt_change(before, after, key):
    if before is None or key not in before:
        return str(after.get(key, "?"))
    if before[key] == after.get(key):
        return str(before[key])
    return "%s->%s" % (before[key], after.get(key, "?"))
