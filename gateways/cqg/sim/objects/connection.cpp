#include "objects/connection.hpp"
#include "orbrix/cqgsim/vendor_objects.hpp"

#include <array>
#include <thread>
#include <utility>

#include "objects/constants.hpp"

namespace orbrix::cqgsim {

using automation::Variant;

void Connection::startup() {
  auto& controls = session_.controls();
  controls.count_startup();
  const StartupBehaviour b = controls.fault_plan().startup;
  switch (b.answer) {
    case StartupBehaviour::Answer::Started:
      session_.open_venue();
      session_.set_started();
      session_.after(b.delay, [this] {
        session_.fire(cqg::CelEvent::OnCELStarted, {});
        const std::array<Variant, 1> up{Variant(constants().csConnectionUp)};
        session_.fire(cqg::CelEvent::OnDataConnectionStatusChanged, up);
      });
      session_.follow_wall_clock();
      break;
    case StartupBehaviour::Answer::DataError: {
      Variant error;
      if (b.with_error_object) {
        error = make_error(b.error_code, b.error_description);
      }
      // No venue, but the answer is due on the clock all the same.
      session_.start_clock();
      session_.after(b.delay,
                     [this, args = std::array<Variant, 2>{error, Variant(b.error_description)}] {
                       session_.fire(cqg::CelEvent::OnDataError, args);
                     });
      session_.follow_wall_clock();
      break;
    }
    case StartupBehaviour::Answer::Silent:
      break;
  }
}

void Connection::shutdown() {
  if (const auto delay = session_.controls().fault_plan().shutdown_delay; delay.count() > 0) {
    std::this_thread::sleep_for(delay);
  }
  session_.shut_down_now();
}

void Connection::gw_logon(const Variant& user, const Variant& password) {
  (void)user.as_string();
  (void)password.as_string();
  session_.require_started("GWLogon");
  const auto b = session_.controls().fault_plan().gateway;
  if (b.answer == GatewayBehaviour::Answer::Never || gateway_dropped_) {
    return;  // a dropped connection answers no log-on
  }
  session_.after(b.delay, [this] {
    if (gateway_dropped_) {
      return;
    }
    logged_on_ = true;
    const std::array<Variant, 1> args{Variant(constants().csConnectionUp)};
    session_.fire(cqg::CelEvent::OnGWConnectionStatusChanged, args);
    // What happened to the orders while the connection was down follows.
    for (const auto& e : std::exchange(held_, {})) {
      trading_.deliver(e);
    }
  });
}

void Connection::gw_logoff() {
  session_.require_started("GWLogoff");
  const auto b = session_.controls().fault_plan().gateway;
  if (b.answer == GatewayBehaviour::Answer::Never) {
    return;
  }
  session_.after(b.delay, [this] {
    logged_on_ = false;
    const std::array<Variant, 1> args{Variant(constants().csConnectionDown)};
    session_.fire(cqg::CelEvent::OnGWConnectionStatusChanged, args);
  });
}

void Connection::set_gateway_dropped(bool dropped) {
  session_.require_started(dropped ? "drop_gateway" : "restore_gateway");
  session_.flush();  // what happened before the drop is told first
  if (dropped && !gateway_dropped_ && logged_on_) {
    logged_on_ = false;
    const std::array<Variant, 1> args{Variant(constants().csConnectionDown)};
    session_.fire(cqg::CelEvent::OnGWConnectionStatusChanged, args);
  }
  gateway_dropped_ = dropped;
}

void Connection::set_data_dropped(bool dropped) {
  session_.require_started(dropped ? "drop_data" : "restore_data");
  session_.flush();
  if (dropped != data_dropped_) {
    data_dropped_ = dropped;
    const auto& k = constants();
    const std::array<Variant, 1> args{Variant(dropped ? k.csConnectionDown : k.csConnectionUp)};
    session_.fire(cqg::CelEvent::OnDataConnectionStatusChanged, args);
  }
}

bool Connection::hold(const venue::TradingEvent& event) {
  if (!gateway_dropped_) {
    return false;
  }
  held_.push_back(event);
  return true;
}

}  // namespace orbrix::cqgsim
