"""Short versions of the reliability scenarios (script/stress runs them at
full size): real host processes on one machine under load, faults while
loaded and hostile input. Each scenario checks every handler run against
the posts (one posted text, byte for byte, none twice, each sender's in
order), the liveness of every host and the scenario's own promise, and
reports what it found as problems; none may be found here."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import winedriver as wd  # noqa: E402
from winedriver import scenarios  # noqa: E402


class ReliabilityTest(wd.MachineTestCase):
    MACHINE = "reliability"

    def assertNoProblem(self, result):
        self.assertEqual(result.problems, [], "\n".join(result.lines()))

    def test_load_of_self_checking_posts_from_every_host(self):
        self.assertNoProblem(scenarios.load(self.machine, hosts=4, per_host=40, rate=20.0))

    def test_an_unpaced_burst_round_the_ring_drops_but_never_delivers_wrong(self):
        self.assertNoProblem(scenarios.burst(self.machine, hosts=4, per_host=60, size=300))

    def test_the_server_killed_mid_stream(self):
        self.assertNoProblem(scenarios.server_kill(self.machine, hosts=4, rate=10.0,
                                                   before=1.5, after=2.0))

    def test_hand_overs_in_a_row_by_kill_and_by_unload(self):
        self.assertNoProblem(scenarios.handovers(self.machine, hosts=4, count=4, rate=8.0,
                                                 pause=0.8))

    def test_a_foreign_holder_of_the_ring_mutex_blocks_no_call_past_its_wait(self):
        self.assertNoProblem(scenarios.mutex_hold(self.machine, hosts=3, rate=8.0,
                                                  hold_ms=1500, before=0.5, after=1.0))

    def test_a_stopped_subscriber_loses_only_what_the_ring_wrapped_over(self):
        self.assertNoProblem(scenarios.stopped_subscriber(
            self.machine, posters=3, rate=15.0, stop_s=2.5, before=1.0, after=1.5,
            sizes=(250, 300)))

    def test_hostile_texts_reach_the_handler_byte_for_byte(self):
        self.assertNoProblem(scenarios.hostile(self.machine))

    def test_junk_floods_on_both_paths_while_valid_posts_flow(self):
        self.assertNoProblem(scenarios.junk_flood(self.machine, junk=1000, junk_rate=2000,
                                                  posts=40, valid_rate=10.0))

    def test_a_udp_flood_leaves_the_host_its_timer_and_a_burst_on_both_paths_runs_once(self):
        self.assertNoProblem(scenarios.flood_and_burst(self.machine, junk=8000, junk_rate=4000,
                                                       burst=2000))


if __name__ == "__main__":
    unittest.main(verbosity=2)
