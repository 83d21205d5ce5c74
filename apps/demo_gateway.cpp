#include "demo_gateway.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace orbrix::demo {
namespace {

using Clock = std::chrono::steady_clock;
using State = ConnectionEvent::State;

// "EPZ26" is the dated form of "EP": the short symbol, a month letter and
// two year digits.
std::string_view undated(std::string_view symbol) {
  if (symbol.size() > 3 && std::isupper(static_cast<unsigned char>(symbol[symbol.size() - 3])) &&
      std::isdigit(static_cast<unsigned char>(symbol[symbol.size() - 2])) &&
      std::isdigit(static_cast<unsigned char>(symbol[symbol.size() - 1]))) {
    return symbol.substr(0, symbol.size() - 3);
  }
  return symbol;
}

}  // namespace

Latency summarise(std::vector<double> samples) {
  Latency l;
  l.samples = samples.size();
  if (samples.empty()) {
    return l;
  }
  std::sort(samples.begin(), samples.end());
  auto at = [&](double p) {
    return samples[static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1))];
  };
  l.median_us = at(0.5);
  l.p99_us = at(0.99);
  return l;
}

DemoGateway::DemoGateway(const std::vector<std::string>& symbols, const Console& console)
    : console_(console) {
  for (const auto& s : symbols) {
    if (by_symbol_.contains(s)) {
      continue;
    }
    by_symbol_.emplace(s, securities_.size());
    securities_.push_back(Futures(s, s + " front month"));
  }
  for (const auto& s : securities_) {
    cqg_quotes().add_key(s);
    cqg_orderbooks().add_key(s);
  }
}

std::optional<Security> DemoGateway::get_eng_security_from_cqg_symbol(std::string_view cqg_symbol) {
  auto it = by_symbol_.find(cqg_symbol);
  if (it == by_symbol_.end()) {
    it = by_symbol_.find(undated(cqg_symbol));
  }
  if (it == by_symbol_.end()) {
    return std::nullopt;
  }
  return securities_[it->second];
}

std::string DemoGateway::get_cqg_symbol_from_eng_security(const Security& security) {
  for (const auto& s : securities_) {
    if (s == security) {
      return s.code();
    }
  }
  throw std::out_of_range("the demo engine has no vendor symbol for " + to_text(security));
}

const Security& DemoGateway::security(std::string_view symbol) const {
  const auto it = by_symbol_.find(symbol);
  if (it == by_symbol_.end()) {
    throw std::out_of_range(fmt::format("unknown security '{}'", symbol));
  }
  return securities_[it->second];
}

void DemoGateway::event_started() noexcept {
  event_start_ = Clock::now();
}

void DemoGateway::note_latency() {
  if (event_start_ == Clock::time_point{}) {
    return;
  }
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - event_start_).count();
  MutexLock lock(mutex_);
  latency_us_.push_back(us);
}

double DemoGateway::since_restore() const {
  return std::chrono::duration<double>(Clock::now() - *restored_by_simulator_).count();
}

void DemoGateway::process_quote(const Quote&) {
  note_latency();
  std::optional<double> after_recovery;
  {
    MutexLock lock(mutex_);
    ++counts_.quotes;
    if (restored_by_simulator_) {
      auto& t = recovery_times_;
      if (!t.first_quote) {
        t.first_quote = since_restore();
      }
      if (t.restored && !t.first_quote_after_restored) {
        t.first_quote_after_restored = since_restore();
        after_recovery = t.first_quote_after_restored;
      }
    }
  }
  if (after_recovery) {
    console_.event(fmt::format(
        "connection first quote after recovery, {:.3f} s after the simulator restored the gateway",
        *after_recovery));
  }
}

void DemoGateway::process_orderbook(const OrderBook&) {
  note_latency();
  MutexLock lock(mutex_);
  ++counts_.books;
}

void DemoGateway::apply_update(OrderRecord& record, const OrderUpdate& u) {
  record.order.status = u.status;
  record.filled_quantity = u.filled_quantity;
  record.average_fill_price = u.filled_avg_price;
  record.updated = u.updated_time;
}

void DemoGateway::process_order(const OrderUpdate& u) {
  note_latency();
  {
    MutexLock lock(mutex_);
    ++counts_.orders;
    if (auto it = orders_.find(u.order_id); it != orders_.end()) {
      apply_update(it->second, u);
    } else {
      early_[u.order_id].push_back(u);
    }
  }
  console_.event(fmt::format("order  {}  {:<9} filled {:>4} @ {:>10.2f}  {}", u.order_id,
                             to_text(u.status), u.filled_quantity, u.filled_avg_price,
                             local_text(utc_of_vendor(u.updated_time))));
}

