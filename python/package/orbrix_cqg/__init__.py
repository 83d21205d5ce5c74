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
