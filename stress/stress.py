"""The reliability run of zanvor.fll with real host processes under Wine:
load, an unpaced burst, faults while loaded (the server killed, hand-overs
in a row, a foreign holder of the ring's mutex, a stopped subscriber),
hostile texts, junk floods, a UDP flood against the host's own timer with
a sustained burst on both paths, and a soak. Figures only: it judges no
timing but the host's own timer and posted message under a flood, and it
lists every duplicate, damaged, foreign or reordered delivery, every loss no
hand-over explains, every host that died and every broken invariant as a
PROBLEM, and exits 1 when there was one.

The scenarios live in tools/winedriver/scenarios.py; the whole-system tests
(tests/wine/test_reliability.py) run short versions of the same code.

Usage: stress.py [--soak-minutes M] [--only NAME ...]
  --soak-minutes  length of the soak (default $ZANVOR_SOAK_MINUTES or 10; 0 skips it)
  --only          run only these scenarios (load, burst, server_kill,
                  handovers, mutex_hold, stopped, hostile, junk, floods, soak)
Environment: as for the whole-system tests (ZANVOR_BUILD, ZANVOR_FLL,
ZANVOR_HOST, ZANVOR_BENCH).
"""

import argparse
import os
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
import winedriver as wd  # noqa: E402
from winedriver import scenarios  # noqa: E402


def say(text=""):
    print(text, flush=True)


def plan(soak_minutes):
    steps = [
        ("load", lambda m: scenarios.load(m, hosts=8, per_host=1000, rate=10.0)),
        ("burst", lambda m: scenarios.burst(m, hosts=8, per_host=200, size=300)),
        ("server_kill", lambda m: scenarios.server_kill(m, hosts=8, rate=10.0, before=5.0,
                                                        after=10.0)),
        ("handovers", lambda m: scenarios.handovers(m, hosts=8, count=6, rate=8.0, pause=2.0)),
        ("mutex_hold", lambda m: scenarios.mutex_hold(m, hosts=8, rate=8.0, hold_ms=3000)),
        ("stopped", lambda m: scenarios.stopped_subscriber(m, posters=7, rate=8.0, stop_s=5.0)),
        ("hostile", scenarios.hostile),
        ("junk", lambda m: scenarios.junk_flood(m, junk=5000, junk_rate=1000, posts=200,
                                                valid_rate=10.0)),
        ("junk", lambda m: scenarios.junk_flood(m, junk=20000, junk_rate=4000, posts=300,
                                                valid_rate=10.0, seed=18)),
        ("floods", lambda m: scenarios.flood_and_burst(m, junk=20000, junk_rate=4000,
                                                       burst=3000)),
    ]
    if soak_minutes > 0:
        steps.append(("soak", lambda m: scenarios.soak(m, minutes=soak_minutes, progress=say)))
    return steps


def main(argv):
    parser = argparse.ArgumentParser(prog="stress.py")
    parser.add_argument("--soak-minutes", type=float,
                        default=float(os.environ.get("ZANVOR_SOAK_MINUTES", "10")))
    parser.add_argument("--only", nargs="*", default=None)
    args = parser.parse_args(argv)
    say("zanvor.fll: %s" % wd.FLL)
    say("zanvor_bench.exe: %s" % wd.BENCH_EXE)
    say("load average at the start: %.2f %.2f %.2f" % os.getloadavg())
    say()
    started = time.monotonic()
    problems = 0
    for name, step in plan(args.soak_minutes):
        if args.only is not None and name not in args.only:
            continue
        machine = wd.Machine("stress", relay=False)
        began = time.monotonic()
        try:
            result = step(machine)
        except (wd.HarnessError, OSError) as e:
            result = scenarios.Result(name)
            result.problem("the scenario could not run to its end: %s" % e)
        finally:
            machine.stop()
        for line in result.lines():
            say(line)
        say("  (%.0f s)" % (time.monotonic() - began))
        say()
        problems += len(result.problems)
    say("load average at the end: %.2f %.2f %.2f" % os.getloadavg())
    say("stress: %d problems, %.1f min" % (problems, (time.monotonic() - started) / 60))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
