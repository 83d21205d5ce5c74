"""Pre-trade risk set from Python over the simulator: refusals name their
limit and send nothing, a burst over the rate is partly refused, the
trading states gate orders, and the engine's hook hears each change."""

import pytest

import orbrix_cqg as cqg

from conftest import RecordingGateway, Session


class StateGateway(RecordingGateway):
    def process_trading_state(self, change):
        self._record("state", change)


@pytest.fixture
def risk_session(sim):
    session = Session(StateGateway())
    session.log_on_with_account()
    session.link.subscribe_quote("EP")
    sim.advance(2)
    yield session.gateway, session.link
    session.close()


def test_risk_limits_keywords_compare_and_refuse_bad_values():
    limits = cqg.RiskLimits(max_order_qty=100, max_order_qty_by_symbol={"ZN": 5},
                            max_orders_per_second=3.5, allow_orders_without_quote=True)
    assert limits.max_order_qty == 100 and limits.max_order_qty_by_symbol == {"ZN": 5}
    assert limits.max_position is None and limits.max_daily_loss is None
    assert limits != cqg.RiskLimits()
    with pytest.raises(ValueError, match="max_order_qty"):
        cqg.RiskLimits(max_order_qty=0)


def test_an_order_over_the_quantity_limit_raises_and_reaches_no_vendor_call(sim, risk_session):
    gw, link = risk_session
    ep = gw.securities["EP"]
    link.set_risk_limits(cqg.RiskLimits(max_order_qty=100))
    assert link.risk_limits().max_order_qty == 100
    # Armed: the next order that reaches the venue is rejected there.
    sim.reject_next_order("reached the venue")
    with pytest.raises(ValueError, match="^order refused: quantity 500 exceeds the limit of 100 for EP$"):
        link.place_order(cqg.Order(ep, cqg.OrderType.MARKET, cqg.Direction.LONG, 500))
    # The refused order never got there: the armed rejection is still waiting.
    placed = link.place_order(cqg.Order(ep, cqg.OrderType.MARKET, cqg.Direction.LONG, 1))
    sim.advance(1)
    assert gw.wait_for("order")
    assert [u.status for u in gw.records("order") if u.order_id == placed][-1] == cqg.OrderStatus.FAILED


def test_a_burst_above_the_rate_is_partly_refused(risk_session):
    gw, link = risk_session
    ep = gw.securities["EP"]
    link.set_risk_limits(cqg.RiskLimits(max_orders_per_second=3))
    placed, refused = 0, 0
    for _ in range(10):
        try:
            link.place_order(cqg.Order(ep, cqg.OrderType.MARKET, cqg.Direction.LONG, 1))
            placed += 1
        except ValueError as e:
            assert "order rate exceeds the limit of 3 per second for EP" in str(e)
            refused += 1
    assert placed >= 3 and refused >= 1 and placed + refused == 10


def test_halt_refuses_new_orders_and_reducing_takes_only_reducing_ones(sim, risk_session):
    gw, link = risk_session
    ep = gw.securities["EP"]
    assert link.trading_state() == cqg.TradingState.ACTIVE
    link.place_order(cqg.Order(ep, cqg.OrderType.MARKET, cqg.Direction.LONG, 2))
    sim.advance(1)
    assert gw.wait_for("deal")
    link.halt("fat finger")
    assert link.trading_state() == cqg.TradingState.HALTED
    with pytest.raises(ValueError, match="trading is HALTED \\(fat finger\\) for EP"):
        link.place_order(cqg.Order(ep, cqg.OrderType.MARKET, cqg.Direction.SHORT, 1))
    link.reduce_only("winding down")
    with pytest.raises(ValueError, match="REDUCING"):
        link.place_order(cqg.Order(ep, cqg.OrderType.MARKET, cqg.Direction.LONG, 1))
    assert link.place_order(cqg.Order(ep, cqg.OrderType.MARKET, cqg.Direction.SHORT, 1))
    link.resume()
    assert "state: ACTIVE" in link.risk_text()
    assert gw.wait_for("state", 3)
    changes = gw.records("state")
    assert [(c.previous, c.state) for c in changes] == [
        (cqg.TradingState.ACTIVE, cqg.TradingState.HALTED),
        (cqg.TradingState.HALTED, cqg.TradingState.REDUCING),
        (cqg.TradingState.REDUCING, cqg.TradingState.ACTIVE),
    ]
    assert [c.reason for c in changes] == ["fat finger", "winding down", "resumed"]
