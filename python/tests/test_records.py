"""The records across the boundary: keyword construction with each kind's
defaults, immutability, the two equality rules and the hash, text forms."""

import copy
import datetime as dt
import pickle

import pytest

import orbrix_cqg as cqg


def test_kinds_apply_their_defaults_and_store_fields_unchanged():
    stock = cqg.Stock(code="0700", security_name="Tencent")
    assert (stock.lot_size, stock.exchange, stock.expiry_date, stock.quote_currency) == \
        (1, cqg.Exchange.SEHK, None, "")
    fut = cqg.Futures(code="EPZ23", security_name="E-mini", expiry_date="2023-12")
    assert (fut.lot_size, fut.exchange, fut.expiry_date) == (1000, cqg.Exchange.SMART, "2023-12")
    assert cqg.Currency(code="EUR", security_name="Euro").exchange == cqg.Exchange.IDEALPRO
    assert cqg.Commodity(code="XAU", security_name="Gold").lot_size == 1000
    base = cqg.Security("X", "x")
    assert (base.lot_size, base.exchange) == (None, None)
    # A default may be dropped explicitly.
    assert cqg.Stock(code="1", security_name="a", exchange=None).exchange is None
    assert isinstance(stock, cqg.Security)


def test_records_are_immutable():
    stock = cqg.Stock(code="0700", security_name="Tencent")
    with pytest.raises(AttributeError):
        stock.lot_size = 100
    with pytest.raises(AttributeError):
        stock.extra = 1
    assert stock.lot_size == 1
    quote = cqg.Quote(security=stock, datetime=dt.datetime(2024, 3, 5, 14, 7, 9))
    with pytest.raises(AttributeError):
        quote.bid_price = 1.0


def test_kind_records_equal_on_all_six_fields_and_only_within_their_kind():
    a = cqg.Stock(code="0700", security_name="Tencent")
    assert a == cqg.Stock(code="0700", security_name="Tencent")
    assert hash(a) == hash(cqg.Stock(code="0700", security_name="Tencent"))
    assert a != cqg.Stock(code="0700", security_name="Tencent", lot_size=100)
    assert a != cqg.Stock(code="0700", security_name="Tencent", quote_currency="HKD")
    assert a != cqg.Futures(code="0700", security_name="Tencent", lot_size=1, exchange=cqg.Exchange.SEHK)
    assert a != "0700"


def test_a_base_record_equals_on_code_name_and_exchange_in_either_order():
    base = cqg.Security("EPZ23", "E-mini", 5, cqg.Exchange.SMART)
    fut = cqg.Futures(code="EPZ23", security_name="E-mini", expiry_date="2023-12")
    assert base == fut and fut == base
    assert hash(base) == hash(fut)
    assert {base: 1}[fut] == 1 and {fut: 2}[base] == 2
    assert base != cqg.Security("EPZ23", "E-mini", 5, cqg.Exchange.SEHK)
    # An absent exchange is one more value.
    assert cqg.Security("A", "a") == cqg.Security("A", "a", 7)
    assert cqg.Security("A", "a") != cqg.Security("A", "a", exchange=cqg.Exchange.SMART)


def test_records_copy_and_pickle_as_their_kind():
    fut = cqg.Futures(code="EPZ23", security_name="E-mini", expiry_date="2023-12")
    for other in (copy.copy(fut), copy.deepcopy(fut), pickle.loads(pickle.dumps(fut))):
        assert type(other) is cqg.Futures and other == fut


def test_a_fill_model_pickles_with_its_fields_and_refuses_another_state():
    model = cqg.FillModel(partial_fills=True, slippage_ticks=2, commission_per_contract=1.5,
                          mark=cqg.MarkPrice.side, reject_market_without_quote=True)
    back = pickle.loads(pickle.dumps(model))
    for name in ("partial_fills", "slippage_ticks", "commission_per_contract", "mark",
                 "reject_market_without_quote"):
        assert getattr(back, name) == getattr(model, name), name
    with pytest.raises(ValueError, match="not a pickled FillModel"):
        cqg.FillModel.__new__(cqg.FillModel).__setstate__((False, 0, 0.0, 7, False))


def test_risk_limits_and_a_state_change_copy_and_pickle_with_every_field():
    limits = cqg.RiskLimits(max_order_qty=100, max_order_qty_by_symbol={"EP": 20},
                            max_position=50, max_position_by_symbol={"ZN": 10},
                            max_working_orders=8, max_orders_per_second=2.5,
                            price_collar_pct=1.5, price_collar_ticks=40,
                            tick_size_by_symbol={"EP": 0.25}, allow_orders_without_quote=True,
                            max_daily_loss=5000)
    for other in (copy.copy(limits), copy.deepcopy(limits), pickle.loads(pickle.dumps(limits))):
        assert type(other) is cqg.RiskLimits and other == limits
    assert pickle.loads(pickle.dumps(cqg.RiskLimits())) == cqg.RiskLimits()
    change = cqg.TradingStateChange(state=cqg.TradingState.REDUCING,
                                    previous=cqg.TradingState.ACTIVE, reason="daily loss")
    assert pickle.loads(pickle.dumps(change)) == change and copy.copy(change) == change


