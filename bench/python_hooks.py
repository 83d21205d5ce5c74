#!/usr/bin/env python3
"""The Python hook path: quote events per second reaching a Python
process_quote through the whole gateway (API host, BrokerLink, the simulated
CQGCEL on a manual clock), and the cost of one hook call against a bare
pybind11 call of a Python function from C++, both made the same number of
times from a C++ thread with the same quote, in the same run.

    PYTHONPATH=build/default/python /usr/bin/python3 bench/python_hooks.py
"""

import statistics
import sys
import time

import orbrix_cqg as cqg

TARGET_RATIO = 1.5


class CountingGateway(cqg.BaseGateway):
    def __init__(self, security):
        super().__init__()
        self.security = security
        self.cqg_quotes[security] = None
        self.cqg_orderbooks[security] = None
        self.quotes = 0

    def get_eng_security_from_cqg_symbol(self, cqg_symbol):
        return self.security if cqg_symbol.startswith("EP") else None

    def get_cqg_symbol_from_eng_security(self, security):
        return "EP"

    def process_quote(self, quote):
        self.quotes += 1

    def process_orderbook(self, orderbook):
        pass

    def process_order(self, update):
        pass

    def process_deal(self, deal):
        pass


def whole_gateway(simulated_seconds=60.0):
    """Quotes per wall second through the whole gateway."""
    ep = cqg.Futures(code="EP", security_name="EP front month")
    with cqg.Simulator() as sim:
        sim.set_config(cqg.SimConfig(manual_clock=True, mean_event_interval=0.001))
        host = cqg.ApiHost(use_simulator=True)
        gateway = CountingGateway(ep)
        link = host.Init(cqg.BrokerLink)
        gateway.apiHost = host
        link.Init(gateway)
        try:
            link.subscribe_quote("EP")
            sim.advance(1)
            before, start = gateway.quotes, time.perf_counter()
            sim.advance(simulated_seconds)
            elapsed = time.perf_counter() - start
            return (gateway.quotes - before) / elapsed, gateway.quotes - before
        finally:
            host.Shutdown()


def per_call(n=200_000, rounds=5):
    """Nanoseconds per call: the hook and the bare call, best of each round."""
    ep = cqg.Futures(code="EP", security_name="EP front month")
    quote = cqg.Quote(security=ep, exchange=ep.exchange, datetime=__import__("datetime").datetime(
        2026, 12, 8, 9, 30), bid_price=6050.0, ask_price=6050.25, last_price=6050.25)
    gateway = CountingGateway(ep)
    count = [0]

    def bare(q):
        count[0] += 1

    hook, plain = [], []
    for _ in range(rounds):
        plain.append(cqg._bare_loop(bare, quote, n) / n * 1e9)
        hook.append(cqg._hook_loop(gateway, quote, n) / n * 1e9)
    assert gateway.quotes == count[0] == n * rounds
    return min(hook), min(plain), statistics.median(hook), statistics.median(plain)


def main():
    rate, events = whole_gateway()
    hook_best, bare_best, hook_median, bare_median = per_call()
    ratio = hook_median / bare_median
    print(f"quote events reaching a Python process_quote: {rate:,.0f} per second "
          f"({events:,} events)")
    print(f"hook call from C++ (GIL, method look-up, quote copy, call): "
          f"median {hook_median:,.0f} ns, best {hook_best:,.0f} ns")
    print(f"bare pybind11 call of a Python function (GIL, quote copy, call): "
          f"median {bare_median:,.0f} ns, best {bare_best:,.0f} ns")
    print(f"hook vs bare call: {ratio:.2f} (target <= {TARGET_RATIO}) "
          f"{'met' if ratio <= TARGET_RATIO else 'not met'}")
    return 0 if ratio <= TARGET_RATIO else 1


if __name__ == "__main__":
    sys.exit(main())
