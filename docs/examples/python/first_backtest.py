"""Your first backtest: an engine that buys one EP contract at its first
timer and sells it ten minutes later, run over a recorded history on the
simulator's clock. Usage: first_backtest.py HISTORY.csv [REPORT_DIR]"""
import os
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
    def process_deal(self, deal: cqg.Deal) -> None: print("deal", deal.filled_quantity, "@", deal.filled_avg_price)


class BuyAndHold:
    """What run_backtest drives: gateway(), start, on_timer, stop, interval."""

    def __init__(self) -> None:
        self._gateway, self.minutes = Gateway(), 0

    def gateway(self) -> Gateway:
        return self._gateway

    def interval(self) -> float:
        return 60.0  # seconds of simulated time between two on_timer calls

    def start(self, link: cqg.BrokerLink) -> None:
        link.subscribe_quote("EP")

    def on_timer(self, link: cqg.BrokerLink, now) -> None:
        # `now` is the simulated time (an aware UTC datetime): never read the
        # machine's clock to time a decision in a backtest.
        self.minutes += 1
        if self.minutes in (1, 11):
            side = cqg.Direction.LONG if self.minutes == 1 else cqg.Direction.SHORT
            link.place_order(cqg.Order(EP, cqg.OrderType.MARKET, side, 1))


report = sys.argv[2] if len(sys.argv) > 2 else None
trace_log = os.path.join(report, "trace.log") if report else os.devnull
result = cqg.run_backtest(BuyAndHold(), [("EP", sys.argv[1])], warm_up_minutes=0,
                          trace_log=trace_log)
print(result.summary(), end="")
if report:
    result.write_report(report, charts=False)
