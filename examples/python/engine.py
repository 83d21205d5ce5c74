#!/usr/bin/env python3
"""A small Python engine over the simulated CQGCEL: the demo's strategy.

It logs on, subscribes account 100001, quotes, an order book and one-minute
bars for each symbol, and trades: a resting limit, a market order and a
protective stop on the first symbol, then the limit cancelled and a short on
the second. At the end it cancels what still works, closes every position
with a market order and prints a summary. The simulator runs on a manual
clock that this engine moves on, so a run of --seconds of market time takes
well under a second of wall time.

    PYTHONPATH=<prefix>/lib/python3/dist-packages python3 examples/python/engine.py

It is typed throughout: mypy --strict checks it against the package's stubs.
"""

import argparse
import re
import threading

import orbrix_cqg as cqg

ACCOUNT = 100001


class Gateway(cqg.BaseGateway):
    """Futures of the short symbols traded; the hooks collect what the engine
    thread reads (under a lock: they run on the API host's worker)."""

    def __init__(self, symbols: list[str]) -> None:
        super().__init__()
        self.securities = [cqg.Futures(code=s, security_name=s + " front month") for s in symbols]
        self.by_symbol = {s.code: s for s in self.securities}
        for s in self.securities:
            self.cqg_quotes[s] = None
            self.cqg_orderbooks[s] = None
        self.lock = threading.Lock()
        self.status: dict[str, cqg.OrderStatus] = {}
        self.deals: list[cqg.Deal] = []
        self.counts = {"quotes": 0, "books": 0, "orders": 0, "deals": 0}

    def get_eng_security_from_cqg_symbol(self, cqg_symbol: str) -> cqg.Futures | None:
        undated = re.sub(r"[A-Z]\d\d$", "", cqg_symbol)
        return self.by_symbol.get(cqg_symbol) or self.by_symbol.get(undated)

    def get_cqg_symbol_from_eng_security(self, security: cqg.Security) -> str:
        for s in self.securities:
            if s == security:
                return s.code
        raise KeyError(f"no vendor symbol for {security!r}")

    def process_quote(self, quote: cqg.Quote) -> None:
        with self.lock:
            self.counts["quotes"] += 1

    def process_orderbook(self, orderbook: cqg.OrderBook) -> None:
        with self.lock:
            self.counts["books"] += 1

    def process_order(self, update: cqg.OrderUpdate) -> None:
        with self.lock:
            self.counts["orders"] += 1
            self.status[update.order_id] = update.status
        print(f"order  {update.order_id}  {update.status.name:9} "
              f"filled {update.filled_quantity:g} @ {update.filled_avg_price:.2f}")

    def process_deal(self, deal: cqg.Deal) -> None:
        with self.lock:
            self.counts["deals"] += 1
            self.deals.append(deal)
        print(f"deal   {deal.deal_id}  order {deal.order_id}  "
              f"{deal.filled_quantity:g} @ {deal.filled_avg_price:.2f}")

    def process_connection(self, event: cqg.ConnectionEvent) -> None:
        print(f"connection {event!r}")

    def working(self) -> list[str]:
        with self.lock:
            return [i for i, s in self.status.items() if s == cqg.OrderStatus.SUBMITTED]


