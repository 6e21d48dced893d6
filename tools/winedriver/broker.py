"""A real MQTT broker for the gateway's tests: Debian's mosquitto, started
inside a namespace of ours with a configuration written here, and its
command-line clients (mosquitto_pub, mosquitto_sub) as the "other systems"
that talk to FoxPro through a gateway.

The broker gets a password file made by mosquitto_passwd, an ACL that lets
only the gateways and the named service write under the prefix, and a TLS
listener whose certificates openssl makes in the test's own directory. It
logs every packet (log_type all) to a file: the tests count what reached the
broker, and whom it accepted, from there, whatever the gateway prints.
"""

import atexit
import json
import re
import secrets
import signal
import subprocess
import time
from pathlib import Path

from .config import DEFAULT_TIMEOUT, START_TIMEOUT, HarnessError, scaled
from .lines import Watched

PLAIN_PORT = 1883
TLS_PORT = 8883
PREFIX = "zanvor/"

# Who may do what under the prefix. The gateways of each site and one named
# service write; the watcher only reads; the stranger may log in and nothing
# else, so a publication of its under the prefix is dropped by the broker.
WRITERS = ("site-a", "site-b", "service")
READERS = ("watcher",)
USERS = WRITERS + READERS + ("stranger",)

_RECEIVED = re.compile(r"^\d+: Received PUBLISH from (\S+) \(d\d, q\d, r\d, m\d+, '(.*)', "
                       r"\.\.\. \((\d+) bytes\)\)$")
_CONNECTED = re.compile(r"^\d+: New client connected from \S+ as (\S+) ")
_SUBACK = re.compile(r"^\d+: Sending SUBACK to (\S+)$")
_SUBSCRIBED = re.compile(r"^\d+: (\S+) \d (\S+)$")


# Brokers still running when the run ends (also on SIGTERM, which netns turns
# into an exit): they live in sessions of their own and would outlive it.
_running = set()


def _stop_all():
    for broker in list(_running):
        broker.stop(timeout=10)


atexit.register(_stop_all)


def _run(argv, what, cwd=None, timeout=DEFAULT_TIMEOUT, **kwargs):
    result = subprocess.run([str(a) for a in argv], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd,
                            timeout=scaled(timeout), **kwargs)
    if result.returncode != 0:
        raise HarnessError("%s failed (%d): %s" % (what, result.returncode,
                                                   result.stderr.decode(errors="replace")))
    return result


def make_certificates(directory, address):
    """A CA, a server certificate for `address` (an IP SAN) signed by it, and
    a second CA that signed nothing here (the wrong one). Returns a dict of
    paths: ca, server_cert, server_key, wrong_ca."""
    d = Path(directory)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    for name, subject in (("ca", "/CN=Zanvor test CA"), ("wrong-ca", "/CN=Someone else's CA")):
        _run(["openssl", "req", "-x509"] + ec + ["-keyout", d / (name + ".key"),
                                                 "-out", d / (name + ".crt"), "-days", "2",
                                                 "-subj", subject], "openssl req (%s)" % name)
    _run(["openssl", "req"] + ec + ["-keyout", d / "server.key", "-out", d / "server.csr",
                                    "-subj", "/CN=" + address], "openssl req (server)")
    (d / "server.ext").write_text("subjectAltName=IP:%s\nextendedKeyUsage=serverAuth\n" % address)
    _run(["openssl", "x509", "-req", "-in", d / "server.csr", "-CA", d / "ca.crt",
          "-CAkey", d / "ca.key", "-CAcreateserial", "-out", d / "server.crt", "-days", "2",
          "-extfile", d / "server.ext"], "openssl x509 (server)")
    for key in ("ca.key", "wrong-ca.key", "server.key"):
        (d / key).chmod(0o600)
    return {"ca": d / "ca.crt", "server_cert": d / "server.crt", "server_key": d / "server.key",
            "wrong_ca": d / "wrong-ca.crt"}


