"""Replays a history file of several symbols (a `symbol` column) and counts
the quotes each symbol's engine hears. Usage: several_symbols.py FILE.csv"""
import os
import sys

import orbrix_cqg as cqg


class Gateway(cqg.BaseGateway):
    def __init__(self, codes: list[str]) -> None:
        super().__init__()
        self.by_code = {c: cqg.Futures(code=c, security_name=c) for c in codes}
        for security in self.by_code.values():
            self.cqg_quotes[security] = None
        self.quotes = {c: 0 for c in codes}

    def get_eng_security_from_cqg_symbol(self, symbol: str) -> cqg.Futures | None:
        dated = symbol.rsplit(".", 1)[-1]  # F.US.EPZ26 -> EPZ26
        return self.by_code.get(dated[:-3])

    def get_cqg_symbol_from_eng_security(self, security: cqg.Security) -> str:
        return security.code

    def process_quote(self, quote: cqg.Quote) -> None:
        self.quotes[quote.security.code] += 1  # hooks never run two at a time

    def process_orderbook(self, orderbook: cqg.OrderBook) -> None: pass
    def process_order(self, update: cqg.OrderUpdate) -> None: pass
    def process_deal(self, deal: cqg.Deal) -> None: pass


class Listen:
    def __init__(self) -> None:
        self._gateway = Gateway(["EP", "GCE"])

    def gateway(self) -> Gateway:
        return self._gateway

    def start(self, link: cqg.BrokerLink) -> None:
        for code in self._gateway.by_code:
            link.subscribe_quote(code)

    def on_timer(self, link: cqg.BrokerLink, now) -> None: pass


engine = Listen()
# An empty symbol: the file names each row's symbol in its `symbol` column.
cqg.run_backtest(engine, [("", sys.argv[1])], warm_up_minutes=0, trace_log=os.devnull)
print(engine.gateway().quotes)
