"""Lifetimes: the host keeps its link and the link its gateway; nothing a
session made outlives it."""

import gc
import weakref

import orbrix_cqg as cqg

from conftest import RecordingGateway, Session


def run_session(sim):
    s = Session(RecordingGateway())
    s.log_on_with_account()
    s.link.subscribe_quote("EP")
    sim.advance(2)
    ep = s.gateway.securities["EP"]
    s.link.place_order(cqg.Order(ep, cqg.OrderType.MARKET, cqg.Direction.LONG, 1))
    sim.advance(1)
    assert s.gateway.wait_for("deal")
    s.link.Logoff()
    s.close()


def test_full_sessions_in_a_loop_leave_nothing_behind(sim):
    run_session(sim)
    gc.collect()
    baseline = cqg._live_objects()
    for _ in range(3):
        run_session(sim)
    gc.collect()
    assert cqg._live_objects() == baseline == {"hosts": 0, "gateways": 0, "links": 0}


def test_the_gateway_lives_as_long_as_the_link_that_calls_it(sim):
    host = cqg.ApiHost(use_simulator=True)
    link = host.Init(cqg.BrokerLink)
    gateway = RecordingGateway()
    gateway.apiHost = host
    link.Init(gateway)
    calls = gateway.calls
    watch = weakref.ref(gateway)
    del gateway, link
    gc.collect()
    assert watch() is not None  # the host keeps the link, the link the gateway
    host.cqgCEL  # the host still answers
    sim.advance(0)
    del host
    gc.collect()
    assert watch() is None
    assert cqg._live_objects() == {"hosts": 0, "gateways": 0, "links": 0}
    assert calls == []


def test_a_host_dropped_without_shutdown_shuts_down(sim):
    s = Session(RecordingGateway())
    s.link.Logon("user", "secret")
    s.link.subscribe_quote("EP")
    sim.advance(1)
    del s
    gc.collect()
    assert cqg._live_objects() == {"hosts": 0, "gateways": 0, "links": 0}
