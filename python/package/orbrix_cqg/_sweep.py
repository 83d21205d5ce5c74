"""Parameter sweeps: one backtest per cell of a grid, spread over the worker
processes of a Dask distributed cluster (a local one by default).

Each cell runs in one worker process, one cell at a time there: the module
and its threads (the API host's worker, the backtest's clock) live in that
process. Dask starts a local cluster's workers with the "spawn" method: a
fresh interpreter that imports the module itself, never a fork of a process
whose threads hold locks. A cluster of other machines is reached through a
``distributed.Client``; each worker there reads the history files at the
paths given, so they must be at the same paths on every machine.
"""

from __future__ import annotations

import itertools
import logging
import os
import sys
import threading
from typing import Any, Callable, Dict, Iterable, List, Mapping, Optional, Sequence, Tuple, Union

Grid = Union[Mapping[str, Iterable[Any]], Sequence[Mapping[str, Any]]]

# A worker with several threads would run cells side by side; backtests in
# one process follow one another (the trace sink, say, is the process's).
_one_cell_at_a_time = threading.Lock()

# The columns of a backtest's statistics that say what the row is, not how
# it went: the sweep's rows are whole runs, named by their parameters.
_SCOPE_COLUMNS = ("scope", "full_name")


def cells_of(grid: Grid) -> List[Dict[str, Any]]:
    """The cells of `grid`: a dict of parameter -> values gives every
    combination (the first parameter varying slowest), a list of dicts
    gives those dicts. Raises ValueError for an empty grid, cells naming
    different parameters, or a parameter named "error"."""
    if isinstance(grid, Mapping):
        names = list(grid)
        values = [list(grid[name]) for name in names]
        cells = [dict(zip(names, combination)) for combination in itertools.product(*values)]
    else:
        cells = [dict(cell) for cell in grid]
    if not cells or not cells[0]:
        raise ValueError("sweep: the grid has no cells")
    names = list(cells[0])
    for cell in cells:
        if list(cell) != names:
            raise ValueError(f"sweep: every cell names the same parameters ({names}), not {list(cell)}")
    if "error" in names:
        raise ValueError('sweep: "error" is the column of a cell\'s failure, not a parameter')
    return cells


def _statistics_row(result: Any) -> Dict[str, Any]:
    """The whole account's row of a run's statistics, without its scope."""
    stats = result.stats
    rows = stats.to_dict("records") if hasattr(stats, "to_dict") else list(stats)
    whole = next(row for row in rows if row["scope"] == "all")
    return {name: value for name, value in whole.items() if name not in _SCOPE_COLUMNS}


def run_cell(make_engine: bytes, params: Dict[str, Any], histories: Sequence[Tuple[str, str]],
             options: Dict[str, Any]) -> Dict[str, Any]:
    """One cell, in the process it runs in: its engine made, its backtest
    run; its statistics, or the error that ended it. `make_engine` comes
    pickled, so this package is loaded before the engine's classes are."""
    import cloudpickle

    from . import _core

    try:
        engine = cloudpickle.loads(make_engine)(**params)
        run_options = dict(options)
        # A sweep's traced lines would be a worker's noise: to a named log,
        # or nowhere.
        run_options.setdefault("trace_log", os.devnull)
        # The cells share the cores: a run waiting for its worker sleeps
        # rather than spin on a core another cell needs.
        run_options.setdefault("spin", False)
        with _one_cell_at_a_time:
            result = _core.run_backtest(engine, list(histories), **run_options)
        return {"statistics": _statistics_row(result), "error": ""}
    except Exception as e:  # the cell's failure is its row's, the others go on
        return {"statistics": {}, "error": f"{type(e).__name__}: {e}"}


def sweep(make_engine: Callable[..., Any], grid: Grid, histories: Sequence[Tuple[str, str]], *,
          client: Optional[Any] = None, show_progress: Optional[bool] = None,
          **backtest_options: Any) -> Any:
    """Runs one backtest per cell of `grid` on a Dask distributed cluster
    and returns a pandas DataFrame, a row per cell in the grid's order: the
    cell's parameters, then the statistics of the whole account under the
    names stats.csv gives them (currency, net_pnl, total_return_pct, sharpe,
    sortino, max_drawdown, trades, win_rate_pct, ...), then `error` (empty
    when the cell ran; otherwise the exception's type and text, and the
    statistics empty).

    make_engine(**params) makes the engine of a cell (it and the engine's
    class must pickle: defined in a module, or in __main__, which Dask's
    cloudpickle carries by value). histories and backtest_options are
    run_backtest's (a cell's traced lines go nowhere unless trace_log is
    given). client: a distributed.Client; None starts a local cluster of
    one worker process per core (one thread each) and closes it at the
    end. A worker process that dies is replaced and its cell run again.
    show_progress: Dask's progress bar on standard error; None shows it
    when standard error is a terminal."""
    import cloudpickle
    import distributed
    import pandas

    cells = cells_of(grid)
    histories = [(str(symbol), os.fspath(path)) for symbol, path in histories]
    owned = None
    if client is None:
        workers = max(1, min(os.cpu_count() or 1, len(cells)))
        cluster = distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                           dashboard_address=None, silence_logs=logging.ERROR)
        owned = (cluster, distributed.Client(cluster))
        client = owned[1]
    try:
        engine_maker = cloudpickle.dumps(make_engine)
        futures = [client.submit(run_cell, engine_maker, cell, histories, backtest_options,
                                 pure=False) for cell in cells]
        if show_progress is None:
            show_progress = sys.stderr.isatty()
        if show_progress:
            distributed.progress(futures)
        outcomes = []
        for future in futures:
            try:
                outcomes.append(future.result())
            except Exception as e:  # the cell's worker died too often, say
                outcomes.append({"statistics": {}, "error": f"{type(e).__name__}: {e}"})
    finally:
        if owned is not None:
            owned[1].close()
            owned[0].close()
    columns: List[str] = []
    for outcome in outcomes:
        for name in outcome["statistics"]:
            if name not in columns:
                columns.append(name)
    rows = [{**cell, **{name: outcome["statistics"].get(name) for name in columns},
             "error": outcome["error"]} for cell, outcome in zip(cells, outcomes)]
    return pandas.DataFrame(rows, columns=[*cells[0], *columns, "error"])
