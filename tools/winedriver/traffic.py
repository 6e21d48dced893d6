"""Self-checking traffic for the reliability runs: texts that carry their
sender, sequence number and a check of their body, FoxPro expressions that
spell any text for the host's parser, a paced poster over several hosts and
the reading of what each receiver's handler got.

A text is HEADER_SIZE bytes of header, then its body: the sender's letter,
the sequence number in five hex digits and the low 16 bits of the body's
CRC-32 in four, so that a receiver can tell a whole text from one that was
cut, mixed or overwritten without knowing what was posted."""

import collections
import json
import random
import re
import threading
import time
import zlib

from .config import HarnessError
from .host import DO_LINE

SENDERS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
HEADER_SIZE = 10
# Pieces mixed into bodies beside random bytes 1..255: every quote kind,
# brackets, line breaks, the host's comment mark, the handler keyword.
SPECIALS = ['"', "'", "[", "]", "\r", "\n", "\r\n", "&&", "<Msg>", ":", "'\"]", "]['"]

Post = collections.namedtuple("Post", "sender seq text sent")


def body_check(body):
    return "%04x" % (zlib.crc32(body.encode("latin-1")) & 0xFFFF)


def make_text(sender, seq, size, rng):
    """A self-checking text of `size` bytes (at least HEADER_SIZE)."""
    want = max(size, HEADER_SIZE) - HEADER_SIZE
    body = []
    while len(body) < want:
        body.extend(rng.choice(SPECIALS) if rng.random() < 0.1 else chr(rng.randint(1, 255)))
    body = "".join(body[:want])
    return "%s%05x%s%s" % (SENDERS[sender], seq, body_check(body), body)


def read_text(text):
    """(sender, seq) of a well-formed text whose body matches its check, or
    None."""
    if len(text) < HEADER_SIZE or text[0] not in SENDERS:
        return None
    try:
        seq = int(text[1:6], 16)
    except ValueError:
        return None
    if text[6:10] != body_check(text[HEADER_SIZE:]):
        return None
    return SENDERS.index(text[0]), seq


_CLOSER = {'"': '"', "'": "'", "[": "]"}
_MAX_LITERAL = 255


def expression(text):
    """A FoxPro expression whose value is `text` (any bytes but NUL): runs
    in whichever literal delimiters they allow, CHR() for CR and LF (which
    end a script line) and for "&" (which the host would expand as a macro
    inside a literal), joined with +."""
    parts = []
    run = []
    usable = list(_CLOSER)

    def flush():
        if run:
            parts.append(usable[0] + "".join(run) + _CLOSER[usable[0]])

    for ch in text:
        if ch in "\r\n&":
            flush()
            run, usable = [], list(_CLOSER)
            parts.append("CHR(%d)" % ord(ch))
            continue
        left = [d for d in usable if _CLOSER[d] != ch]
        if not left or len(run) >= _MAX_LITERAL:
            flush()
            run = []
            left = [d for d in _CLOSER if _CLOSER[d] != ch]
        usable = left
        run.append(ch)
    flush()
    return "+".join(parts) if parts else '""'


def post_line(function, name, text):
    return '=%s("%s", %s)' % (function, name, expression(text))


