#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine_hooks.hpp"
#include "internal.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/common/durations.hpp"
#include "orbrix/cqg/trace.hpp"
#include "recovery_worker.hpp"

namespace orbrix::cqg {

using automation::Object;
using State = ConnectionEvent::State;
using namespace std::chrono_literals;

namespace {

std::string seconds_text(std::chrono::milliseconds d) {
  return fmt::format("{:g} s", std::chrono::duration<double>(d).count());
}

}  // namespace

void BrokerLink::enable_recovery(RecoveryOptions options) {
  // Checked once here: the back-off doubles the delay and adds it to the
  // clock's time, which overflows for delays of centuries.
  check_duration("enable_recovery: first_delay", options.first_delay, 1ms, kMaxRecoveryDelay);
  check_duration("enable_recovery: max_delay", options.max_delay, 1ms, kMaxRecoveryDelay);
  check_duration("enable_recovery: logon_wait", options.logon_wait, 0ms, kMaxRecoveryDelay);
  if (options.max_attempts < 0) {
    throw std::invalid_argument(
        fmt::format("enable_recovery: max_attempts must not be below 0 (0 tries for ever), got {}",
                    options.max_attempts));
  }
  if (recovery_owner_) {
    throw std::logic_error("enable_recovery: recovery is on already");
  }
  recovery_owner_ = std::make_unique<Recovery>(*this, options);
  recovery_.store(recovery_owner_.get(), std::memory_order_release);
}

bool BrokerLink::tell_connection(const ConnectionEvent& event,
                                 const std::function<bool()>& unless) {
  BaseGateway* g = gateway();
  bool told = false;
  // On the worker, where the connection handler runs: `unless` and the
  // hook see the connection reports in the order they came.
  automation::call_in_apartment(cel("process_connection"), [&](const Object&) {
    if (unless && unless()) {
      return;
    }
    told = true;
    if (g != nullptr) {
      detail::call_hook("process_connection", [&] { g->process_connection(event); });
    }
  });
  return told;
}

BrokerLink::Recovery::Recovery(BrokerLink& link, RecoveryOptions options)
    : link_(link), options_(options), thread_([this] { run(); }) {}

BrokerLink::Recovery::~Recovery() {
  {
    MutexLock lock(mutex_);
    ending_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void BrokerLink::Recovery::connection_lost() {
  {
    MutexLock lock(mutex_);
    lost_ = true;
    up_ = false;
    abandon_ = false;
  }
  cv_.notify_all();
}

void BrokerLink::Recovery::connection_up() {
  {
    MutexLock lock(mutex_);
    up_ = true;
  }
  cv_.notify_all();
}

bool BrokerLink::Recovery::dropped_again() const {
  MutexLock lock(mutex_);
  return lost_;
}

void BrokerLink::Recovery::stop() {
  {
    MutexLock lock(mutex_);
    abandon_ = true;
    lost_ = false;
  }
  cv_.notify_all();
}

std::chrono::milliseconds BrokerLink::Recovery::logon_wait() const {
  return options_.logon_wait.count() > 0 ? options_.logon_wait : link_.timeout();
}

bool BrokerLink::Recovery::stopped() const {
  MutexLock lock(mutex_);
  return abandon_ || ending_ || link_.closing();
}

void BrokerLink::Recovery::run() {
  for (;;) {
    {
      MutexLock lock(mutex_);
      cv_.wait(lock, [this]() NO_THREAD_SAFETY_ANALYSIS { return lost_ || ending_; });
      if (ending_) {
        return;
      }
      lost_ = false;
    }
    try {
      recover();
    } catch (const std::exception& e) {
      // The host went away under it, or the engine's hook failed.
      Trace(fmt::format("Recovery: stopped by an error: {}", e.what()));
    }
  }
}

bool BrokerLink::Recovery::pause(std::chrono::milliseconds d) {
  // In slices, so the host's Shutdown (which tells no one) is seen soon.
  const auto deadline =
      deadline_after<std::chrono::steady_clock>(std::chrono::steady_clock::now(), d);
  MutexLock lock(mutex_);
  while (!(abandon_ || ending_)) {
    if (link_.closing()) {
      return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      return true;
    }
    (void)cv_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(10)));
  }
  return false;
}

BrokerLink::Recovery::Wake BrokerLink::Recovery::wait_for_up() {
  // The link's time-out may be far beyond any clock ("no limit").
  const auto deadline =
      deadline_after<std::chrono::steady_clock>(std::chrono::steady_clock::now(), logon_wait());
  MutexLock lock(mutex_);
  while (!up_) {
    if (abandon_ || ending_ || link_.closing()) {
      return Wake::stopped;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      return Wake::time;
    }
    (void)cv_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(10)));
  }
  // The drops before this up are recovered from by the restore it starts; a
  // drop from now on interrupts that restore.
  lost_ = false;
  return Wake::up;
}

