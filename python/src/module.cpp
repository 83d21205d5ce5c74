// orbrix_cqg._core: the CQG gateway modules for Python engines, exported by
// the package orbrix_cqg.

#include "bindings.hpp"

PYBIND11_MODULE(_core, m) {
  using namespace orbrix::python;
  m.doc() =
      R"doc(The orbrix CQG gateway: security and engine records, BaseGateway, safe_call, ApiHost, BrokerLink, the simulated CQGCEL and the Telegram control bot.

Durations are in seconds (floats); a time-out of math.inf waits without
limit, and NaN or a negative duration raises ValueError. The engine's
gateway hooks run on the API host's worker thread with the GIL taken;
BrokerLink's operations run on the engine's threads and release the GIL
while they wait, and Ctrl-C ends their waits with KeyboardInterrupt.
Errors: an invalid value raises ValueError, a wrong type TypeError, a
missing key KeyError, an operation on a host that is shutting down
DisconnectedError (a ConnectionError), and a time-out, a failed check or
a misuse RuntimeError.)doc";
  m.attr("__version__") = ORBRIX_VERSION;
  bind_errors(m);
  bind_records(m);
  bind_safe_call(m);
  bind_vendor_object(m);
  bind_gateway(m);
  // BrokerLink before ApiHost, whose Init returns one: a signature names a
  // class bound before it.
  bind_broker_link(m);
  bind_host(m);
  bind_simulator(m);
  bind_bot(m);
  bind_live_counts(m);
  bind_bench_support(m);
  bind_backtest(m);
  bind_trace_sink(m);
}