class Broker:
    """mosquitto in `namespace`, listening on every address there: plain MQTT
    on PLAIN_PORT and, with tls=True, TLS on TLS_PORT. `address` is where
    clients reach it. Files live in `directory` (the test's own). start()
    waits until it runs; stop() ends it (killed if SIGTERM does not)."""

    def __init__(self, namespace, directory, address, tls=True):
        self.namespace = namespace
        self.directory = Path(directory)
        self.address = address
        self.passwords = {user: secrets.token_hex(8) for user in USERS}
        self.process = None
        self._log = None
        self.log_path = self.directory / "mosquitto.log"
        password_file = self.directory / "passwd"
        password_file.write_text("")
        for user, password in self.passwords.items():
            _run(["mosquitto_passwd", "-b", password_file, user, password],
                 "mosquitto_passwd for " + user)
        acl = ["# Only the gateways and the named service write under the prefix."]
        for user in WRITERS:
            acl += ["user " + user, "topic readwrite %s#" % PREFIX]
        for user in READERS:
            acl += ["user " + user, "topic read %s#" % PREFIX]
        (self.directory / "acl").write_text("\n".join(acl) + "\n")
        self.certificates = make_certificates(self.directory, address) if tls else None
        config = [
            "per_listener_settings false",
            "allow_anonymous false",
            "password_file %s" % password_file,
            "acl_file %s" % (self.directory / "acl"),
            "persistence false",
            # The test runs as root and its files are private to it: stay root.
            "user root",
            "log_dest stderr",
            "log_type all",
            # A QoS 0 message for a client whose outgoing queue is full is
            # dropped by the broker, silently to both ends. The default of
            # 1000 would blur what a flood test counts at the gateway.
            "max_queued_messages 100000",
            "listener %d" % PLAIN_PORT,
        ]
        if tls:
            config += ["listener %d" % TLS_PORT,
                       "cafile %s" % self.certificates["ca"],
                       "certfile %s" % self.certificates["server_cert"],
                       "keyfile %s" % self.certificates["server_key"]]
        self.config_path = self.directory / "mosquitto.conf"
        self.config_path.write_text("\n".join(config) + "\n")

    # ---- the process ------------------------------------------------------

    def start(self, timeout=START_TIMEOUT):
        if self.running():
            raise HarnessError("the broker is already running")
        start_line = len(self.log_lines())
        self._log = open(self.log_path, "ab")
        self.process = subprocess.Popen(self.namespace.wrap(["mosquitto", "-c", self.config_path]),
                                        stdin=subprocess.DEVNULL, stdout=self._log,
                                        stderr=self._log, start_new_session=True)
        _running.add(self)
        if not self.wait_log(lambda line: re.match(r"^\d+: mosquitto version \S+ running$", line),
                             timeout, since=start_line):
            self.stop()
            raise HarnessError("mosquitto did not start within %ss\n%s" %
                               (timeout, self.describe()))
        return self

    def running(self):
        return self.process is not None and self.process.poll() is None

    def stop(self, timeout=DEFAULT_TIMEOUT):
        """Ends the broker (SIGTERM, then SIGKILL when it hangs); returns its
        exit code, or None when it was not running."""
        if self.process is None:
            return None
        code = self.process.poll()
        if code is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                code = self.process.wait(scaled(timeout))
            except subprocess.TimeoutExpired:
                self.process.kill()
                code = self.process.wait(scaled(30))
        self.process = None
        _running.discard(self)
        if self._log is not None:
            self._log.close()
            self._log = None
        return code

    # ---- what it logged ---------------------------------------------------

    def log_lines(self):
        try:
            return self.log_path.read_bytes().decode("utf-8", "replace").splitlines()
        except FileNotFoundError:
            return []

    def describe(self, last=60):
        return "--- mosquitto log (last %d lines) ---\n%s" % (
            last, "\n".join(self.log_lines()[-last:]))

    def wait_log(self, predicate, timeout=DEFAULT_TIMEOUT, since=0):
        """Waits until predicate(line) is true for a log line from index
        `since` on; returns that line, or None at the timeout."""
        deadline = time.monotonic() + scaled(timeout)
        while True:
            for line in self.log_lines()[since:]:
                if predicate(line):
                    return line
            if time.monotonic() > deadline:
                return None
            time.sleep(0.05)

    def received(self, since=0):
        """Every PUBLISH the broker received from index `since` on, as
        (client id, topic, payload length)."""
        result = []
        for line in self.log_lines()[since:]:
            m = _RECEIVED.match(line)
            if m:
                result.append((m.group(1), m.group(2), int(m.group(3))))
        return result

    def connections(self, client_id, since=0):
        """How often the broker accepted a client with this id."""
        return sum(1 for line in self.log_lines()[since:]
                   if (_CONNECTED.match(line) or [None, None])[1] == client_id)

    def subscriptions(self, client_id):
        """The topic filters that a client with this id subscribed."""
        return [m.group(2) for m in map(_SUBSCRIBED.match, self.log_lines())
                if m and m.group(1) == client_id]

    def wait_subscribed(self, client_id, timeout=DEFAULT_TIMEOUT, since=0):
        """Waits until the broker acknowledged a subscription of `client_id`
        (from log line `since` on)."""
        line = self.wait_log(lambda l: (_SUBACK.match(l) or [None, None])[1] == client_id,
                             timeout, since)
        if line is None:
            raise HarnessError("the broker acknowledged no subscription of %s within %ss\n%s" %
                               (client_id, timeout, self.describe()))

    # ---- for clients ------------------------------------------------------

    def url(self, tls=False, address=None):
        return "%s://%s:%d" % ("mqtts" if tls else "mqtt", address or self.address,
                               TLS_PORT if tls else PLAIN_PORT)

    def password_file(self, user, password=None):
        """A file holding the user's password (or `password`) on its first
        line, as the gateway's --password-file reads it."""
        path = self.directory / ("%s.password" % user if password is None else "wrong.password")
        path.write_text((self.passwords[user] if password is None else password) + "\n")
        path.chmod(0o600)
        return path

    def client_args(self, user, tls=False):
        args = ["-h", self.address, "-p", str(TLS_PORT if tls else PLAIN_PORT), "-V", "mqttv5",
                "-u", user, "-P", self.passwords[user]]
        if tls:
            args += ["--cafile", self.certificates["ca"]]
        return args

    def publish(self, namespace, topic, message=b"", user="service", zanvor_id=None,
                lines=False, tls=False, timeout=DEFAULT_TIMEOUT):
        """mosquitto_pub in `namespace`: one message (bytes or str, UTF-8),
        or with lines=True one message per line of `message`; with the
        zanvor-id user property when given."""
        if isinstance(message, str):
            message = message.encode("utf-8")
        args = ["mosquitto_pub"] + self.client_args(user, tls) + ["-t", topic,
                                                                   "-l" if lines else "-s"]
        if zanvor_id is not None:
            args += ["-D", "publish", "user-property", "zanvor-id", zanvor_id]
        result = namespace.run([str(a) for a in args], input=message, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, timeout=scaled(timeout))
        if result.returncode != 0:
            raise HarnessError("mosquitto_pub -t %s failed (%d): %s" %
                               (topic, result.returncode, result.stderr.decode(errors="replace")))
        return result

    def flood(self, namespace, topic, message, count, seconds, user="service", zanvor_id=None,
              timeout=DEFAULT_TIMEOUT):
        """One mosquitto_pub -l in `namespace` that publishes `message`
        (str, one line) `count` times, spread evenly over `seconds`: a
        steady rate, not one burst that only tests the broker's queues."""
        args = ["mosquitto_pub"] + self.client_args(user) + ["-t", topic, "-l"]
        if zanvor_id is not None:
            args += ["-D", "publish", "user-property", "zanvor-id", zanvor_id]
        process = subprocess.Popen(namespace.wrap([str(a) for a in args]), stdin=subprocess.PIPE,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        line = (message + "\n").encode("utf-8")
        slices = 100
        started = time.monotonic()
        try:
            for i in range(slices):
                process.stdin.write(line * (count * (i + 1) // slices - count * i // slices))
                process.stdin.flush()
                time.sleep(max(0.0, started + seconds * (i + 1) / slices - time.monotonic()))
            process.stdin.close()
            code = process.wait(scaled(timeout))
        except BaseException:
            process.kill()
            process.wait()
            raise
        took = time.monotonic() - started
        error = process.stderr.read().decode(errors="replace")
        process.stderr.close()
        if code != 0:
            raise HarnessError("mosquitto_pub -l -t %s failed (%d): %s" % (topic, code, error))
        return took

    def watch(self, namespace, topic=PREFIX + "#", user="watcher", client_id="watcher"):
        """mosquitto_sub in `namespace`, one JSON object per message (with
        its user properties); returns once the broker has acknowledged the
        subscription."""
        since = len(self.log_lines())
        args = ["mosquitto_sub"] + self.client_args(user) + ["-i", client_id, "-t", topic,
                                                             "-F", "%j"]
        watcher = Watcher(subprocess.Popen(namespace.wrap(args), stdin=subprocess.PIPE,
                                           stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                           start_new_session=True))
        try:
            self.wait_subscribed(client_id, since=since)
        except HarnessError:
            watcher.kill()
            raise
        return watcher


class Watcher(Watched):
    """A running mosquitto_sub -F %j: every message it saw, as a dict with
    topic, payload (str, decoded as UTF-8) and zanvor_id (or None)."""

    def messages(self):
        result = []
        for line in self.output():
            m = json.loads(line.encode("latin-1").decode("utf-8", "replace"))
            properties = m.get("properties", {}).get("user-properties", {})
            result.append({"topic": m["topic"], "payload": m.get("payload", ""),
                           "zanvor_id": properties.get("zanvor-id")})
        return result

    def wait_messages(self, predicate, count=1, timeout=DEFAULT_TIMEOUT):
        """Waits until `count` messages match predicate(message); returns
        them."""
        def enough(_lines):
            found = [m for m in self.messages() if predicate(m)]
            return found if len(found) >= count else None

        found = self.stdout.wait(enough, scaled(timeout))
        if found is None:
            raise HarnessError("mosquitto_sub saw %d matching messages, wanted %d\n%s" %
                               (len([m for m in self.messages() if predicate(m)]), count,
                                "\n".join(self.output()[-20:])))
        return found
