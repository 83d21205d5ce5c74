"""Parameter sweeps on Dask distributed: a cell per backtest in worker
processes, the same statistics as the run alone, a failed cell its own,
and a worker that dies costing no cell."""

import math
import os
import signal
import threading
import time

import distributed
import pytest

import orbrix_cqg as cqg

from conftest import EpEngine, run_script

SAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "gateways", "cqg", "sim", "venue",
                      "market", "data", "ep_quotes_sample.csv")
HISTORIES = [("EP", SAMPLE)]
OPTIONS = {"warm_up_minutes": 5, "fill_model": cqg.FillModel(commission_per_contract=2.5)}


class Trader(EpEngine):
    """Every `every` minutes a market order of `size` on EP, buying and
    selling in turn; `fail` raises at its third timer; `pause` seconds of
    wall time per timer make a cell last."""

    def __init__(self, every, size, fail=False, pause=0.0):
        super().__init__()
        self.every, self.size, self.fail, self.pause = every, size, fail, pause
        self.timers = 0

    def on_timer(self, link, now):
        self.timers += 1
        time.sleep(self.pause)
        if self.fail and self.timers == 3:
            raise RuntimeError("the strategy's third minute failed")
        if self.timers % self.every == 0:
            side = cqg.Direction.LONG if (self.timers // self.every) % 2 else cqg.Direction.SHORT
            security = self._gateway.securities["EP"]
            link.place_order(cqg.Order(security, cqg.OrderType.MARKET, side, self.size))


def make_trader(every, size, fail=False, pause=0.0):
    return Trader(every, size, fail, pause)


def missing(v):
    """A figure not given: None, or NaN once a column of numbers holds it."""
    return v is None or (isinstance(v, float) and math.isnan(v))


def same(a, b):
    return a == b or (missing(a) and missing(b))


@pytest.fixture(scope="module")
def two_workers():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            yield client


def test_a_grid_sweeps_on_a_local_cluster_and_a_cell_equals_its_run_alone():
    table = cqg.sweep(make_trader, {"every": [1, 2, 3], "size": [1, 2]}, HISTORIES, **OPTIONS)
    assert list(table[["every", "size"]].itertuples(index=False, name=None)) == [
        (1, 1), (1, 2), (2, 1), (2, 2), (3, 1), (3, 2)]
    assert list(table.columns[:2]) == ["every", "size"] and table.columns[-1] == "error"
    for name in ("currency", "net_pnl", "fees", "total_return_pct", "sharpe", "sortino",
                 "max_drawdown", "trades", "win_rate_pct", "profit_factor"):
        assert name in table.columns, name
    assert (table["error"] == "").all(), table["error"]
    # Fees follow the orders a cell placed: more and larger orders, more fees.
    fees = dict(zip(zip(table["every"], table["size"]), table["fees"]))
    assert fees[(1, 2)] == 2 * fees[(1, 1)] > fees[(3, 1)] > 0
    alone = cqg.run_backtest(make_trader(2, 1), HISTORIES, **OPTIONS).stats.iloc[0]
    cell = table[(table["every"] == 2) & (table["size"] == 1)].iloc[0]
    for name in table.columns[2:-1]:
        assert same(cell[name], alone[name]), name


def test_a_failed_cell_gets_its_error_and_the_others_run(two_workers):
    grid = [{"every": 1, "size": 1, "fail": False}, {"every": 1, "size": 1, "fail": True},
            {"every": 2, "size": 1, "fail": False}]
    table = cqg.sweep(make_trader, grid, HISTORIES, client=two_workers, **OPTIONS)
    assert list(table["error"][[0, 2]]) == ["", ""]
    assert table["error"][1] == "RuntimeError: the strategy's third minute failed"
    assert math.isnan(table["net_pnl"][1]) and not math.isnan(table["net_pnl"][0])
    # A history refused fails every cell with its reason, and the client
    # stays usable.
    missing = cqg.sweep(make_trader, {"every": [1], "size": [1]}, [("EP", "/no/such.csv")],
                        client=two_workers, **OPTIONS)
    assert missing["error"][0].startswith("FileNotFoundError")
    assert not two_workers.status == "closed"
    with pytest.raises(ValueError, match="no cells"):
        cqg.sweep(make_trader, {"every": []}, HISTORIES, client=two_workers)
    with pytest.raises(ValueError, match="same parameters"):
        cqg.sweep(make_trader, [{"every": 1}, {"size": 1}], HISTORIES, client=two_workers)


def test_a_worker_killed_mid_sweep_costs_no_cell(two_workers):
    pids = list(two_workers.run(os.getpid).values())
    assert len(pids) == 2
    # About a second of wall time per cell: the kill lands while cells run.
    killer = threading.Timer(1.5, os.kill, (pids[0], signal.SIGKILL))
    killer.start()
    try:
        table = cqg.sweep(make_trader, {"every": [1, 2, 3], "size": [1, 2], "pause": [0.05]},
                          HISTORIES, client=two_workers, **OPTIONS)
    finally:
        killer.cancel()
    assert len(table) == 6
    assert (table["error"] == "").all(), list(table["error"])
    assert table["net_pnl"].notna().all()
    two_workers.wait_for_workers(2, timeout=30)
    assert pids[0] not in two_workers.run(os.getpid).values()  # replaced


def test_an_engine_whose_gateway_is_defined_in_the_script_sweeps():
    # Its classes go to the workers by value, the gateway's base and
    # metaclass by reference.
    status, out, err = run_script("""
        import sys

        class Engine:
            def __init__(self, every):
                self._gateway = Gateway()
            def gateway(self):
                return self._gateway
            def interval(self):
                return 60.0
            def start(self, link):
                link.subscribe_quote("EP")
            def on_timer(self, link, now):
                pass

        if __name__ == "__main__":
            table = cqg.sweep(Engine, {"every": [1, 2]}, [("EP", sys.argv[1])], warm_up_minutes=5)
            print(list(table["error"]))
    """, SAMPLE, timeout=120)
    assert status == 0, err
    assert out.strip().splitlines()[-1] == "['', '']", out + err
