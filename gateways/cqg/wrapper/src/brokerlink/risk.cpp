#include <fmt/format.h>

#include <algorithm>
#include <utility>

#include "engine_hooks.hpp"
#include "internal.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "risk_book.hpp"

namespace orbrix::cqg {

using automation::Object;

void BrokerLink::set_risk_limits(RiskLimits limits) {
  validate(limits);
  MutexLock guard(risk_mutex_);
  const bool on = limits.any() || risk_->state() != TradingState::ACTIVE;
  risk_quotes_.store(limits.price_collar_pct || limits.price_collar_ticks,
                     std::memory_order_release);
  risk_->set_limits(std::move(limits));
  risk_on_.store(on, std::memory_order_release);
}

RiskLimits BrokerLink::risk_limits() const {
  MutexLock guard(risk_mutex_);
  return risk_->limits();
}

TradingState BrokerLink::trading_state() const {
  MutexLock guard(risk_mutex_);
  return risk_->state();
}

void BrokerLink::set_risk_clock(std::function<std::chrono::steady_clock::time_point()> clock) {
  MutexLock guard(risk_mutex_);
  risk_->set_clock(std::move(clock));
}

void BrokerLink::check_risk(const Order& order) {
  if (!risk_on_.load(std::memory_order_acquire)) {
    // No limit and ACTIVE: nothing to check, but the order still counts
    // once limits are set.
    MutexLock guard(risk_mutex_);
    risk_->reserve({.symbol = order.security.code(),
                    .order_type = order.order_type,
                    .direction = order.direction,
                    .quantity = order.quantity});
    return;
  }
  detail::MarketPrice market;
  // The quote only for a collar: the engine's map costs a lock and a hash.
  if (BaseGateway* g = gateway(); g != nullptr && risk_quotes_.load(std::memory_order_acquire)) {
    if (const auto quote = g->cqg_quotes().find(order.security)) {
      market = {quote->last_price(), quote->bid_price(), quote->ask_price()};
    }
  }
  const detail::OrderTicket ticket{.symbol = order.security.code(),
                                   .order_type = order.order_type,
                                   .direction = order.direction,
                                   .quantity = order.quantity,
                                   .price = order.price,
                                   .stop_price = order.stop_price};
  std::optional<std::string> refused;
  {
    MutexLock guard(risk_mutex_);
    refused = risk_->check(ticket, market);
    if (!refused) {
      risk_->reserve(ticket);
    }
  }
  if (refused) {
    Trace(*refused);
    throw OrderRefused(*refused);
  }
}

void BrokerLink::book_placed(const std::string& order_id) {
  MutexLock guard(risk_mutex_);
  risk_->placed(order_id);
}

void BrokerLink::book_order_event(const OrderUpdate& update, const Deal* deal) {
  MutexLock guard(risk_mutex_);
  if (deal != nullptr) {
    risk_->filled(deal->order_id, deal->filled_quantity);
  }
  if (update.status == OrderStatus::FILLED || update.status == OrderStatus::CANCELLED ||
      update.status == OrderStatus::FAILED) {
    risk_->finished(update.order_id);
  }
}

void BrokerLink::tell_trading_state(const TradingStateChange& change) {
  Trace("Trading state: " + to_text(change));
  BaseGateway* g = gateway();
  if (g == nullptr) {
    return;
  }
  const auto hook = [&] {
    detail::call_hook("process_trading_state", [&] { g->process_trading_state(change); });
  };
  ApiHost* host = apiHost();
  if (host == nullptr || host->on_worker_thread()) {
    hook();
    return;
  }
  // On the worker, like every other hook: after the events already posted.
  guarded("process_trading_state", [&] {
    automation::call_in_apartment(cel("process_trading_state"), [&](const Object&) { hook(); });
  });
}

void BrokerLink::change_trading_state(TradingState state, std::string_view reason) {
  std::optional<TradingStateChange> change;
  {
    MutexLock guard(risk_mutex_);
    change = risk_->set_state(state, std::string(reason));
    risk_on_.store(risk_->limits().any() || risk_->state() != TradingState::ACTIVE,
                   std::memory_order_release);
  }
  if (change) {
    tell_trading_state(*change);
  }
}

void BrokerLink::halt(std::string_view reason, bool cancel_all) {
  change_trading_state(TradingState::HALTED, reason);
  if (!cancel_all) {
    return;
  }
  ApiHost* host = apiHost();
  const bool on_worker = host != nullptr && host->on_worker_thread();
  std::optional<MutexLock> placing;
  if (!on_worker) {
    // A placement in flight ends first, so its order is cancelled too. On
    // the worker it cannot: it waits for an event only the worker delivers.
    placing.emplace(place_mutex_);
  }
  std::vector<std::string> ids;
  {
    MutexLock guard(risk_mutex_);
    ids = risk_->working_ids();
  }
  if (ids.empty()) {
    return;
  }
  std::vector<std::string> lines;
  guarded("halt", [&] {
    automation::call_in_apartment(cel("halt"), [&](const Object& home) {
      const vendor::Orders orders(vendor::Cel(home).Orders());
      for (const std::string& id : ids) {
        try {
          vendor::Order(orders.ItemByGuid(id)).Cancel();
          lines.push_back("halt: cancelling order " + id);
        } catch (const std::exception& e) {
          lines.push_back(fmt::format("halt: order {} could not be cancelled: {}", id, e.what()));
        }
      }
    });
  });
  detail::trace_lines(lines);
}

void BrokerLink::reduce_only(std::string_view reason) {
  change_trading_state(TradingState::REDUCING, reason);
}

void BrokerLink::resume(std::string_view reason) {
  change_trading_state(TradingState::ACTIVE, reason);
}

std::string BrokerLink::risk_text() const {
  MutexLock guard(risk_mutex_);
  detail::RiskBook& book = *risk_;
  std::string out = fmt::format("state: {}", to_text(book.state()));
  if (!book.state_reason().empty()) {
    out += fmt::format(" ({})", book.state_reason());
  }
  out += "\nlimits:\n" + risk_limits_text(book.limits());
  const RiskLimits& l = book.limits();
  out += fmt::format("\nworking orders: {}", book.working_count());
  if (l.max_working_orders) {
    out += fmt::format(" of {}", *l.max_working_orders);
  }
  if (l.max_orders_per_second) {
    out += fmt::format("\norder tokens: {:.1f} of {}", book.tokens_now(),
                       std::max(1.0, *l.max_orders_per_second));
  }
  for (const auto& [symbol, e] : book.exposures()) {
    if (e.position != 0 || e.working_buy != 0 || e.working_sell != 0) {
      out += fmt::format("\n{}: position {}, working buy {}, working sell {}", symbol, e.position,
                         e.working_buy, e.working_sell);
    }
  }
  if (const auto pnl = book.day_pnl()) {
    out += fmt::format("\nday P&L: {}", *pnl);
    if (l.max_daily_loss) {
      out += fmt::format(" (loss limit {})", *l.max_daily_loss);
    }
  }
  return out;
}

}  // namespace orbrix::cqg