class Strategy:
    """The demo's: acts on the first symbol's book."""

    def __init__(self, link: cqg.BrokerLink, gateway: Gateway) -> None:
        self.link, self.gateway = link, gateway
        self.stage, self.started = 0, 0.0
        self.resting: str | None = None

    def place(self, order: cqg.Order) -> str | None:
        try:
            order_id = self.link.place_order(order)
            print(f"place  {order_id}  {order.order_type.name} {order.direction.name} "
                  f"{order.quantity:g} {order.security.code}")
            return order_id
        except (ValueError, RuntimeError) as e:
            print(f"place  refused: {e}")
            return None

    def step(self, elapsed: float) -> None:
        first = self.gateway.securities[0]
        book = self.gateway.cqg_orderbooks.get(first)
        if book is None or book.bid_price_1 <= 0 or book.ask_price_1 <= book.bid_price_1:
            return  # nothing to price orders against yet
        bid, spread = book.bid_price_1, book.ask_price_1 - book.bid_price_1

        def below(fraction: float) -> float:  # whole spreads below the bid stay on the tick grid
            return bid - max(1.0, round(bid * fraction / spread)) * spread

        if self.stage == 0:
            self.resting = self.place(cqg.Order(first, cqg.OrderType.LIMIT, cqg.Direction.LONG, 1,
                                                price=below(0.01)))
            self.place(cqg.Order(first, cqg.OrderType.MARKET, cqg.Direction.LONG, 2))
            self.place(cqg.Order(first, cqg.OrderType.STOP, cqg.Direction.SHORT, 1,
                                 stop_price=below(0.02)))
            self.stage, self.started = 1, elapsed
        elif self.stage == 1 and elapsed - self.started > 5:
            if self.resting:
                cqg.safe_call(self.link.cancel_order, self.resting)
            if len(self.gateway.securities) > 1:
                self.place(cqg.Order(self.gateway.securities[1], cqg.OrderType.MARKET,
                                     cqg.Direction.SHORT, 1))
            self.stage = 2


def close_out(link: cqg.BrokerLink, gateway: Gateway, sim: cqg.Simulator) -> None:
    for order_id in gateway.working():
        cqg.safe_call(link.cancel_order, order_id)
    link.update_positions()
    for p in link.positions():
        side = cqg.Direction.SHORT if p.direction == cqg.Direction.LONG else cqg.Direction.LONG
        link.place_order(cqg.Order(p.security, cqg.OrderType.MARKET, side, p.quantity))
    for _ in range(20):
        sim.advance(0.5)
        link.update_positions()
        if not link.positions():
            break


def seed(text: str) -> int:
    """A seed: a whole number from 0 to 2**64 - 1."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a whole number") from None
    if not 0 <= value < 2**64:
        raise argparse.ArgumentTypeError(f"{value} is not a seed from 0 to 2**64 - 1")
    return value


def main() -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0],
                                     formatter_class=argparse.ArgumentDefaultsHelpFormatter)
    parser.add_argument("--seconds", type=float, default=20, help="market time traded, in seconds")
    parser.add_argument("--symbols", default="EP,ENQ,GCE", help="the symbols traded, comma-separated")
    parser.add_argument("--seed", type=seed, default=1, help="the simulated market's seed")
    parser.add_argument("--version", action="version", version=f"%(prog)s {cqg.__version__}")
    args = parser.parse_args()
    symbols: list[str] = args.symbols.split(",")

    with cqg.Simulator() as sim:
        sim.set_config(cqg.SimConfig(seed=args.seed, manual_clock=True))
        sim.set_gateway(delay=0)
        sim.set_account_reload(delay=0)
        host = cqg.ApiHost(use_simulator=True)
        gateway = Gateway(symbols)
        link = host.Init(cqg.BrokerLink)
        gateway.apiHost = host
        link.Init(gateway)
        link.set_account_reload_pause(0.01)
        try:
            link.Logon("demo", "demo")
            link.subscribe_account_and_positions(ACCOUNT)
            for symbol in symbols:
                link.subscribe_quote(symbol)
                link.subscribe_orderbook(symbol)
                link.subscribe_bar(symbol, 10, "1Min")
            strategy, elapsed = Strategy(link, gateway), 0.0
            while elapsed < args.seconds:
                sim.advance(0.5)
                elapsed += 0.5
                strategy.step(elapsed)
            close_out(link, gateway, sim)
            for s in gateway.securities:
                bars = link.get_subscribe_bars_data(s) or []
                print(f"bars   {s.code}: {len(bars)}, last close "
                      f"{bars[-1].close if bars else float('nan'):.2f}")
                cqg.safe_call(link.unsubscribe_bar, s.code)
            link.update_account_balance()
            balance = link.account_balance()
            with gateway.lock:
                counts = dict(gateway.counts)
            print(f"summary orders {len(gateway.status)}, deals {counts['deals']}, "
                  f"quotes {counts['quotes']}, books {counts['books']}")
            print(f"summary realized P&L {balance.realized_pnl:.2f}, cash {balance.cash:.2f}; "
                  f"flat: {'yes' if not link.positions() else 'no'}")
            link.Logoff()
        finally:
            host.Shutdown()
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
