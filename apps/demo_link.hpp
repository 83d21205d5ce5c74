#pragma once

#include <atomic>

#include "demo_gateway.hpp"
#include "orbrix/cqg/broker_link.hpp"

namespace orbrix::demo {

// The gateway sink as the demo runs it: BrokerLink, plus a note of when each
// vendor event's handler starts, so the demo can tell the latency from a
// vendor event to the engine's hook. Worker thread, like every handler.
class DemoLink final : public cqg::BrokerLink {
 public:
  using Variant = automation::Variant;

  // Any thread, before events are to be timed.
  void attach(DemoGateway& gateway) noexcept { demo_.store(&gateway, std::memory_order_release); }

  void OnInstrumentChanged(const Variant& a, const Variant& b, const Variant& c) override {
    mark();
    BrokerLink::OnInstrumentChanged(a, b, c);
  }
  void OnTicksAdded(const Variant& a, const Variant& b) override {
    mark();
    BrokerLink::OnTicksAdded(a, b);
  }
  void OnOrderChanged(const Variant& a, const Variant& b, const Variant& c, const Variant& d,
                      const Variant& e) override {
    mark();
    BrokerLink::OnOrderChanged(a, b, c, d, e);
  }
  void OnTimedBarsAdded(const Variant& bars) override {
    if (auto* g = demo_.load(std::memory_order_acquire)) {
      g->count_bars(1);
    }
    BrokerLink::OnTimedBarsAdded(bars);
  }

 private:
  void mark() noexcept {
    if (auto* g = demo_.load(std::memory_order_acquire)) {
      g->event_started();
    }
  }
  std::atomic<DemoGateway*> demo_{nullptr};
};

}  // namespace orbrix::demo