std::string DemoGateway::symbol_and_side(const std::string& order_id) const {
  const auto it = orders_.find(order_id);
  if (it == orders_.end()) {
    return "?";
  }
  const auto& o = it->second.order;
  return fmt::format("{} {}", o.security.code(), o.direction == Direction::LONG ? "buy" : "sell");
}

void DemoGateway::process_deal(const Deal& d) {
  note_latency();
  std::string what;
  {
    MutexLock lock(mutex_);
    ++counts_.deals;
    deals_.push_back(d);
    what = symbol_and_side(d.order_id);
  }
  console_.event(fmt::format("deal   {}  order {}  {} {} @ {:.2f}  {}", d.deal_id, d.order_id, what,
                             d.filled_quantity, d.filled_avg_price,
                             local_text(utc_of_vendor(d.updated_time))));
}

void DemoGateway::process_connection(const ConnectionEvent& event) {
  std::string after;
  {
    MutexLock lock(mutex_);
    connection_.push_back(event);
    switch (event.state) {
      case State::down:
        up_ = false;
        dropped_ = true;
        break;
      case State::up:
        up_ = true;
        if (!recovery_) {
          dropped_ = false;
        }
        break;
      case State::restored:
        // Only a restore heard with the gateway up makes the session whole.
        if (up_) {
          dropped_ = false;
        }
        break;
      case State::reconnecting:
        // A new attempt: whatever was restored before is being redone.
        dropped_ = true;
        break;
      case State::gave_up:
        break;
    }
    if (restored_by_simulator_ && (event.state == State::up || event.state == State::restored)) {
      auto& slot = event.state == State::up ? recovery_times_.up : recovery_times_.restored;
      if (!slot) {
        slot = since_restore();
        after = fmt::format(", {:.3f} s after the simulator restored the gateway", *slot);
      }
    }
  }
  console_.event(fmt::format("connection {}  {}{}", to_text(event), local_text(utc_now()), after));
}

void DemoGateway::process_data_connection(std::int64_t vendor_status) {
  console_.event(
      fmt::format("connection data status {}  {}", vendor_status, local_text(utc_now())));
}

void DemoGateway::process_subscription_failure(const SubscriptionFailure& failure) {
  {
    MutexLock lock(mutex_);
    failures_.push_back(failure);
  }
  console_.event(fmt::format("subscription failed: {}", to_text(failure)));
}

void DemoGateway::order_placed(std::string id, Order order) {
  MutexLock lock(mutex_);
  OrderRecord record{.order = std::move(order), .placed = utc_now(), .updated = std::nullopt};
  record.order.order_id = id;
  record.order.status = OrderStatus::SUBMITTED;
  if (auto early = early_.find(id); early != early_.end()) {
    for (const auto& u : early->second) {
      apply_update(record, u);
    }
    early_.erase(early);
  }
  order_ids_.push_back(id);
  orders_.insert_or_assign(std::move(id), std::move(record));
}

void DemoGateway::expect_recovery() noexcept {
  MutexLock lock(mutex_);
  recovery_ = true;
}

void DemoGateway::gateway_restored_by_simulator() {
  MutexLock lock(mutex_);
  restored_by_simulator_ = Clock::now();
  recovery_times_ = {};
}

std::vector<Order> DemoGateway::orders() const {
  MutexLock lock(mutex_);
  std::vector<Order> out;
  for (const auto& id : order_ids_) {
    out.push_back(orders_.at(id).order);
  }
  return out;
}

std::vector<OrderRecord> DemoGateway::order_records() const {
  MutexLock lock(mutex_);
  std::vector<OrderRecord> out;
  for (const auto& id : order_ids_) {
    out.push_back(orders_.at(id));
  }
  return out;
}

std::vector<Deal> DemoGateway::deals() const {
  MutexLock lock(mutex_);
  return deals_;
}

std::vector<SubscriptionFailure> DemoGateway::failures() const {
  MutexLock lock(mutex_);
  return failures_;
}

std::vector<ConnectionEvent> DemoGateway::connection_events() const {
  MutexLock lock(mutex_);
  return connection_;
}

bool DemoGateway::session_ready() const {
  MutexLock lock(mutex_);
  return up_ && !dropped_;
}

RecoveryTimes DemoGateway::recovery_times() const {
  MutexLock lock(mutex_);
  return recovery_times_;
}

Counts DemoGateway::counts() const {
  MutexLock lock(mutex_);
  return counts_;
}

Latency DemoGateway::latency() const {
  MutexLock lock(mutex_);
  return summarise(latency_us_);
}

void DemoGateway::count_bars(std::uint64_t n) {
  MutexLock lock(mutex_);
  counts_.bars += n;
}

}  // namespace orbrix::demo
