#pragma once

#include <atomic>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>

#include "orbrix/automation/apartment.hpp"
#include "orbrix/automation/class_info.hpp"
#include "orbrix/automation/connection_point.hpp"
#include "orbrix/automation/enumerator.hpp"
#include "orbrix/automation/wait.hpp"

namespace orbrix::automation::testing {

// A small automation class exercising every kind of member.
class Widget final : public AutomationObject<Widget> {
 public:
  static const ClassInfo& class_info() {
    static const ClassInfo info = [] {
      ClassInfo c("Widget");
      c.add_property(
          "Value", [](Dispatch& s, Args) -> Variant { return self_as<Widget>(s).value; },
          [](Dispatch& s, Args, const Variant& v) { self_as<Widget>(s).value = v.as_int(); });
      c.add_property("Name", [](Dispatch&, Args) -> Variant { return "widget"; });
      c.add_method("Add", [](Dispatch& s, Args a) -> Variant {
        expect_args(a, 1, "Widget", "Add");
        return self_as<Widget>(s).value += a[0].as_int();
      });
      c.add_method("Fail",
                   [](Dispatch&, Args) -> Variant { throw std::out_of_range("widget failure"); });
      c.add_method("MakeChild", [](Dispatch& s, Args) -> Variant {
        auto child = std::make_shared<Widget>();
        child->value = self_as<Widget>(s).value + 1;
        return child;
      });
      c.add_method("Identity", [](Dispatch&, Args a) -> Variant { return a[0]; });
      c.add_method("IsMe",
                   [](Dispatch& s, Args a) -> Variant { return a[0].as_object().get() == &s; });
      c.add_method("ThreadIsHome", [](Dispatch& s, Args) -> Variant {
        return s.apartment() && s.apartment()->is_current();
      });
      c.add_property("Item", [](Dispatch& s, Args a) -> Variant {
        expect_args(a, 1, "Widget", "Item");
        return self_as<Widget>(s).value * a[0].as_int();
      });
      c.set_default_member("Item");
      c.add_method("_NewEnum", [](Dispatch& s, Args) -> Variant {
        const auto v = self_as<Widget>(s).value;
        return std::make_shared<Enumerator>(std::vector<Variant>{v, v + 1, v + 2});
      });
      return c;
    }();
    return info;
  }

  Cookie advise(const DispatchPtr& sink) override { return events.advise(sink); }
  void unadvise(Cookie cookie) override { events.unadvise(cookie); }

  std::int64_t value = 0;
  ConnectionPoint events;
};

// A thread that owns an apartment and pumps it until stopped, as the API
// host's worker does. run() executes work on it and waits.
class ApartmentThread {
 public:
  ApartmentThread() {
    std::promise<std::shared_ptr<Apartment>> ready;
    auto f = ready.get_future();
    thread_ = std::thread([this, &ready] {
      co_initialize();
      ready.set_value(Apartment::current());
      WaitHandle* handles[] = {&stop_};
      for (;;) {
        auto r = msg_wait_for_multiple_objects(handles, false, kInfinite, kQsAllEvents);
        if (r == kWaitObject0 || (r == kWaitObject0 + 1 && pump_waiting_messages())) {
          break;
        }
      }
      co_uninitialize();
    });
    apartment_ = f.get();
  }
  ~ApartmentThread() { stop(); }

  void request_stop() { stop_.set(); }
  void stop() {
    stop_.set();
    if (thread_.joinable()) {
      thread_.join();
    }
  }
  template <class F>
  auto run(F f) {
    std::packaged_task<decltype(f())()> task(std::move(f));
    auto result = task.get_future();
    apartment_->post([&task] { task(); });
    return result.get();
  }
  const std::shared_ptr<Apartment>& apartment() const { return apartment_; }

 private:
  WaitHandle stop_{false, false};
  std::shared_ptr<Apartment> apartment_;
  std::thread thread_;
};

}  // namespace orbrix::automation::testing
