"""C++ errors as Python's, and Python errors raised in hooks."""

import datetime as dt
import math
import pickle
import threading
import time

import pytest

import orbrix_cqg as cqg

from conftest import Session


def test_invalid_values_type_errors_and_missing_keys(session):
    link, gw = session.link, session.gateway
    with pytest.raises(ValueError, match="1Min"):
        link.subscribe_bar("EP", 20, "5Sec")
    with pytest.raises(KeyError):
        gw.cqg_quotes[cqg.Futures(code="NQ", security_name="n")]
    with pytest.raises(TypeError):
        session.host.cqgCEL.put("APIConfiguration", [1, 2])
    with pytest.raises(TypeError):
        link.place_order("EP")


def test_an_engine_hook_error_comes_back_as_its_own_kind(session):
    session.log_on_with_account()
    unknown = cqg.Futures(code="NQ", security_name="n")
    # get_cqg_symbol_from_eng_security raises KeyError for it.
    with pytest.raises(KeyError, match="no vendor symbol"):
        session.link.place_order(cqg.Order(unknown, cqg.OrderType.MARKET, cqg.Direction.LONG, 1))


def test_time_outs_and_misuse_are_runtime_errors(sim, session):
    sim.set_gateway(never=True)
    session.link.set_timeout(0.05)
    with pytest.raises(RuntimeError, match="GW connection timeout!"):
        session.link.Logon("user", "secret")
    with pytest.raises(RuntimeError):
        session.host.Init(cqg.BrokerLink)  # a host starts once
    with pytest.raises(TypeError):
        cqg.ApiHost().Init(object)


def test_operations_after_shutdown_raise_disconnected(session):
    session.host.Shutdown()
    with pytest.raises(cqg.DisconnectedError) as raised:
        session.link.Logon("user", "secret")
    assert isinstance(raised.value, ConnectionError)


def test_a_raising_hook_is_shown_once_with_its_traceback_then_counted(sim, session, capfd):
    gw = session.gateway
    original = gw.process_quote
    raised = []

    def flaky(quote):
        if len(raised) < 3:
            raised.append(quote)
            raise ValueError("engine failed on a quote")
        original(quote)

    gw.process_quote = flaky
    session.link.subscribe_quote("EP")
    sim.advance(10)
    assert len(raised) == 3 and gw.records("quote")  # the pump went on
    assert gw.hook_errors == {"process_quote": 3}
    out = capfd.readouterr().out
    assert out.count("ValueError: engine failed on a quote") == 1
    assert "Traceback (most recent call last)" in out and "in flaky" in out


def test_an_order_hook_that_raises_costs_no_deal(session, sim):
    # A common engine bug: process_order fails on an order id it does not
    # know; the fill of the same event still reaches process_deal.
    gw = session.gateway
    session.log_on_with_account()
    session.link.subscribe_quote("EP")
    sim.advance(2)

    def unknown_order(update):
        raise KeyError(update.order_id)

    gw.process_order = unknown_order
    session.link.place_order(cqg.Order(gw.securities["EP"], cqg.OrderType.MARKET,
                                       cqg.Direction.LONG, 1))
    sim.advance(1)
    assert gw.wait_for("deal")
    assert gw.hook_errors["process_order"] >= 1


def test_durations_are_checked_where_they_enter(session):
    link = session.link
    for bad in (float("nan"), -1.0):
        with pytest.raises(ValueError, match="set_timeout"):
            link.set_timeout(bad)
        with pytest.raises(ValueError, match="set_account_reload_pause"):
            link.set_account_reload_pause(bad)
    for unbounded in (math.inf, 1e300):
        link.set_timeout(unbounded)
        assert link.timeout == math.inf
    with pytest.raises(ValueError, match="set_account_reload_pause"):
        link.set_account_reload_pause(math.inf)
    link.set_timeout(2.5)
    assert link.timeout == 2.5
    with pytest.raises(ValueError, match="startup_timeout"):
        cqg.ApiHost(startup_timeout=float("nan"))
    with pytest.raises(ValueError, match="NaN"):
        link.eventGatewayIsUp.wait(float("nan"))


