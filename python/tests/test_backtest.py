"""A Python engine as a backtest: the simulated clock's time, orders through
the gateway, the same result every run."""

import datetime
import os
import sys
import threading
import time

import pandas
import pytest

import orbrix_cqg as cqg

from conftest import EpEngine, RecordingGateway

SAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "gateways", "cqg", "sim", "venue",
                      "market", "data", "ep_quotes_sample.csv")


class Alternator(EpEngine):
    """Every minute a market order on EP, buying and selling in turn."""

    def __init__(self):
        super().__init__()
        self.times = []
        self.ids = []

    def on_timer(self, link, now):
        self.times.append(now)
        side = cqg.Direction.LONG if len(self.times) % 2 else cqg.Direction.SHORT
        security = self._gateway.securities["EP"]
        self.ids.append(link.place_order(cqg.Order(security, cqg.OrderType.MARKET, side, 1)))


def run(engine):
    return cqg.run_backtest(engine, [("EP", SAMPLE)], warm_up_minutes=5,
                            fill_model=cqg.FillModel(commission_per_contract=2.5))


def test_a_python_engine_runs_on_the_simulated_clock_and_the_same_way_twice():
    first, second = Alternator(), Alternator()
    one, two = run(first), run(second)
    assert one.summary() == two.summary()
    assert len(first.ids) >= 10 and len(one.orders) == len(first.ids)
    assert len(one.deals) >= len(first.ids) - 1  # the last, placed at the end, has no quote after it
    assert (one.deals["commission"] == 2.5).all()
    # The engine's time is the recording's, a minute at a time, in UTC.
    assert first.times[0] == datetime.datetime(2026, 12, 7, 14, 36, tzinfo=datetime.timezone.utc)
    assert all(b - a == datetime.timedelta(minutes=1) for a, b in zip(first.times, first.times[1:]))
    # Deals reached the engine's own hook too.
    assert len(first.gateway().records("deal")) == len(one.deals)


def test_an_engine_error_ends_the_run_with_that_error(tmp_path):
    class Broken(Alternator):
        def start(self, link):
            raise ValueError("no start today")

    try:
        run(Broken())
        assert False, "the run went on"
    except ValueError as e:
        assert "no start today" in str(e)
    result = run(Alternator())
    files = result.write_report(tmp_path, charts=False)
    assert (tmp_path / "summary.txt").read_text() == result.summary()
    assert sorted(f.name for f in files) == ["balance.csv", "bars.csv", "deals.csv", "orders.csv",
                                             "pnl.csv", "stats.csv", "summary.txt", "trades.csv"]


def test_quotes_carry_the_recordings_date_on_both_paths():
    # The recording is of December 7, 2026, 14:30 UTC on: every quote the
    # engine is handed is stamped with the simulated time of its event, as
    # local time (converted as the live gateway converts the wall clock's).
    first = datetime.datetime(2026, 12, 7, 14, 35, tzinfo=datetime.timezone.utc)  # the start
    start = first.astimezone().replace(tzinfo=None)
    end = (first + datetime.timedelta(hours=2)).astimezone().replace(tzinfo=None)
    summaries = []
    for path in ("direct", "vendor"):
        engine = Alternator()
        result = cqg.run_backtest(engine, [("EP", SAMPLE)], warm_up_minutes=5, path=path)
        quotes = engine.gateway().records("quote")
        assert len(quotes) > 50
        assert all(start <= q.datetime <= end for q in quotes), (quotes[0].datetime, path)
        summaries.append(result.summary())
    assert summaries[0] == summaries[1]
    try:
        cqg.run_backtest(Alternator(), [("EP", SAMPLE)], path="objects")
        assert False, "an unknown path was taken"
    except ValueError as e:
        assert "path" in str(e)


def test_an_order_latency_finer_than_a_millisecond_is_refused():
    try:
        cqg.run_backtest(Alternator(), [("EP", SAMPLE)], order_latency=0.0004)
        assert False, "a latency the venue cannot keep was taken as 0"
    except ValueError as e:
        assert "whole number of milliseconds" in str(e)


def test_results_come_back_as_data_frames_that_agree_with_the_run():
    engine = Alternator()
    result = run(engine)
    orders, deals, trades = result.orders, result.deals, result.trades
    equity, stats = result.equity, result.stats
    for frame in (orders, deals, trades, equity, stats):
        assert isinstance(frame, pandas.DataFrame)
    assert list(orders["order_id"]) == engine.ids
    assert set(orders["symbol"]) == {"EP"} and set(orders["full_name"]) == {"F.US.EPZ26"}
    assert set(orders["status"]) <= {"filled", "working", "in transit"}
    # Deals with their times, in UTC, within the run and in order.
    assert str(deals["time"].dtype) == "datetime64[ns, UTC]"
    assert deals["time"].is_monotonic_increasing
    assert deals["time"].iloc[0] >= engine.times[0] - datetime.timedelta(minutes=1)
    assert set(deals["order_id"]) <= set(engine.ids)
    assert set(deals["side"]) == {"buy", "sell"}
    # Alternate buys and sells of one: each sell closes the buy before it.
    assert len(trades) == len(deals) // 2
    assert (trades["exit_time"] > trades["entry_time"]).all()
    assert (trades["duration"] == trades["exit_time"] - trades["entry_time"]).all()
    assert (trades["fees"] == 5.0).all()
    # The equity curve starts where the account did and ends where it ends.
    assert equity["time"].is_monotonic_increasing
    assert equity["net_liquidating_value"].iloc[-1] == pytest.approx(result.net_liquidating_value)
    assert (equity["drawdown"] >= 0).all()
    assert equity["drawdown"].max() == pytest.approx(result.max_drawdown)
    assert list(stats["scope"]) == ["all", "EP"]
    whole = stats.iloc[0]
    assert whole["currency"] == "USD" and whole["trades"] == len(trades)
    assert whole["net_pnl"] == pytest.approx(
        result.net_liquidating_value - equity["net_liquidating_value"].iloc[0])
    assert pandas.isna(whole["sharpe"])  # an afternoon: fewer than two days of returns
    assert stats.iloc[1]["full_name"] == "F.US.EPZ26"


