#include "orbrix/cqg/broker_link.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "internal.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/trace.hpp"

namespace orbrix::cqg {
namespace {

const date::time_zone* locate_hong_kong() noexcept {
#if defined(_WIN32)
  // The Windows build has no tz database (see cmake/win32/date).
  return nullptr;
#else
  try {
    return date::locate_zone("Asia/Hong_Kong");
  } catch (...) {
    // No tz database entry: the engine sees a null zone rather than the
    // library failing to load.
    return nullptr;
  }
#endif
}

}  // namespace

const date::time_zone* const TIMEZONE = locate_hong_kong();
Mutex lock;

BrokerLink::BrokerLink() = default;
BrokerLink::~BrokerLink() = default;

void BrokerLink::Init(BaseGateway& gateway) {
  api_host_.store(gateway.apiHost(), std::memory_order_release);
  gateway_.store(&gateway, std::memory_order_release);
}

void BrokerLink::set_timeout(std::chrono::milliseconds timeout) noexcept {
  timeout_ms_.store(timeout.count(), std::memory_order_relaxed);
}

std::chrono::milliseconds BrokerLink::timeout() const noexcept {
  return std::chrono::milliseconds(timeout_ms_.load(std::memory_order_relaxed));
}

void BrokerLink::set_account_reload_pause(std::chrono::milliseconds pause) noexcept {
  reload_pause_ms_.store(pause.count(), std::memory_order_relaxed);
}

const automation::Object& BrokerLink::cel(std::string_view operation) const {
  ApiHost* host = apiHost();
  if (host == nullptr) {
    throw std::logic_error(fmt::format(
        "BrokerLink.{}: no API host is bound; call Init with the engine's gateway first",
        operation));
  }
  if (host->cqgCEL.is_null()) {
    throw std::logic_error(fmt::format(
        "BrokerLink.{}: the API host has no vendor object (not started or shut down)", operation));
  }
  return host->cqgCEL;
}

void BrokerLink::ensure_not_on_worker(std::string_view operation) const {
  ApiHost* host = apiHost();
  if (host != nullptr && host->on_worker_thread()) {
    throw std::logic_error(fmt::format(
        "BrokerLink.{} cannot run on the API host's worker thread (inside an event handler): "
        "it waits for a vendor event that only this thread can deliver",
        operation));
  }
}

BaseGateway& BrokerLink::bound_gateway(std::string_view where) const {
  BaseGateway* g = gateway();
  if (g == nullptr) {
    throw std::logic_error(fmt::format(
        "BrokerLink.{}: no gateway is bound yet (Init has not run); the event is dropped", where));
  }
  return *g;
}

bool BrokerLink::wait(const automation::Event& event) const {
  return event.wait_for(timeout());
}

namespace detail {

DateTime vendor_time(const automation::Variant& v) {
  return truncate_to_seconds(v.as_date());
}

AccountLookup find_account(const automation::Object& cel, std::int64_t gw_account_id) {
  AccountLookup result;
  for (const automation::Variant& item : cel.object("Accounts").items()) {
    const automation::Object account(item);
    const automation::Variant id = account.get("GWAccountID");
    const automation::Variant name = account.get("GWAccountName");
    result.lines.push_back(fmt::format("GW Account id: {} name: {}", id.to_text(), name.to_text()));
    if (id.as_int() == gw_account_id) {
      result.lines.push_back(
          fmt::format("[Found] GW Account id: {} name: {}", id.to_text(), name.to_text()));
      result.account = account;
      break;
    }
  }
  return result;
}

void trace_lines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    Trace(line);
  }
}

}  // namespace detail
}  // namespace orbrix::cqg
