"""A Python engine's session over the simulator: log-on, quotes, the order
book, an order filled and reported, bars with their repaired window,
account and positions."""

import threading

import orbrix_cqg as cqg

from conftest import ACCOUNT


def test_log_on_and_off(session):
    link = session.link
    assert not link.gateway_connected
    link.Logon("user", "secret")
    assert link.gateway_connected and link.eventGatewayIsUp.is_set()
    assert session.gateway.apiHost is session.host
    # The hook runs on the worker after Logon was released.
    assert session.gateway.wait_for("connection")
    assert session.gateway.records("connection")[0].state == cqg.ConnectionEvent.State.up
    link.Logoff()
    assert not link.gateway_connected


def test_quotes_reach_process_quote_on_the_worker(sim, session):
    gw, link = session.gateway, session.link
    ep = gw.securities["EP"]
    link.subscribe_quote("EP")
    full = link.get_instrument_from_cqg_symbol("EP").get("FullName")
    assert full.startswith("F.") and full.endswith(link.get_instrument_from_cqg_symbol("EP")
                                                   .get("FullName")[-5:])
    sim.advance(5)
    quotes = gw.records("quote")
    assert quotes and all(q.security == ep for q in quotes)
    assert type(quotes[-1].security) is cqg.Futures
    assert threading.get_ident() not in gw.threads
    # The map holds the latest quote, as a snapshot the worker does not change.
    latest = gw.cqg_quotes[ep]
    assert latest == quotes[-1]
    assert ep in gw.cqg_quotes and len(gw.cqg_quotes) == 1 and gw.cqg_quotes.keys() == [ep]
    # Exact quotes through the venue.
    bid = round(latest.bid_price - 10, 2)
    sim.fire_quotes("EP", [("qtBid", bid, 3)])
    assert gw.cqg_quotes[ep].bid_price == bid
    assert latest.bid_price != bid
    link.unsubscribe_quote("EP")


def test_an_order_is_placed_filled_and_reported(sim, session):
    gw, link = session.gateway, session.link
    session.log_on_with_account()
    ep = gw.securities["EP"]
    link.subscribe_quote("EP")
    sim.advance(2)
    order_id = link.place_order(cqg.Order(ep, cqg.OrderType.MARKET, cqg.Direction.LONG, 2))
    assert order_id
    sim.advance(1)
    assert gw.wait_for("deal")
    deal = gw.records("deal")[0]
    assert deal["order_id"] == order_id and deal.filled_quantity == 2
    assert any(u.status == cqg.OrderStatus.FILLED for u in gw.records("order") if u.order_id == order_id)
    link.update_positions()
    (position,) = link.positions()
    assert position.security == ep and position.direction == cqg.Direction.LONG
    assert position.quantity == 2 and type(position.security) is cqg.Futures
    # A resting limit far below the market, then cancelled.
    limit = link.place_order(cqg.Order(ep, cqg.OrderType.LIMIT, cqg.Direction.LONG, 1,
                                       price=round(deal.filled_avg_price * 0.9 * 4) / 4))
    link.cancel_order(limit)
    sim.advance(1)
    assert any(u.order_id == limit and u.status == cqg.OrderStatus.CANCELLED
               for u in gw.records("order"))


def test_account_balance_and_positions(session):
    session.log_on_with_account()
    link = session.link
    assert link.GWAccountID() == ACCOUNT
    balance = link.account_balance()
    assert balance.cash > 0 and isinstance(balance, cqg.AccountBalance)
    assert link.positions() == []
    link.update_account_balance()
    assert link.account_balance().cash == balance.cash
    accounts = session.host.cqgCEL.get("Accounts").items()
    assert ACCOUNT in [a.get("GWAccountID") for a in accounts]
    assert link.get_account_from_gwaccountid(ACCOUNT).get("GWAccountID") == ACCOUNT
    link.unsubscribe_account_and_positions(ACCOUNT)


def test_book_and_bars_with_the_repaired_window(sim, session):
    gw, link = session.gateway, session.link
    ep = gw.securities["EP"]
    link.subscribe_quote("EP")
    link.subscribe_orderbook("EP")
    sim.advance(30)
    books = gw.records("book")
    assert books and books[-1].security == ep and gw.cqg_orderbooks[ep] is not None
    link.unsubscribe_orderbook("EP")

    sim.set_missing_bar_values("EP", cqg.BarField.Open, [0, 3])
    link.subscribe_bar("EP", 20)
    window = link.get_subscribe_bars_data(ep)
    assert window and all(isinstance(b, cqg.Bar) for b in window)
    assert all(b.open != -2147483648 for b in window)
    assert window[0].datetime < window[-1].datetime
    assert cqg.safe_call(link.unsubscribe_bar, "EP") is None
    assert link.get_subscribe_bars_data(ep) is None


def test_a_failed_subscription_reaches_its_hook(sim, session):
    sim.set_instrument_resolution(error=(5, "Unknown symbol: ZZ"))
    session.link.subscribe_quote("ZZ")
    (failure,) = session.gateway.records("failure")
    assert failure.kind == cqg.SubscriptionFailure.Kind.quote and "Unknown symbol" in failure.error


def test_a_python_custom_configuration_runs_inside_init(sim):
    seen = []

    def configure(configuration):
        seen.append(configuration.get("CollectionsThrowException"))
        configuration.put("TimeZoneCode", 7)

    host = cqg.ApiHost(use_simulator=True)
    try:
        host.Init(cqg.BrokerLink, configure)
        assert seen == [False] and not host.errorHappened
        assert host.cqgCEL.get("APIConfiguration").get("TimeZoneCode") == 7
    finally:
        host.Shutdown()
