#!/usr/bin/env python3
"""The moving-average cross of backtest.py swept over fast x slow lengths:
one backtest per pair, spread over the worker processes of a local Dask
cluster (one per core), or of an existing cluster with --scheduler. Prints
the best pairs by Sharpe ratio (then net P&L) and writes the whole table.

    PYTHONPATH=<prefix>/lib/python3/dist-packages python3 examples/python/sweep.py \\
        EP=gateways/cqg/sim/venue/market/data/ep_quotes_sample.csv --warm-up 8

On other machines: `dask scheduler` on one, `dask worker tcp://HOST:8786` on
each (with the orbrix_cqg package and the history files at the same paths),
then --scheduler tcp://HOST:8786 here. The engine's module (backtest.py) is
sent to the workers.
"""

import argparse
import functools
import os
import sys
from typing import Any, Optional

import orbrix_cqg as cqg

from backtest import MovingAverageCross, history


def make_cross(symbol: str, fast: int, slow: int) -> MovingAverageCross:
    return MovingAverageCross([symbol], fast, slow)


def lengths(text: str) -> list[int]:
    """"2,3,5" as [2, 3, 5]."""
    try:
        values = [int(v) for v in text.split(",")]
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not a list of whole numbers") from None
    if not values or min(values) < 1:
        raise argparse.ArgumentTypeError(f"{text!r}: lengths are whole numbers from 1")
    return values


def main() -> None:
    parser = argparse.ArgumentParser(
        description="The moving-average cross swept over fast x slow lengths on Dask distributed.",
        formatter_class=argparse.ArgumentDefaultsHelpFormatter)
    parser.add_argument("history", type=history, help="the history of one symbol, SYMBOL=FILE")
    parser.add_argument("--fast", type=lengths, default=[2, 3, 5], help="fast lengths, in bars")
    parser.add_argument("--slow", type=lengths, default=[4, 8, 13, 21], help="slow lengths, in bars")
    parser.add_argument("--warm-up", type=int, default=30, help="minutes of history before the start")
    parser.add_argument("--scheduler", default=None,
                        help="a Dask scheduler's address (none: a local cluster, a process per core)")
    parser.add_argument("--out", default="sweep.csv", help="the table, as CSV")
    parser.add_argument("--best", type=int, default=5, help="how many of the best pairs to print")
    parser.add_argument("--version", action="version", version=f"%(prog)s {cqg.__version__}")
    args = parser.parse_args()
    symbol, path = args.history
    grid = [{"fast": f, "slow": s} for f in args.fast for s in args.slow if f < s]
    if not grid:
        parser.error("no pair has its fast length below its slow one")

    client: Optional[Any] = None
    if args.scheduler:
        import distributed

        connect: Any = distributed.Client  # Dask's API is untyped
        client = connect(args.scheduler)
        client.upload_file(os.path.join(os.path.dirname(os.path.abspath(__file__)), "backtest.py"))
    try:
        table = cqg.sweep(functools.partial(make_cross, symbol), grid, [(symbol, path)],
                          client=client, warm_up_minutes=args.warm_up)
    finally:
        if client is not None:
            client.close()
    table.to_csv(args.out, index=False)
    failed = table[table["error"] != ""]
    ran = table[table["error"] == ""]
    best = ran.sort_values(["sharpe", "net_pnl"], ascending=False, na_position="last")
    columns = ["fast", "slow", "net_pnl", "total_return_pct", "sharpe", "sortino", "max_drawdown",
               "trades", "win_rate_pct"]
    print(best[columns].head(args.best).to_string(index=False))
    print(f"{len(ran)} of {len(table)} pairs ran; the table is in {args.out}")
    for row in failed.itertuples():
        print(f"fast {row.fast}, slow {row.slow}: {row.error}", file=sys.stderr)


if __name__ == "__main__":
    main()