void BrokerLink::Recovery::recover() {
  std::optional<Credentials> credentials;
  {
    MutexLock guard(link_.live_mutex_);
    credentials = link_.credentials_;
  }
  if (!credentials) {
    Trace("Recovery: the gateway connection dropped before any Logon; nothing to log on with");
    return;
  }
  auto delay = options_.first_delay;
  for (int attempt = 1; options_.max_attempts == 0 || attempt <= options_.max_attempts; ++attempt) {
    Trace(fmt::format("Recovery: the gateway connection is down; log-on attempt {} in {}", attempt,
                      seconds_text(delay)));
    if (!pause(delay)) {
      Trace("Recovery: stopped");
      return;
    }
    delay = std::min(delay * 2, options_.max_delay);
    link_.tell_connection({.state = State::reconnecting, .attempt = attempt});
    {
      MutexLock lock(mutex_);
      up_ = false;
    }
    try {
      vendor::Cel(link_.cel("Logon")).GWLogon(credentials->user_name, credentials->password);
    } catch (const std::exception& e) {
      if (stopped()) {
        return;
      }
      Trace(fmt::format("Recovery: log-on attempt {} failed: {}", attempt, e.what()));
      continue;
    }
    const Wake woke = wait_for_up();
    if (woke == Wake::stopped) {
      Trace("Recovery: stopped");
      return;
    }
    if (woke == Wake::time) {
      Trace(fmt::format("Recovery: no up report within {} after log-on attempt {}",
                        seconds_text(logon_wait()), attempt));
      continue;
    }
    restore();
    return;
  }
  const int attempts = options_.max_attempts;
  Trace(fmt::format("Recovery: gave up after {} attempts", attempts));
  link_.tell_connection({.state = State::gave_up, .attempt = attempts});
}

void BrokerLink::Recovery::restore() {
  Live live;
  {
    MutexLock guard(link_.live_mutex_);
    live = link_.live_;
  }
  Trace(fmt::format(
      "Recovery: the gateway is up; restoring {} quote, {} order-book and {} bar subscriptions{}",
      live.quotes.size(), live.books.size(), live.bars.size(),
      live.account ? fmt::format(" and account {}", *live.account) : std::string()));
  MutexLock session(link_.session_mutex_);
  // Each is removed at the vendor and asked for again, so none is doubled;
  // a step that fails is traced and the others go on.
  std::vector<std::string> failed;
  const auto step = [this, &failed](std::string_view what, const auto& body) {
    if (stopped() || dropped_again()) {
      return;  // the steps left would only wait out their time-outs
    }
    try {
      body();
    } catch (const std::exception& e) {
      Trace(fmt::format("Recovery: restoring {} failed: {}", what, e.what()));
      failed.emplace_back(what);
    }
  };
  for (const auto& symbol : live.quotes) {
    step(symbol, [&] {
      link_.unsubscribe_quote_now(symbol);
      link_.subscribe_quote_now(symbol);
    });
  }
  for (const auto& symbol : live.books) {
    step(symbol, [&] {
      link_.unsubscribe_orderbook_now(symbol);
      link_.subscribe_orderbook_now(symbol);
    });
  }
  for (const auto& bar : live.bars) {
    step(bar.first, [&] {
      link_.unsubscribe_bar_now(bar.first);
      link_.subscribe_bar_now(bar.first, bar.second.first, bar.second.second);
    });
  }
  if (live.account) {
    // Waits for the reload it asks for: the engine's event stays set.
    step("the account", [&] {
      link_.subscribe_account_and_positions_now(*live.account, &link_.accounts_reloaded_);
    });
  }
  if (stopped()) {
    Trace("Recovery: stopped");
    return;
  }
  // Restored only when every step ran with the gateway up: a drop during the
  // restore (told to the engine as down) leaves the recovery it starts to
  // tell restored. Decided on the worker, so no down report can come between
  // the check and the engine hearing restored.
  const bool told = link_.tell_connection({.state = State::restored}, [&] {
    if (dropped_again()) {
      return true;
    }
    if (failed.empty()) {
      Trace("Recovery: restored");
    } else {
      // Said, not hidden: the engine hears restored, and the line names what
      // is not (each failed subscription was also told through its own hook).
      Trace(fmt::format("Recovery: restored, except {}", fmt::join(failed, ", ")));
    }
    return false;
  });
  if (!told) {
    Trace("Recovery: the gateway connection dropped again during the restore; not restored");
  }
}

}  // namespace orbrix::cqg
