"""Where the programs under test are, and how long a wait may take."""

import os
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("ZANVOR_BUILD", REPO / "build")).absolute()
HOST_EXE = Path(os.environ.get("ZANVOR_HOST", BUILD / "zanvor.exe"))
FLL = Path(os.environ.get("ZANVOR_FLL", BUILD / "zanvor.fll"))
FAKE_FLL = Path(os.environ.get("ZANVOR_FAKE_FLL", BUILD / "fake.fll"))
RELAY_EXE = Path(os.environ.get("ZANVOR_RELAY", BUILD / "zanvor_relay.exe"))
# The native build of the tool (preset native), run inside the LAN's namespaces.
NATIVE_TOOL = Path(os.environ.get("ZANVOR_NATIVE_TOOL", REPO / "build" / "native" / "zanvor"))
BENCH_EXE = Path(os.environ.get("ZANVOR_BENCH", BUILD / "zanvor_bench.exe"))
# Test apparatus beside zanvor.exe: the machine probes. (The network
# emulation, zanvor_netemu.dll, is loaded by zanvor.exe from its own folder.)
PROBE_EXE = Path(os.environ.get("ZANVOR_PROBE", BUILD / "zanvor_probe.exe"))
# The Wine prefix that every machine's prefix is copied from; one per
# checkout, whatever the build tree (hard links need the same file system).
TEMPLATE = Path(os.environ.get("ZANVOR_WINE_TEMPLATE",
                               REPO / "build" / "wine" / "template")).absolute()
WAIT_SCALE = float(os.environ.get("ZANVOR_WAIT_SCALE", "1"))

# Wine is slow to start a process (a second or more on a loaded machine);
# these bound every wait so that a hang fails instead of blocking the run.
DEFAULT_TIMEOUT = 30.0
START_TIMEOUT = 60.0
PREFIX_CREATE_TIMEOUT = 180.0
SERVER_STOP_TIMEOUT = 60.0


class HarnessError(AssertionError):
    """A wait that timed out or a process that misbehaved; the message shows
    the output seen so far."""


def scaled(seconds):
    return seconds * WAIT_SCALE


def windows_path(path):
    """The Windows name of a Linux path (Wine maps / to drive Z:)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")
