"""A parameter sweep: one backtest per cell of a grid, on a local Dask
cluster (a worker process per core), the results as one table.
Usage: sweep_small.py HISTORY.csv [SCHEDULER_ADDRESS]"""
import sys

import orbrix_cqg as cqg

EP = cqg.Futures(code="EP", security_name="E-mini S&P 500")


class Gateway(cqg.BaseGateway):
    def __init__(self) -> None:
        super().__init__()
        self.cqg_quotes[EP] = None

    def get_eng_security_from_cqg_symbol(self, symbol: str) -> cqg.Futures | None:
        return EP if symbol.rsplit(".", 1)[-1].startswith("EP") else None

    def get_cqg_symbol_from_eng_security(self, security: cqg.Security) -> str:
        return "EP"

    def process_quote(self, quote: cqg.Quote) -> None: pass
    def process_orderbook(self, orderbook: cqg.OrderBook) -> None: pass
    def process_order(self, update: cqg.OrderUpdate) -> None: pass
    def process_deal(self, deal: cqg.Deal) -> None: pass


class HoldFor:
    """Goes long or short one EP at its first timer and closes after `minutes`."""

    def __init__(self, side: str, minutes: int) -> None:
        self.side = cqg.Direction.LONG if side == "long" else cqg.Direction.SHORT
        self.back = cqg.Direction.SHORT if side == "long" else cqg.Direction.LONG
        self.minutes, self.elapsed, self._gateway = minutes, 0, Gateway()

    def gateway(self) -> Gateway:
        return self._gateway

    def interval(self) -> float:
        return 60.0

    def start(self, link: cqg.BrokerLink) -> None:
        link.subscribe_quote("EP")

    def on_timer(self, link: cqg.BrokerLink, now) -> None:
        self.elapsed += 1
        if self.elapsed == 1:
            link.place_order(cqg.Order(EP, cqg.OrderType.MARKET, self.side, 1))
        elif self.elapsed == 1 + self.minutes:
            link.place_order(cqg.Order(EP, cqg.OrderType.MARKET, self.back, 1))


if __name__ == "__main__":
    client = None
    if len(sys.argv) > 2:  # a cluster of several machines: its scheduler's address
        from distributed import Client
        client = Client(sys.argv[2])
    table = cqg.sweep(HoldFor, {"side": ["long", "short"], "minutes": [2, 5, 10]},
                      [("EP", sys.argv[1])], client=client, warm_up_minutes=0)
    print(table[["side", "minutes", "net_pnl", "max_drawdown", "trades", "error"]]
          .sort_values("net_pnl", ascending=False).to_string(index=False))
