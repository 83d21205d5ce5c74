"""The orbrix CQG gateway for Python engines.

Security and engine records, ``BaseGateway`` (subclass it for your engine),
``ApiHost`` and ``BrokerLink`` (the gateway to CQGCEL, or to the simulated
CQGCEL this package embeds), the simulator's controls, backtests over
recorded history and the Telegram control bot. Durations are in seconds.
The classes and functions live in the compiled module ``orbrix_cqg._core``;
this package exports them under ``orbrix_cqg``.
"""

from ._core import *  # noqa: F401,F403  (the public names; see _core.pyi)
from ._core import __version__ as __version__
from ._core import _live_objects as _live_objects
from ._core import _set_shutdown_at_exit as _set_shutdown_at_exit

import logging as _logging
import sys as _sys
import types as _types

# A class deriving from the module's classes and defined in a script (an
# engine's gateway in __main__) is pickled by value when it crosses to
# another process (a sweep's workers); its metaclass, pybind11's, is then
# pickled by reference, which needs its module to be known by name.
_metaclass = type(BaseGateway)  # noqa: F405
if _metaclass.__module__ not in _sys.modules:
    _builtins = _types.ModuleType(_metaclass.__module__)
    setattr(_builtins, _metaclass.__name__, _metaclass)
    _sys.modules[_metaclass.__module__] = _builtins

from ._core import set_trace_sink as _set_trace_sink


def trace_to_logging(logger: str = "orbrix", level: int = _logging.INFO) -> None:
    """Sends the gateway's traced lines to the logging module: each line
    becomes a record of `logger` ("orbrix" unless named) at `level` (INFO
    unless given), logged on the thread that traced it. Configure the
    logger as any other (handlers, level, propagation); set_trace_sink(None)
    sends the lines back to standard output."""
    log = _logging.getLogger(logger)

    def to_logging(line: str) -> None:
        log.log(level, line)

    _set_trace_sink(to_logging)


from ._sweep import sweep as sweep  # noqa: E402  (Dask is imported when a sweep runs)
