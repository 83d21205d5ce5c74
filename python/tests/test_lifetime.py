"""Lifetimes: the host keeps its link and the link its gateway, in ways the
garbage collector sees; nothing a session made outlives it."""

import gc
import weakref

import orbrix_cqg as cqg

from conftest import RecordingGateway, Session, run_script


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


def test_shutdown_lets_the_gateway_go_while_the_link_is_still_held(sim):
    s = Session(RecordingGateway())
    s.link.Logon("user", "secret")
    link, watch = s.link, weakref.ref(s.gateway)
    s.close()
    del s
    assert watch() is None  # without waiting for the collector
    try:
        link.Logon("user", "secret")
        raise AssertionError("a link whose host is shut down logged on")
    except cqg.DisconnectedError:
        pass


def test_cycles_through_the_engine_are_collected():
    # 50 sessions whose gateway keeps its host (a cycle host -> link ->
    # gateway -> host), on the wall clock, subscribed: the collector stops
    # every worker and frees everything.
    status, out, err = run_script("""
        import gc, os

        class Keeper(Gateway):
            def __init__(self, host):
                super().__init__()
                self.host = host

        def threads():
            return len(os.listdir("/proc/self/task"))

        before = threads()
        for _ in range(50):
            host = cqg.ApiHost(use_simulator=True)
            link = host.Init(cqg.BrokerLink)
            gateway = Keeper(host)
            gateway.apiHost = host
            link.Init(gateway)
            link.Logon("user", "secret")
            link.subscribe_quote("EP")
            del host, link, gateway
        gc.collect()
        print("left", cqg._live_objects(), threads() - before)
    """)
    assert status == 0, err
    assert "left {'gateways': 0, 'hosts': 0, 'links': 0} 0" in out


def test_an_engine_script_keeps_the_lines_it_wrote_at_exit(tmp_path):
    # The usual shape: the class at module level (its globals hold host and
    # link), fills written to a file never closed, Logoff and Shutdown at
    # the end. The file is flushed when the interpreter frees it at exit.
    fills = tmp_path / "fills.txt"
    status, out, err = run_script("""
        import sys, time

        class Engine(Gateway):
            def process_deal(self, deal):
                self.out.write(f"deal {deal['deal_id']}\\n")

        gateway = Engine()
        gateway.out = open(sys.argv[1], "w")
        host = cqg.ApiHost(use_simulator=True)
        link = host.Init(cqg.BrokerLink)
        gateway.apiHost = host
        link.Init(gateway)
        link.set_account_reload_pause(0.01)
        link.Logon("user", "secret")
        link.subscribe_account_and_positions(100001)
        link.subscribe_quote("EP")
        for _ in range(3):
            link.place_order(cqg.Order(gateway.ep, cqg.OrderType.MARKET, cqg.Direction.LONG, 1))
            time.sleep(0.3)
        link.Logoff()
        host.Shutdown()
    """, fills)
    assert status == 0, err
    assert fills.read_text().count("deal ") == 3
