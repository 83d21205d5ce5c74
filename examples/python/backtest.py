#!/usr/bin/env python3
"""The moving-average cross of examples/ma_cross, in Python, run as a
backtest over recorded history on the simulator's clock.

Each minute it compares the mean close of the last FAST one-minute bars with
that of the last SLOW: a cross above goes long one contract, a cross below
short one; at the end it closes what it holds. The engine reads the run's
time only from the `now` it is handed.

    PYTHONPATH=<prefix>/lib/python3/dist-packages python3 examples/python/backtest.py \
        EP=gateways/cqg/sim/venue/market/data/ep_quotes_sample.csv [REPORT_DIR]

--help lists the options. The gateway's traced lines go to trace.log in the
report's folder (to the logging module without one); on a terminal a
progress line is shown on standard error.

It is typed throughout: mypy --strict checks it against the package's stubs.
"""

import argparse
import datetime
import os
import re
import sys
from collections.abc import Sequence

import orbrix_cqg as cqg


class Gateway(cqg.BaseGateway):
    def __init__(self, symbols: list[str]) -> None:
        super().__init__()
        self.by_symbol = {s: cqg.Futures(code=s, security_name=s + " front month") for s in symbols}
        for security in self.by_symbol.values():
            self.cqg_quotes[security] = None
            self.cqg_orderbooks[security] = None

    def get_eng_security_from_cqg_symbol(self, cqg_symbol: str) -> cqg.Futures | None:
        short = cqg_symbol.rsplit(".", 1)[-1]
        return self.by_symbol.get(short) or self.by_symbol.get(re.sub(r"[A-Z]\d\d$", "", short))

    def get_cqg_symbol_from_eng_security(self, security: cqg.Security) -> str:
        return security.code

    def process_quote(self, quote: cqg.Quote) -> None:
        pass

    def process_orderbook(self, orderbook: cqg.OrderBook) -> None:
        pass

    def process_order(self, update: cqg.OrderUpdate) -> None:
        pass

    def process_deal(self, deal: cqg.Deal) -> None:
        pass


class MovingAverageCross:
    """The engine run_backtest drives: gateway(), interval(), start(link),
    on_timer(link, now) and stop(link)."""

    def __init__(self, symbols: list[str], fast: int = 2, slow: int = 4) -> None:
        self.fast, self.slow = fast, slow
        self._gateway = Gateway(symbols)
        self.position = {s: 0 for s in symbols}

    def gateway(self) -> Gateway:
        return self._gateway

    def interval(self) -> float:
        return 60.0

    def start(self, link: cqg.BrokerLink) -> None:
        for symbol in self.position:
            link.subscribe_quote(symbol)
            link.subscribe_bar(symbol, self.slow + 2, "1Min")

    def signal(self, closes: list[float]) -> int:
        if len(closes) < self.slow + 1:
            return 0

        def mean(xs: Sequence[float]) -> float:
            return sum(xs) / len(xs)

        f_now, s_now = mean(closes[-self.fast:]), mean(closes[-self.slow:])
        f_before, s_before = mean(closes[-self.fast - 1:-1]), mean(closes[-self.slow - 1:-1])
        if f_before <= s_before and f_now > s_now:
            return 1
        if f_before >= s_before and f_now < s_now:
            return -1
        return 0

    def trade_to(self, link: cqg.BrokerLink, symbol: str, target: int) -> None:
        held = self.position[symbol]
        if held != target:
            side = cqg.Direction.LONG if target > held else cqg.Direction.SHORT
            security = self._gateway.by_symbol[symbol]
            link.place_order(cqg.Order(security, cqg.OrderType.MARKET, side, abs(target - held)))
            self.position[symbol] = target

    def on_timer(self, link: cqg.BrokerLink, now: datetime.datetime) -> None:
        for symbol, security in self._gateway.by_symbol.items():
            try:
                bars = link.get_subscribe_bars_data(security)
            except ValueError:
                continue  # a bar the vendor could not fill: wait for the next minute
            sig = self.signal([bar.close for bar in bars or []])
            if sig:
                self.trade_to(link, symbol, sig)

    def stop(self, link: cqg.BrokerLink) -> None:
        for symbol in self.position:
            self.trade_to(link, symbol, 0)


def history(text: str) -> tuple[str, str]:
    """SYMBOL=FILE as (symbol, file)."""
    symbol, eq, path = text.partition("=")
    if not (symbol and eq and path):
        raise argparse.ArgumentTypeError(f"{text!r} is not SYMBOL=FILE")
    return symbol.upper(), path


def show_progress(p: cqg.BacktestProgress) -> None:
    """One line on standard error, rewritten in place."""
    s = None if p.seconds_left is None else int(p.seconds_left + 0.999)
    left = "--:--" if s is None else f"{s // 60}:{s % 60:02}"
    print(f"\rbacktest  {p.fraction * 100:.1f} % of the data, {p.rows:,} rows, "
          f"{p.rows_per_second:,.0f} rows/s, {left} left\033[K", end="", file=sys.stderr, flush=True)


def main() -> None:
    parser = argparse.ArgumentParser(
        description="The moving-average cross as a backtest over a recorded history.",
        formatter_class=argparse.ArgumentDefaultsHelpFormatter)
    parser.add_argument("history", type=history, help="the history of one symbol, SYMBOL=FILE")
    parser.add_argument("report", nargs="?", default=None,
                        help="the report's folder (none: no report, the traced lines to logging)")
    parser.add_argument("--fast", type=int, default=2, help="bars of the fast mean")
    parser.add_argument("--slow", type=int, default=4, help="bars of the slow mean")
    parser.add_argument("--warm-up", type=int, default=8, help="minutes of history before the start")
    parser.add_argument("--close-at-end", action="store_true",
                        help="close what is open at the last quote when the data ends")
    parser.add_argument("--quiet", action="store_true", help="no progress line")
    parser.add_argument("--version", action="version", version=f"%(prog)s {cqg.__version__}")
    args = parser.parse_args()
    if not 0 < args.fast < args.slow:
        parser.error(f"--fast {args.fast} and --slow {args.slow}: need 0 < fast < slow")
    if args.warm_up < 0:
        parser.error(f"--warm-up {args.warm_up}: minutes from 0 on")
    symbol, path = args.history
    engine = MovingAverageCross([symbol], args.fast, args.slow)
    if args.report is None:
        cqg.trace_to_logging()
    tell = show_progress if sys.stderr.isatty() and not args.quiet else None
    trace_log = os.path.join(args.report, "trace.log") if args.report is not None else None
    result = cqg.run_backtest(engine, [(symbol, path)], warm_up_minutes=args.warm_up,
                              progress=tell, close_at_end=args.close_at_end, trace_log=trace_log)
    if tell is not None:
        print("\r\033[K", end="", file=sys.stderr, flush=True)
    print(result.summary(), end="")
    print(result.speed(), end="")
    if args.report is not None:
        result.write_report(args.report)


if __name__ == "__main__":
    main()