def test_an_unlimited_time_out_waits_for_the_answer(sim, session):
    sim.set_gateway(delay=0.3)
    session.link.set_timeout(math.inf)
    done = threading.Thread(target=session.link.Logon, args=("user", "secret"))
    done.start()
    time.sleep(0.05)
    sim.advance(0.3)
    done.join(5)
    assert not done.is_alive() and session.link.gateway_connected


def test_an_order_before_an_account_or_to_a_missing_history_says_why(session, tmp_path):
    session.link.Logon("user", "secret")
    session.link.subscribe_quote("EP")
    ep = session.gateway.securities["EP"]
    with pytest.raises(RuntimeError, match="no account is selected"):
        session.link.place_order(cqg.Order(ep, cqg.OrderType.MARKET, cqg.Direction.LONG, 1))
    missing = tmp_path / "ep.csv"
    with pytest.raises(FileNotFoundError) as raised:
        cqg.run_backtest(object(), [("EP", str(missing))])
    assert raised.value.filename == str(missing)


def test_every_record_pickles_as_itself():
    ep = cqg.Futures(code="EP", security_name="e")
    t = dt.datetime(2026, 12, 1, 9, 30)
    order = cqg.Order(ep, cqg.OrderType.STOP, cqg.Direction.SHORT, 2, price=0, stop_price=5999.75)
    order.order_id, order.status = "id-1", cqg.OrderStatus.SUBMITTED
    balance = cqg.AccountBalance()
    balance.cash, balance.cash_by_currency = 100.5, {"USD": 100.5}
    records = [
        order, balance,
        cqg.Quote(security=ep, datetime=t, bid_price=6000.0, ask_price=6000.25),
        cqg.OrderBook(security=ep, datetime=t, bid_price_1=1.0, bid_volume_1=3),
        cqg.Bar(datetime=t, security=ep, open=1, high=2, low=0.5, close=1.5, volume=10),
        cqg.PositionData(security=ep, direction=cqg.Direction.SHORT, quantity=2, update_time=t),
        cqg.OrderUpdate(order_id="id-1", updated_time=t, status=cqg.OrderStatus.FILLED),
        cqg.Deal(deal_id="7", order_id="id-1", updated_time=t, filled_quantity=2),
        cqg.ConnectionEvent(state=cqg.ConnectionEvent.State.reconnecting, attempt=2),
        cqg.SubscriptionFailure(kind=cqg.SubscriptionFailure.Kind.bars, symbol="EP", error="x"),
    ]
    for record in records:
        copy = pickle.loads(pickle.dumps(record))
        assert type(copy) is type(record) and copy == record and repr(copy) == repr(record)
    assert type(pickle.loads(pickle.dumps(order)).security) is cqg.Futures


def test_a_hook_the_engine_did_not_write_is_traced(sim, capfd):
    ep = cqg.Futures(code="EP", security_name="EP front month")

    class Partial(cqg.BaseGateway):
        def get_eng_security_from_cqg_symbol(self, cqg_symbol):
            return ep

        def get_cqg_symbol_from_eng_security(self, security):
            return "EP"

    session = Session(Partial())
    try:
        session.gateway.cqg_quotes[ep] = None
        session.link.subscribe_quote("EP")
        sim.advance(2)
        assert session.gateway.cqg_quotes[ep] is not None  # stored before the hook
    finally:
        session.close()
    assert "the gateway does not implement process_quote" in capfd.readouterr().out


def test_traced_lines_go_to_logging_when_asked(sim, session, caplog, capfd):
    caplog.set_level("INFO", logger="orbrix")
    cqg.trace_to_logging()
    try:
        session.link.subscribe_quote("EP")
        cqg.Trace("a line of the engine's own")
    finally:
        cqg.set_trace_sink(None)
    messages = [r.getMessage() for r in caplog.records if r.name == "orbrix"]
    assert any("subscribe_quote(EP)" in m for m in messages)
    assert any(m.endswith(": a line of the engine's own") for m in messages)
    assert "subscribe_quote(EP)" not in capfd.readouterr().out
    cqg.Trace("back on standard output")
    assert "back on standard output" in capfd.readouterr().out
