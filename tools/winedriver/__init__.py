"""Drives zanvor.exe and zanvor_relay.exe under Wine: the whole-system
tests, the demo and the benchmarks all use this package (standard library
only). Hosts are "zanvor.exe run"; the tool's other verbs run as Tool
processes, the native tool among them.

Environment:
  ZANVOR_BUILD     the i686 build tree (default: <repo>/build)
  ZANVOR_HOST      zanvor.exe (default: $ZANVOR_BUILD/zanvor.exe)
  ZANVOR_NATIVE_TOOL  the native zanvor (default: <repo>/build/native/zanvor)
  ZANVOR_FLL       zanvor.fll (default: $ZANVOR_BUILD/zanvor.fll)
  ZANVOR_FAKE_FLL  fake.fll, the host's test library
  ZANVOR_RELAY     zanvor_relay.exe
  ZANVOR_BENCH     zanvor_bench.exe (its junk floods)
  ZANVOR_PROBE     zanvor_probe.exe (the machine probes)
  ZANVOR_WAIT_SCALE  multiplies every timeout (slow machines)
  ZANVOR_WINE_TEMPLATE  the template Wine prefix that every machine's prefix
                   is copied from (default: <repo>/build/wine/template)
"""

from . import broker, netns, sites
from .config import (BENCH_EXE, BUILD, DEFAULT_TIMEOUT, FAKE_FLL, FLL, HOST_EXE, NATIVE_TOOL,
                     PROBE_EXE, RELAY_EXE, REPO, START_TIMEOUT, HarnessError, scaled, windows_path)
from .gateway import Gateway, gateway_missing, run_gateway
from .host import SYNC_PREFIX, Host, wait_calls
from .lines import Lines, kill_process
from .machine import Machine
from .prefix import Prefix
from .relay import Relay, free_udp_port
from .testcase import MachineTestCase
from .tool import Tool, native_tool, run_native_tool
from .waits import BARRIER_PROC, exchange, network_barrier, subscribe_barrier

__all__ = [
    "BARRIER_PROC", "BENCH_EXE", "BUILD", "DEFAULT_TIMEOUT", "FAKE_FLL", "FLL", "Gateway",
    "HOST_EXE", "NATIVE_TOOL", "PROBE_EXE", "RELAY_EXE", "REPO", "START_TIMEOUT", "SYNC_PREFIX",
    "HarnessError", "Host", "Lines", "Machine", "MachineTestCase", "Prefix", "Relay", "Tool",
    "broker", "exchange", "free_udp_port", "gateway_missing", "kill_process", "native_tool",
    "netns", "network_barrier", "run_gateway", "run_native_tool", "scaled", "sites",
    "subscribe_barrier", "wait_calls", "windows_path",
]
