// orbrix-demo: a small engine over the CQGCEL simulator. It hosts the vendor
// object in its apartment, connects a sink, starts the vendor library, shows
// what arrives and shuts everything down again.
#include <cstdio>
#include <exception>

#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/trace.hpp"

namespace {

using orbrix::cqg::Trace;

// The demo's sink: reports the vendor's connection events as they come.
class DemoSink : public orbrix::cqg::CELSinkBase {
 public:
  void OnCELStarted() override { Trace("demo: the vendor library reports it has started"); }
  void OnDataError(const orbrix::cqg::Variant&, const orbrix::cqg::Variant& description) override {
    Trace("demo: data error: " + description.to_text());
  }
  std::string_view type_name() const noexcept override { return "DemoSink"; }
};

}  // namespace

int main() {
  try {
    orbrix::cqg::ApiHost host;
    auto sink = host.Init<DemoSink>(nullptr);
    if (host.errorHappened) {
      host.Shutdown();
      std::fprintf(stderr, "orbrix-demo: the vendor library reported an error at start-up\n");
      return 1;
    }
    host.Shutdown();
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orbrix-demo: %s\n", e.what());
    return 1;
  }
}
