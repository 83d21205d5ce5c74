#include "demo_gateway.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "orbrix/cqg/trace.hpp"

namespace orbrix::demo {
namespace {

using Clock = std::chrono::steady_clock;

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

DemoGateway::DemoGateway(const std::vector<std::string>& symbols, bool print) : print_(print) {
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

void DemoGateway::process_quote(const Quote&) {
  note_latency();
  {
    MutexLock lock(mutex_);
    ++counts_.quotes;
  }
}

void DemoGateway::process_orderbook(const OrderBook&) {
  note_latency();
  {
    MutexLock lock(mutex_);
    ++counts_.books;
  }
}

void DemoGateway::apply_update(Order& order, const OrderUpdate& u) const {
  order.status = u.status;
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
  if (print_) {
    cqg::WriteLine(fmt::format("order  {}  {:<9} filled {:>4} @ {:>10.2f}  {}", u.order_id,
                               to_text(u.status), u.filled_quantity, u.filled_avg_price,
                               to_text(u.updated_time)));
  }
}

void DemoGateway::process_deal(const Deal& d) {
  note_latency();
  {
    MutexLock lock(mutex_);
    ++counts_.deals;
    deals_.push_back(d);
  }
  if (print_) {
    cqg::WriteLine(fmt::format("deal   {}  order {}  {:>4} @ {:>10.2f}  {}", d.deal_id, d.order_id,
                               d.filled_quantity, d.filled_avg_price, to_text(d.updated_time)));
  }
}

void DemoGateway::order_placed(std::string id, Order order) {
  MutexLock lock(mutex_);
  order.order_id = id;
  order.status = OrderStatus::SUBMITTED;
  if (auto early = early_.find(id); early != early_.end()) {
    for (const auto& u : early->second) {
      apply_update(order, u);
    }
    early_.erase(early);
  }
  order_ids_.push_back(id);
  orders_.insert_or_assign(std::move(id), std::move(order));
}

std::vector<Order> DemoGateway::orders() const {
  MutexLock lock(mutex_);
  std::vector<Order> out;
  for (const auto& id : order_ids_) {
    out.push_back(orders_.at(id));
  }
  return out;
}

std::vector<Deal> DemoGateway::deals() const {
  MutexLock lock(mutex_);
  return deals_;
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
