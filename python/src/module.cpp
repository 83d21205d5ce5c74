// orbrix_cqg._core: the CQG gateway modules for Python engines, exported by
// the package orbrix_cqg.

#include "bindings.hpp"

PYBIND11_MODULE(_core, m) {
  using namespace orbrix::python;
  m.doc() =
      "The orbrix CQG gateway: security and engine records, BaseGateway, safe_call, ApiHost, "
      "BrokerLink, the simulated CQGCEL and the Telegram control bot.";
  m.attr("__version__") = ORBRIX_VERSION;
  bind_errors(m);
  bind_records(m);
  bind_safe_call(m);
  bind_vendor_object(m);
  bind_gateway(m);
  bind_host(m);
  bind_broker_link(m);
  bind_simulator(m);
  bind_bot(m);
  bind_live_counts(m);
  bind_bench_support(m);
  bind_backtest(m);
}
