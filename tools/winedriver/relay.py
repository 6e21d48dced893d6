"""zanvor_relay.exe, one emulated machine's end of the emulated network."""

import json
import socket

from .config import DEFAULT_TIMEOUT, RELAY_EXE, START_TIMEOUT, HarnessError, scaled
from .lines import Lines, kill_process


ZANVOR_UDP_PORT = 38217


def free_udp_port():
    """A loopback UDP port that was free a moment ago (never the library's)."""
    while True:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        if port != ZANVOR_UDP_PORT:
            return port


class Relay:
    """zanvor_relay.exe of one machine, logging every datagram it handles.
    `peers` are (LAN address, port) pairs."""

    def __init__(self, machine, port, peers=(), twice=False):
        self.port = port
        args = [RELAY_EXE, "--port", str(port), "--verbose"]
        for address, peer_port in peers:
            args += ["--peer", "%s:%d" % (address, peer_port)]
        if twice:
            args.append("--twice")
        self.process = machine.popen(args)
        self.stdout = Lines(self.process.stdout, "stdout")
        self.stderr = Lines(self.process.stderr, "stderr")
        if not self.stdout.wait(lambda lines: any(l.startswith("RELAY READY") for l in lines),
                                scaled(START_TIMEOUT)):
            self.stop()
            raise HarnessError("relay on port %d did not start\n%s" % (port, self.describe()))

    def describe(self):
        return ("--- relay %d stdout ---\n%s\n--- stderr ---\n%s" %
                (self.port, "\n".join(self.stdout.snapshot()),
                 "\n".join(self.stderr.snapshot())))

    def records(self):
        """The relay's datagram log lines as dicts."""
        return self._parse(self.stdout.snapshot())

    @staticmethod
    def _parse(lines):
        return [json.loads(line[len("RELAY "):]) for line in lines if line.startswith("RELAY {")]

    def wait_for_records(self, count, timeout=DEFAULT_TIMEOUT):
        """Waits until the relay has logged `count` datagrams; returns the
        records."""
        if not self.stdout.wait(lambda lines: len(self._parse(lines)) >= count, scaled(timeout)):
            raise HarnessError("relay logged fewer than %d datagrams within %ss\n%s" %
                               (count, timeout, self.describe()))
        return self.records()

    def stop(self):
        kill_process(self.process)
