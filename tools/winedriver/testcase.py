"""The test case of the whole-system tests on one emulated machine."""

import unittest

from .config import FLL
from .machine import Machine
from .waits import exchange

_DEFAULT = object()


class MachineTestCase(unittest.TestCase):
    """A test on one emulated machine: a fresh wineserver per test, hosts
    started with start(), and all of them ended afterwards."""

    MACHINE = "machine"
    LIBRARY = FLL

    def setUp(self):
        self.machine = Machine(self.MACHINE, relay=False)
        self.addCleanup(self.machine.stop)
        self.hosts = self.machine.hosts

    def start(self, library=_DEFAULT, network=None, extra_args=()):
        """A host with LIBRARY loaded (or `library`; None loads nothing)."""
        return self.machine.host(self.LIBRARY if library is _DEFAULT else library,
                                 network=network, extra_args=extra_args)

    def exchange(self, *hosts):
        """exchange() among the given hosts, or among every running host of
        the test."""
        exchange(*(hosts or [h for h in self.hosts if h.process.poll() is None]))