def test_without_pandas_results_are_lists_of_dicts_with_the_same_columns(monkeypatch):
    result = run(Alternator())
    frames = {name: getattr(result, name) for name in ("orders", "deals", "trades", "equity",
                                                       "stats")}
    monkeypatch.setitem(sys.modules, "pandas", None)  # import pandas now fails
    for name, frame in frames.items():
        rows = getattr(result, name)
        assert isinstance(rows, list) and len(rows) == len(frame), name
        assert list(rows[0]) == list(frame.columns), name
    deal = result.deals[0]
    assert deal["time"].tzinfo == datetime.timezone.utc
    assert deal["symbol"] == "EP" and deal["full_name"] == "F.US.EPZ26"
    assert result.stats[0]["sharpe"] is None


def test_the_report_names_the_zone_its_times_are_in(tmp_path):
    result = run(Alternator())
    result.write_report(tmp_path, charts=False, time_zone="Asia/Hong_Kong")
    header, first = (tmp_path / "deals.csv").read_text().splitlines()[:2]
    assert header.endswith(",time_local")
    assert first.endswith("+08:00") and ",EP,F.US.EPZ26," in first
    # 14:36 UTC on December 7 is 22:36 in Hong Kong.
    assert "2026-12-07T22:3" in first
    summary = (tmp_path / "summary.txt").read_text()
    assert summary == result.summary(time_zone="Asia/Hong_Kong")
    assert "times in Asia/Hong_Kong" in summary
    assert "times in UTC" in result.summary()
    with pytest.raises(ValueError, match="Atlantis"):
        result.summary(time_zone="Atlantis/Capital")


class SlowAlternator(Alternator):
    """The same, 0.15 s of wall time per simulated minute, so a progress
    callback asked for each second is called while the run goes."""

    def on_timer(self, link, now):
        super().on_timer(link, now)
        time.sleep(0.15)


def test_progress_is_told_about_each_second_with_the_gil_and_its_errors_end_the_run():
    told = []

    def progress(p):
        # Python runs here: the GIL is held.
        told.append((p.fraction, p.rows, p.now, p.seconds_left, threading.get_ident()))

    result = cqg.run_backtest(SlowAlternator(), [("EP", SAMPLE)], warm_up_minutes=5,
                              progress=progress)
    assert 2 <= len(told) <= 5, told  # about a second each of some 1.2 s, and the end
    assert all(t[4] == threading.get_ident() for t in told)
    assert [t[0] for t in told] == sorted(t[0] for t in told)
    assert 0 < told[0][0] < 1 and told[0][3] is not None and told[0][3] > 0
    assert told[-1][0] == 1.0 and told[-1][1] == result.history_rows
    assert told[-1][2].tzinfo is not None

    def broken(p):
        raise ZeroDivisionError("the display failed")

    with pytest.raises(ZeroDivisionError, match="the display failed"):
        cqg.run_backtest(Alternator(), [("EP", SAMPLE)], warm_up_minutes=5, progress=broken)
    with pytest.raises(TypeError):
        cqg.run_backtest(Alternator(), [("EP", SAMPLE)], progress=3)


def test_traced_lines_go_to_the_trace_log_and_the_sink_set_before_comes_back(tmp_path):
    outside = []
    cqg.set_trace_sink(outside.append)
    try:
        log = tmp_path / "report" / "trace.log"
        cqg.run_backtest(Alternator(), [("EP", SAMPLE)], warm_up_minutes=5, trace_log=log)
        assert outside == []
        assert len(log.read_text().splitlines()) > 5
        cqg.Trace("after the run")
        assert len(outside) == 1 and outside[0].endswith(": after the run")
    finally:
        cqg.set_trace_sink(None)


def test_a_symbol_without_history_a_negative_seed_and_what_is_open_at_the_end():
    class TwoSymbols(Alternator):
        def __init__(self):
            super().__init__()
            self._gateway = RecordingGateway(("EP", "CLE"))

        def start(self, link):
            link.subscribe_quote("EP")
            link.subscribe_quote("CLE")

    with pytest.raises(Exception, match="CLE has no recorded history"):
        cqg.run_backtest(TwoSymbols(), [("EP", SAMPLE)], warm_up_minutes=5)
    for seed in (-1, 2**64):
        with pytest.raises(ValueError, match="seed"):
            cqg.run_backtest(Alternator(), [("EP", SAMPLE)], seed=seed)

    # The last order, placed at the end, has no quote after it: it is still
    # working when the data ends, listed by the summary; closing at the end
    # cancels it and leaves the account flat.
    open_result = run(Alternator())
    assert "working   " in open_result.summary()
    closed = cqg.run_backtest(Alternator(), [("EP", SAMPLE)], warm_up_minutes=5,
                              fill_model=cqg.FillModel(commission_per_contract=2.5),
                              close_at_end=True)
    assert "at end    flat, no order working" in closed.summary()
