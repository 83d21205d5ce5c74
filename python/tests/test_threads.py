"""The GIL around the gateway: blocking operations release it, hooks take
it on the worker."""

import threading
import time

import orbrix_cqg as cqg


def test_a_python_thread_runs_while_subscribe_quote_waits(sim, session):
    sim.set_instrument_resolution(never=True)
    session.link.set_timeout(0.3)
    ticks = []
    stop = threading.Event()

    def spin():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.001)

    t = threading.Thread(target=spin)
    t.start()
    time.sleep(0.02)
    before = len(ticks)
    started = time.monotonic()
    session.link.subscribe_quote("EP")  # no answer: waits out the time-out
    waited = time.monotonic() - started
    during = len([x for x in ticks if started <= x <= started + waited])
    stop.set()
    t.join()
    assert before > 0 and during > 10
    (failure,) = session.gateway.records("failure")
    assert failure.error.startswith("no answer")


def test_hooks_run_while_the_engine_thread_waits_in_advance(sim, session):
    # advance() waits for the worker, whose hooks need the GIL this thread held.
    session.link.subscribe_quote("EP")
    sim.advance(3)
    assert session.gateway.records("quote")


def test_engine_threads_read_the_maps_while_the_worker_writes(sim, session):
    gw = session.gateway
    ep = gw.securities["EP"]
    session.link.subscribe_quote("EP")
    seen, stop = [], threading.Event()

    def read():
        while not stop.is_set():
            q = gw.cqg_quotes.get(ep)
            if q is not None:
                seen.append(q.bid_price)

    readers = [threading.Thread(target=read) for _ in range(2)]
    for r in readers:
        r.start()
    sim.advance(10)
    stop.set()
    for r in readers:
        r.join()
    assert seen
