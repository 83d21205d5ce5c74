#!/usr/bin/env python3
"""A parameter sweep on Dask distributed against the same backtests one
after another in one process: twelve cells, each a backtest of a generated
day of two symbols, on a local cluster of two worker processes.

Prints the sequential time, the sweep's time on a cluster already started
(and with the cluster's start, as `sweep(client=None)` pays it), the
speed-up (goal >= 1.7 on two idle cores) and the distributed run's overhead
per cell: the worker time the sweep took beyond the cells' own, per cell
(goal <= 0.2 s).

    PYTHONPATH=build/default/python /usr/bin/python3 bench/python_sweep.py
"""

import datetime
import os
import random
import sys
import tempfile
import time

import distributed

import orbrix_cqg as cqg

WORKERS = 2
CELLS = [{"every": every, "size": size} for every in (1, 2, 3, 5) for size in (1, 2, 3)]
TARGET_SPEED_UP = 1.7
TARGET_OVERHEAD_S = 0.2


class Gateway(cqg.BaseGateway):
    def __init__(self, symbols):
        super().__init__()
        self.by_symbol = {s: cqg.Futures(code=s, security_name=s) for s in symbols}
        for security in self.by_symbol.values():
            self.cqg_quotes[security] = None
            self.cqg_orderbooks[security] = None

    def get_eng_security_from_cqg_symbol(self, cqg_symbol):
        short = cqg_symbol.rsplit(".", 1)[-1]
        return self.by_symbol.get(short) or self.by_symbol.get(short[:-3])

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


class Trader:
    """Quotes of both symbols; every `every` minutes a market order of
    `size` on each, buying and selling in turn."""

    def __init__(self, every, size):
        self.every, self.size, self.timers = every, size, 0
        self._gateway = Gateway(("EP", "CLE"))

    def gateway(self):
        return self._gateway

    def interval(self):
        return 60.0

    def start(self, link):
        for symbol in self._gateway.by_symbol:
            link.subscribe_quote(symbol)

    def on_timer(self, link, now):
        self.timers += 1
        if self.timers % self.every == 0:
            side = cqg.Direction.LONG if (self.timers // self.every) % 2 else cqg.Direction.SHORT
            for security in self._gateway.by_symbol.values():
                link.place_order(cqg.Order(security, cqg.OrderType.MARKET, side, self.size))


def make_trader(every, size):
    return Trader(every, size)


def write_day(path):
    """A day of EP and CLE, a row of each about every 1.5 s, on their ticks."""
    rng = random.Random(11)
    t = datetime.datetime(2026, 12, 7, tzinfo=datetime.timezone.utc)
    end = t + datetime.timedelta(hours=24)
    prices = {"EP": (6050.0, 0.25), "CLE": (70.0, 0.01)}
    rows = 0
    with open(path, "w") as f:
        f.write("symbol,ts_event,bid_price,ask_price,bid_size,ask_size,last_price,last_size\n")
        while t < end:
            for symbol, (bid, tick) in prices.items():
                bid += tick * rng.choice((-1, 0, 1))
                prices[symbol] = (bid, tick)
                stamp = t.strftime("%Y-%m-%dT%H:%M:%S.") + f"{t.microsecond // 1000:03d}Z"
                trade = f"{bid + tick:.2f},{rng.randint(1, 9)}" if rng.random() < 0.3 else ","
                f.write(f"{symbol},{stamp},{bid:.2f},{bid + tick:.2f},{rng.randint(1, 60)},"
                        f"{rng.randint(1, 60)},{trade}\n")
                rows += 1
            t += datetime.timedelta(milliseconds=rng.randint(500, 2500))
    return rows


def main():
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "day.csv")
        rows = write_day(path)
        histories = [("", path)]
        options = {"warm_up_minutes": 10, "trace_log": os.devnull}

        began = time.perf_counter()
        alone = [cqg.run_backtest(make_trader(**cell), histories, **options) for cell in CELLS]
        sequential = time.perf_counter() - began

        began = time.perf_counter()
        with distributed.LocalCluster(n_workers=WORKERS, threads_per_worker=1, processes=True,
                                      dashboard_address=None) as cluster, \
                distributed.Client(cluster) as client:
            started = time.perf_counter() - began
            client.run(lambda: __import__("orbrix_cqg"))  # the module loaded, as a sweep finds it
            began = time.perf_counter()
            table = cqg.sweep(make_trader, CELLS, histories, client=client, show_progress=False,
                              **options)
            swept = time.perf_counter() - began
    assert (table["error"] == "").all(), list(table["error"])
    assert list(table["net_pnl"]) == [r.stats.iloc[0]["net_pnl"] for r in alone]

    speed_up = sequential / swept
    overhead = (swept * WORKERS - sequential) / len(CELLS)
    print(f"machine: {os.cpu_count()} CPUs, load average {os.getloadavg()[0]:.2f}")
    print(f"{len(CELLS)} cells, each a backtest of {rows:,} rows of two symbols")
    print(f"one after another in one process   {sequential:6.2f} s ({sequential / len(CELLS):.2f} s a cell)")
    print(f"sweep on {WORKERS} workers, cluster started {swept:6.2f} s")
    print(f"the local cluster's start           {started:6.2f} s (sweep(client=None) pays it once)")
    met = "met" if speed_up >= TARGET_SPEED_UP else "not met"
    print(f"speed-up                            {speed_up:6.2f} (goal >= {TARGET_SPEED_UP} idle: {met})")
    met = "met" if overhead <= TARGET_OVERHEAD_S else "not met"
    print(f"overhead per cell                   {overhead:6.3f} s (goal <= {TARGET_OVERHEAD_S}: {met})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