def test_quote_and_book_change_only_by_copy():
    s = cqg.Futures(code="EP", security_name="e")
    t = dt.datetime(2024, 3, 5, 14, 7, 9, 4211)
    q = cqg.Quote(security=s, exchange=s.exchange, datetime=t, bid_price=99.5)
    q2 = q.replace(ask_price=100.0, datetime=t + dt.timedelta(seconds=1))
    assert (q.ask_price, q.datetime) == (0, t)
    assert (q2.bid_price, q2.ask_price, q2.datetime) == (99.5, 100.0, t + dt.timedelta(seconds=1))
    assert type(q2.security) is cqg.Futures and q2.security == s
    b = cqg.OrderBook(security=s, datetime=t).replace(bid_price_1=1.0, bid_volume_1=3)
    assert (b.bid_price_1, b.bid_volume_1, b.ask_price_1) == (1.0, 3, 0)
    assert repr(q).startswith("Quote(security=Futures(")


def test_order_events_read_like_maps():
    t = dt.datetime(2024, 3, 5, 14, 7, 9)
    u = cqg.OrderUpdate(order_id="A1", updated_time=t, filled_quantity=2,
                        status=cqg.OrderStatus.FILLED)
    assert list(u) == ["order_id", "updated_time", "filled_avg_price", "filled_quantity", "status"]
    assert u["status"] == cqg.OrderStatus.FILLED and u["updated_time"] == t
    with pytest.raises(KeyError):
        u["deal_id"]
    d = cqg.Deal(deal_id="1", order_id="A1", filled_avg_price=4500.25, filled_quantity=1)
    assert dict(d.items())["filled_avg_price"] == 4500.25
    assert repr(u).startswith('{"order_id": "A1", "updated_time": 2024-03-05 14:07:09')


def test_mutable_records_and_enums():
    s = cqg.Stock(code="0700", security_name="Tencent")
    order = cqg.Order(s, cqg.OrderType.LIMIT, cqg.Direction.LONG, 2, price=350.2)
    order.order_id = "X"
    order.status = cqg.OrderStatus.SUBMITTED
    assert order == copy.copy(order)
    assert 'order_type=LIMIT' in repr(order) and 'order_id="X"' in repr(order)
    bar = cqg.Bar(datetime=dt.datetime(2024, 1, 2), security=s, open=1, high=2, low=0.5, close=1.5)
    bar.open = 1.25
    assert bar.open == 1.25
    balance = cqg.AccountBalance()
    balance.cash_by_currency = {"USD": 10.0}
    assert balance.cash_by_currency == {"USD": 10.0} and balance.max_power_short is None
    assert cqg.Exchange.SMART.name == "SMART" and cqg.Exchange.SEHK.text == "SEHK"
    assert [m for m in cqg.OrderStatus.__members__] == \
        ["UNKNOWN", "SUBMITTED", "FILLED", "CANCELLED", "FAILED"]


def test_module_constants_and_conversions(capfd):
    cqg.Trace("hello from Python")
    assert capfd.readouterr().out.endswith(": hello from Python\n")
    assert cqg.TIMEOUT == 10


def test_vendor_conversions(session):
    # The host has loaded the vendor's type library they read.
    with pytest.raises(ValueError, match="is not valid to be handled by orbrix"):
        cqg.convert_orderstatus_cqg2eng(-12345)
    with pytest.raises(KeyError):
        cqg.QuoteType2String(-12345)
    with pytest.raises(KeyError):
        cqg.TickType2String(-12345)


def test_safe_call_reports_and_returns_none(capfd):
    def fails(x, *, y):
        raise ValueError(f"bad {x} {y}")

    assert cqg.safe_call(lambda a, b=0: a + b, 1, b=2) == 3
    assert cqg.safe_call(fails, 1, y=2) is None
    assert "bad 1 2" in capfd.readouterr().out
    seen = []
    cqg.set_safe_call_reporter(seen.append)
    try:
        assert cqg.safe_call(fails, 3, y=4) is None
    finally:
        cqg.set_safe_call_reporter(None)
    assert seen == ["bad 3 4"]
    with pytest.raises(KeyboardInterrupt):
        cqg.safe_call(lambda: (_ for _ in ()).throw(KeyboardInterrupt()))
