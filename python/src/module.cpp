// orbrix_cqg: the CQG gateway modules for Python engines.

#include "bindings.hpp"

PYBIND11_MODULE(orbrix_cqg, m) {
  using namespace orbrix::python;
  m.doc() =
      "The orbrix CQG gateway: security and engine records, BaseGateway, safe_call, ApiHost, "
      "BrokerLink, the simulated CQGCEL and the Telegram control bot.";
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
