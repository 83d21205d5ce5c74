#!/usr/bin/env python3
"""The moving-average cross of examples/ma_cross, in Python, run as a
backtest over recorded history on the simulator's clock.

Each minute it compares the mean close of the last FAST one-minute bars with
that of the last SLOW: a cross above goes long one contract, a cross below
short one; at the end it closes what it holds. The engine reads the run's
time only from the `now` it is handed.

    PYTHONPATH=<prefix>/lib/python3/dist-packages python3 examples/python/backtest.py \
        EP=gateways/cqg/sim/venue/market/data/ep_quotes_sample.csv [REPORT_DIR]
"""

import re
import sys

import orbrix_cqg as cqg


class Gateway(cqg.BaseGateway):
    def __init__(self, symbols):
        super().__init__()
        self.by_symbol = {s: cqg.Futures(code=s, security_name=s + " front month") for s in symbols}
        for security in self.by_symbol.values():
            self.cqg_quotes[security] = None
            self.cqg_orderbooks[security] = None

    def get_eng_security_from_cqg_symbol(self, cqg_symbol):
        short = cqg_symbol.rsplit(".", 1)[-1]
        return self.by_symbol.get(short) or self.by_symbol.get(re.sub(r"[A-Z]\d\d$", "", short))

    def get_cqg_symbol_from_eng_security(self, security):
        return security.code

    def process_quote(self, quote):
        pass

    def process_orderbook(self, orderbook):
        pass

    def process_order(self, update):
        pass

    def process_deal(self, deal):
        pass


class MovingAverageCross:
    def __init__(self, symbols, fast=2, slow=4):
        self.fast, self.slow = fast, slow
        self._gateway = Gateway(symbols)
        self.position = {s: 0 for s in symbols}

    def gateway(self):
        return self._gateway

    def interval(self):
        return 60.0

    def start(self, link):
        for symbol in self.position:
            link.subscribe_quote(symbol)
            link.subscribe_bar(symbol, self.slow + 2, "1Min")

    def signal(self, closes):
        if len(closes) < self.slow + 1:
            return 0
        mean = lambda xs: sum(xs) / len(xs)
        f_now, s_now = mean(closes[-self.fast:]), mean(closes[-self.slow:])
        f_before, s_before = mean(closes[-self.fast - 1:-1]), mean(closes[-self.slow - 1:-1])
        if f_before <= s_before and f_now > s_now:
            return 1
        if f_before >= s_before and f_now < s_now:
            return -1
        return 0

    def trade_to(self, link, symbol, target):
        held = self.position[symbol]
        if held != target:
            side = cqg.Direction.LONG if target > held else cqg.Direction.SHORT
            security = self._gateway.by_symbol[symbol]
            link.place_order(cqg.Order(security, cqg.OrderType.MARKET, side, abs(target - held)))
            self.position[symbol] = target

    def on_timer(self, link, now):
        for symbol, security in self._gateway.by_symbol.items():
            try:
                bars = link.get_subscribe_bars_data(security)
            except ValueError:
                continue  # a bar the vendor could not fill: wait for the next minute
            sig = self.signal([bar.close for bar in bars or []])
            if sig:
                self.trade_to(link, symbol, sig)

    def stop(self, link):
        for symbol in self.position:
            self.trade_to(link, symbol, 0)


def main():
    if len(sys.argv) < 2 or "=" not in sys.argv[1]:
        sys.exit(__doc__)
    symbol, path = sys.argv[1].split("=", 1)
    engine = MovingAverageCross([symbol])
    result = cqg.run_backtest(engine, [(symbol, path)], warm_up_minutes=8)
    print(result.summary(), end="")
    print(result.speed(), end="")
    if len(sys.argv) > 2:
        result.write_report(sys.argv[2])


if __name__ == "__main__":
    main()
