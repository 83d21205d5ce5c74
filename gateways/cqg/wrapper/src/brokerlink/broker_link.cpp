#include "orbrix/cqg/broker_link.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "internal.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/interruption.hpp"
#include "orbrix/common/durations.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/trace.hpp"
#include "recovery_worker.hpp"
#include "risk_book.hpp"
#include "worker_state.hpp"

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

BrokerLink::BrokerLink()
    : risk_(std::make_unique<detail::RiskBook>()), worker_(std::make_unique<WorkerState>()) {}
// Recovery's thread is stopped first: it uses the members destroyed after.
BrokerLink::~BrokerLink() {
  recovery_.store(nullptr, std::memory_order_release);
  recovery_owner_.reset();
}

void BrokerLink::Init(BaseGateway& gateway) {
  api_host_.store(gateway.apiHost(), std::memory_order_release);
  gateway_.store(&gateway, std::memory_order_release);
}

void BrokerLink::set_timeout(std::chrono::milliseconds timeout) {
  if (timeout < timeout.zero()) {
    throw std::invalid_argument(
        fmt::format("BrokerLink.set_timeout: {} ms is negative", timeout.count()));
  }
  timeout_ms_.store(timeout.count(), std::memory_order_relaxed);
}

std::chrono::milliseconds BrokerLink::timeout() const noexcept {
  return std::chrono::milliseconds(timeout_ms_.load(std::memory_order_relaxed));
}

void BrokerLink::set_account_reload_pause(std::chrono::milliseconds pause) {
  if (pause < pause.zero()) {
    throw std::invalid_argument(
        fmt::format("BrokerLink.set_account_reload_pause: {} ms is negative", pause.count()));
  }
  reload_pause_ms_.store(pause.count(), std::memory_order_relaxed);
}

void BrokerLink::set_record_clock(std::shared_ptr<RecordClock> clock) {
  RecordClock* raw = clock.get();
  if (clock) {
    // Kept: the worker may be reading the one it replaces.
    MutexLock guard(clocks_mutex_);
    clocks_.push_back(std::move(clock));
  }
  record_clock_.store(raw, std::memory_order_release);
}

DateTime BrokerLink::record_time() {
  if (RecordClock* clock = record_clock_.load(std::memory_order_acquire)) {
    return clock->now();
  }
  return local_now();
}

std::shared_ptr<decoded::Sink> BrokerLink::decoded_sink() {
  // Shares this object's life: the simulator holding it keeps it alive.
  return std::shared_ptr<decoded::Sink>(shared_from_this(), static_cast<decoded::Sink*>(this));
}

const automation::Object& BrokerLink::cel(std::string_view operation) const {
  ApiHost* host = apiHost();
  if (host == nullptr) {
    throw std::logic_error(fmt::format(
        "BrokerLink.{}: no API host is bound; call Init with the engine's gateway first",
        operation));
  }
  if (host->shutting_down()) {
    rethrow_closing(operation);
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

bool BrokerLink::closing() const noexcept {
  const ApiHost* host = apiHost();
  return host != nullptr && host->shutting_down();
}

void BrokerLink::rethrow_closing(std::string_view operation) const {
  const std::exception_ptr error = std::current_exception();
  if (closing()) {
    // What the vendor said as it went away, for the curious.
    std::string cause;
    if (error) {
      try {
        std::rethrow_exception(error);
      } catch (const std::exception& e) {
        cause = fmt::format(" ({})", e.what());
      } catch (...) {
      }
    }
    throw automation::DisconnectedError(
        fmt::format("BrokerLink.{}: the API host is shutting down{}", operation, cause));
  }
  if (error) {
    std::rethrow_exception(error);
  }
  throw std::logic_error(fmt::format("BrokerLink.{}: rethrow_closing without an error", operation));
}

bool BrokerLink::wait(const automation::Event& event, std::string_view operation) const {
  // In slices, so a Shutdown that begins meanwhile releases the wait within
  // one slice, and the thread's interruption check (Ctrl-C in Python) runs;
  // an event set before then wins.
  constexpr auto kSlice = std::chrono::milliseconds(10);
  const auto deadline =
      deadline_after<std::chrono::steady_clock>(std::chrono::steady_clock::now(), timeout());
  automation::InterruptionPacer interruption;
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (event.wait_until(std::min(deadline, now + kSlice))) {
      return true;
    }
    if (closing()) {
      rethrow_closing(operation);
    }
    interruption.poll();
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
  }
}

void BrokerLink::pause(std::chrono::milliseconds length, std::string_view operation) const {
  // A wait for an event nobody sets, cut short like any other wait.
  const automation::Event never;
  const auto deadline =
      deadline_after<std::chrono::steady_clock>(std::chrono::steady_clock::now(), length);
  automation::InterruptionPacer interruption;
  constexpr auto kSlice = std::chrono::milliseconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    never.wait_until(std::min(deadline, std::chrono::steady_clock::now() + kSlice));
    if (closing()) {
      throw automation::DisconnectedError(
          fmt::format("BrokerLink.{}: the API host is shutting down", operation));
    }
    interruption.poll();
  }
}

BrokerLink::WorkerState& BrokerLink::worker_state() const {
  on_worker_.assert_current();
  return *worker_;
}

bool RemovedObjects::contains(const Variant& object) const {
  if (objects_.empty() || object.kind() != automation::VariantKind::Object) {
    return false;
  }
  const automation::Object o(object);
  return std::any_of(objects_.begin(), objects_.end(),
                     [&o](const automation::Object& r) { return r.same_object(o); });
}

bool RemovedObjects::contains(const void* identity) const {
  return std::any_of(objects_.begin(), objects_.end(), [identity](const automation::Object& r) {
    return r.dispatch()->identity() == identity;
  });
}

void RemovedObjects::add(automation::Object object) {
  constexpr std::size_t kRemembered = 64;
  objects_.push_back(std::move(object));
  if (objects_.size() > kRemembered) {
    objects_.pop_front();
  }
}

void RemovedObjects::erase(const Variant& object) {
  if (objects_.empty() || object.kind() != automation::VariantKind::Object) {
    return;
  }
  const automation::Object o(object);
  std::erase_if(objects_, [&o](const automation::Object& r) { return r.same_object(o); });
}

namespace detail {

DateTime vendor_time(const automation::Variant& v) {
  return truncate_to_seconds(v.as_date());
}

AccountLookup find_account(const automation::Object& cel, std::int64_t gw_account_id) {
  AccountLookup result;
  vendor::Walk walk(vendor::Cel(cel).Accounts());
  for (automation::Variant item; walk.next(item);) {
    const vendor::Account account{automation::Object(item)};
    const automation::Variant id = account.GWAccountID();
    const automation::Variant name = account.GWAccountName();
    result.lines.push_back(fmt::format("GW Account id: {} name: {}", id.to_text(), name.to_text()));
    if (id.as_int() == gw_account_id) {
      result.lines.push_back(
          fmt::format("[Found] GW Account id: {} name: {}", id.to_text(), name.to_text()));
      result.account = account.object();
      break;
    }
  }
  return result;
}

void trace_lines(const std::vector<std::string>& lines) {
  TraceLines(lines);
}

}  // namespace detail
}  // namespace orbrix::cqg