class Poster:
    """Posts self-checking texts under one name from several hosts, `rate`
    posts a second from each, from a thread of its own; or all at once with
    burst(). Every post is kept with the time its line was handed to the
    host. A host whose input has closed (killed) is dropped quietly.

    timed=True brackets every call with the host's clock, so that each
    post leaves three stdout lines: "@a SEQ <QPC>", "@r SEQ .T." (only when
    the call returned) and "@b SEQ <QPC>"; see call_results()."""

    def __init__(self, name, rate=10.0, sizes=(10, 300), seed=1, function="ZANVOR_LOCAL",
                 timed=False):
        self.name = name
        self.rate = rate
        self.sizes = sizes
        self.function = function
        self.timed = timed
        self.rng = random.Random(seed)
        self.posts = collections.defaultdict(list)  # sender -> [Post]
        self._hosts = {}  # sender -> host, the active ones
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._thread = None
        self.limit = None  # posts per sender after which the thread stops

    def add(self, sender, host):
        with self._lock:
            self._hosts[sender] = host

    def remove(self, sender):
        """No post from `sender` after this returns."""
        with self._lock:
            self._hosts.pop(sender, None)

    def senders(self):
        with self._lock:
            return sorted(self._hosts)

    def _lines(self, sender, text, seq):
        line = post_line(self.function, self.name, text)
        if not self.timed:
            return [line]
        return ['? "@a %d " + QPC()' % seq, '? "@r %d", %s' % (seq, line[1:]),
                '? "@b %d " + QPC()' % seq]

    def _next(self, sender):
        seq = len(self.posts[sender])
        text = make_text(sender, seq, self.rng.randint(*self.sizes), self.rng)
        return seq, text

    def _post(self, sender, host):
        seq, text = self._next(sender)
        try:
            host.send(*self._lines(sender, text, seq))
        except HarnessError:
            self._hosts.pop(sender, None)
            return
        self.posts[sender].append(Post(sender, seq, text, time.monotonic()))

    def _run(self):
        period = 1.0 / self.rate
        due = time.monotonic()
        while not self._stop.is_set():
            with self._lock:
                for sender, host in sorted(self._hosts.items()):
                    if self.limit is None or len(self.posts[sender]) < self.limit:
                        self._post(sender, host)
                done = self.limit is not None and all(
                    len(self.posts[s]) >= self.limit for s in self._hosts)
            if done:
                return
            due += period
            delay = due - time.monotonic()
            if delay > 0:
                self._stop.wait(delay)
            else:
                due = time.monotonic()  # behind: go on from now, no catching up

    def start(self, limit=None):
        self.limit = limit
        self._stop.clear()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def wait(self, timeout):
        """Waits for a start(limit) run to finish."""
        self._thread.join(timeout)
        if self._thread.is_alive():
            raise HarnessError("poster did not finish within %ss" % timeout)

    def stop(self):
        self._stop.set()
        if self._thread is not None:
            self._thread.join()

    def burst(self, count):
        """`count` posts from every active sender, each host's lines written
        in one go (a thread per host, as a host reads its input only as fast
        as it runs it). Returns the new posts."""
        writers = []
        new = []
        with self._lock:
            for sender, host in sorted(self._hosts.items()):
                lines = []
                for _ in range(count):
                    seq, text = self._next(sender)
                    lines.extend(self._lines(sender, text, seq))
                    new.append(Post(sender, seq, text, time.monotonic()))
                    self.posts[sender].append(new[-1])
                writers.append(threading.Thread(target=host.send, args=lines, daemon=True))
        for w in writers:
            w.start()
        for w in writers:
            w.join()
        return new

    def all_posts(self):
        return [p for s in sorted(self.posts) for p in self.posts[s]]


def arrivals(host, proc, since=None):
    """(time read, argument list) of every run of handler `proc` in host's
    output, in order; only those read after `since` when given. A line of
    the procedure that does not parse gives None for its arguments."""
    prefix = ("DO %s(" % proc).upper()
    result = []
    for t, line in host.stdout.timed_snapshot():
        if (since is not None and t <= since) or line[:len(prefix)].upper() != prefix:
            continue
        m = DO_LINE.match(line)
        try:
            result.append((t, json.loads(m.group(2)) if m else None))
        except ValueError:
            result.append((t, None))
    return result


_CALL_LINE = re.compile(r"^@([arb]) (\d+) (.*)$")


def call_results(host):
    """For a timed poster's host: {seq: (returned, milliseconds)} of every
    call whose bracket lines have both come."""
    seen = {}
    for line in host.output():
        m = _CALL_LINE.match(line)
        if m:
            seen.setdefault(int(m.group(2)), {})[m.group(1)] = m.group(3)
    result = {}
    for seq, marks in seen.items():
        if "a" in marks and "b" in marks:
            result[seq] = ("r" in marks, (int(marks["b"]) - int(marks["a"])) / 1000.0)
    return result
