"""Waits on what a test observes, instead of pauses.

Two facts make them exact. A host drains its window-message queue after
every script line, so a sync() returns only after the host has dispatched
every message posted to it before (see Host.sync). And a server instance
reads its mailslot in arrival order and posts its deliveries to each
subscriber's window in that order, so a subscriber whose handler has run for
a later datagram has already run whatever an earlier one gave it.
"""

import itertools

from .config import DEFAULT_TIMEOUT

# Passes of exchange(): each carries every message posted before it one hop
# further. The longest exchange of the instance protocol is the hand-over:
# ServerLeaving, the loser's ServerQuery, the winner's ServerReply, the
# loser's re-registration.
EXCHANGE_ROUNDS = 4

BARRIER_NAME = "zz_barrier"
BARRIER_PROC = "OnBarrier"


def exchange(*hosts, rounds=EXCHANGE_ROUNDS):
    """Lets the window messages between these hosts (posts, replies, the
    messages those set off) run out: `rounds` passes of sync() over every
    host, in order."""
    for _ in range(rounds):
        for host in hosts:
            host.sync()


_barriers = itertools.count(1)


def subscribe_barrier(*hosts):
    """Subscribes each host to the barrier name (once, before the posts that
    network_barrier() is to close off; an exchange() must follow so that the
    servers know the names)."""
    for host in hosts:
        host.send('=SUBSCRIBE("%s", "DO %s WITH <Msg>")' % (BARRIER_NAME, BARRIER_PROC))


def network_barrier(poster, *receivers, timeout=DEFAULT_TIMEOUT):
    """Posts one ZANVOR under the barrier name after everything the poster
    posted before, and waits until every receiver's handler ran for it. By
    then each receiver has run every handler that the poster's earlier
    datagrams gave it, duplicates included: a second delivery that did not
    show up before the barrier does not come at all."""
    number = str(next(_barriers))
    poster.send('=ZANVOR("%s", "%s")' % (BARRIER_NAME, number))
    for host in receivers:
        host.wait_call_with(BARRIER_PROC, [number], timeout)
