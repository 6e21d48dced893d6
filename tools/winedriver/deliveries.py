"""Judging what the receivers of a reliability run got against what was
posted: every handler run must carry exactly one posted text, byte for
byte, none twice, each sender's texts in the order posted; what is missing
is counted, and told apart by where it lies.

A receiver is expected to get the posts that were handed to their hosts
while it was subscribed (its spans). Events (a server killed or unloaded, a
receiver stopped) cut each sender's stream into segments. Within a segment a
receiver may miss a run at the start (it was not registered with the new
server yet) and a run at the end (the posts in the queue of a server that
went away); a miss between two received posts is a gap: a loss that no
event explains."""

import bisect
import collections

from .traffic import arrivals, read_text


class Receiver:
    """One subscriber: its host, the procedure its handler runs, and the
    spans [start, end or None] during which it was subscribed."""

    def __init__(self, label, host, proc, joined):
        self.label = label
        self.host = host
        self.proc = proc
        self.spans = [[joined, None]]
        self.events = []  # events of its own (its stop and resume)

    def leave(self, when):
        if self.spans[-1][1] is None:
            self.spans[-1][1] = when

    def rejoin(self, when):
        self.spans.append([when, None])

    def span_of(self, t):
        for i, (start, end) in enumerate(self.spans):
            if start <= t and (end is None or t <= end):
                return i
        return None

    def alive(self):
        return self.host.process.poll() is None


Verdict = collections.namedtuple(
    "Verdict", "label received expected missing gaps duplicates corrupt unposted out_of_order "
    "missing_posts repeat_delays")


def judge(posts, receiver, events=()):
    """The Verdict of one receiver against `posts` (every Post of the
    stream, all senders)."""
    by_text = {p.text: p for p in posts}
    got = {}
    last = {}
    repeat_delays = []  # seconds from a text's first handler run to its repeat
    duplicates = corrupt = unposted = out_of_order = received = 0
    for t, args in arrivals(receiver.host, receiver.proc):
        received += 1
        if args is None or len(args) != 1 or not isinstance(args[0], str):
            corrupt += 1
            continue
        post = by_text.get(args[0])
        if post is None:
            # A text that fails its own check was damaged on the way; one
            # that passes it but was never posted came from elsewhere.
            if read_text(args[0]) is None:
                corrupt += 1
            else:
                unposted += 1
            continue
        key = (post.sender, post.seq)
        if key in got:
            duplicates += 1
            repeat_delays.append(t - got[key])
            continue
        got[key] = t
        if last.get(post.sender, -1) > post.seq:
            out_of_order += 1
        last[post.sender] = max(last.get(post.sender, -1), post.seq)

    cuts = sorted(list(events) + receiver.events)
    segments = collections.defaultdict(list)
    expected = 0
    missing = []
    for post in sorted(posts, key=lambda p: (p.sender, p.seq)):
        span = receiver.span_of(post.sent)
        if span is None:
            continue
        expected += 1
        flag = (post.sender, post.seq) in got
        if not flag:
            missing.append(post)
        segments[(post.sender, span, bisect.bisect(cuts, post.sent))].append(flag)
    gaps = 0
    for flags in segments.values():
        if True in flags:
            first = flags.index(True)
            last_true = len(flags) - 1 - flags[::-1].index(True)
            gaps += flags[first:last_true + 1].count(False)
    return Verdict(receiver.label, received, expected, len(missing), gaps, duplicates, corrupt,
                   unposted, out_of_order, missing, repeat_delays)


def totals(verdicts):
    """Field sums over verdicts (missing_posts left out)."""
    fields = [f for f in Verdict._fields if f not in ("label", "missing_posts", "repeat_delays")]
    return {f: sum(getattr(v, f) for v in verdicts) for f in fields}


def recovery_seconds(posts, receivers, event):
    """From `event` until every given receiver has run its handler for a
    post handed over after it; None when one never did."""
    after = {p.text for p in posts if p.sent > event}
    latest = event
    for receiver in receivers:
        times = [t for t, args in arrivals(receiver.host, receiver.proc, since=event)
                 if args and args[0] in after]
        if not times:
            return None
        latest = max(latest, min(times))
    return latest - event


def losses_by_event(verdicts, events):
    """Missing posts charged to the event nearest in time."""
    counts = collections.Counter()
    events = sorted(events)
    if not events:
        return counts
    for verdict in verdicts:
        for post in verdict.missing_posts:
            nearest = min(events, key=lambda e: abs(e - post.sent))
            counts[nearest] += 1
    return counts
