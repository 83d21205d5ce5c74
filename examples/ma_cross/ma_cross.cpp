#include "ma_cross.hpp"

#include <numeric>
#include <stdexcept>

#include "orbrix/core/order.hpp"
#include "orbrix/cqg/broker_link.hpp"

namespace example {

namespace {

// "F.US.EPZ26" and "EPZ26" name the contract "EP".
std::string_view undated(std::string_view symbol) {
  const auto dot = symbol.rfind('.');
  if (dot != std::string_view::npos) {
    symbol.remove_prefix(dot + 1);
  }
  return symbol.size() > 3 ? symbol.substr(0, symbol.size() - 3) : symbol;
}

double mean(const std::vector<double>& v, std::size_t from, std::size_t count) {
  return std::accumulate(v.begin() + static_cast<std::ptrdiff_t>(from),
                         v.begin() + static_cast<std::ptrdiff_t>(from + count), 0.0) /
         static_cast<double>(count);
}

}  // namespace

CrossGateway::CrossGateway(const std::vector<std::string>& symbols) {
  for (const auto& s : symbols) {
    securities_.push_back(orbrix::Futures(s, s + " front month"));
    cqg_quotes().add_key(securities_.back());
    cqg_orderbooks().add_key(securities_.back());
  }
}

std::optional<orbrix::Security> CrossGateway::get_eng_security_from_cqg_symbol(
    std::string_view cqg_symbol) {
  for (const auto& s : securities_) {
    if (s.code() == cqg_symbol || s.code() == undated(cqg_symbol)) {
      return s;
    }
  }
  return std::nullopt;
}

std::string CrossGateway::get_cqg_symbol_from_eng_security(const orbrix::Security& security) {
  for (const auto& s : securities_) {
    if (s == security) {
      return s.code();
    }
  }
  throw std::out_of_range("no vendor symbol for " + security.code());
}

void CrossGateway::process_deal(const orbrix::Deal&) {
  std::lock_guard lock(mutex_);
  ++deals_;
}

std::size_t CrossGateway::deals() const {
  std::lock_guard lock(mutex_);
  return deals_;
}

MovingAverageCross::MovingAverageCross(std::vector<std::string> symbols, int fast, int slow,
                                       std::chrono::milliseconds interval)
    : symbols_(std::move(symbols)), fast_(fast), slow_(slow), interval_(interval),
      gateway_(symbols_) {
  if (fast_ < 1 || slow_ <= fast_) {
    throw std::invalid_argument("the moving averages need 1 <= fast < slow");
  }
}

int MovingAverageCross::signal(const std::vector<double>& closes, int fast, int slow) {
  const auto n = closes.size();
  const auto f = static_cast<std::size_t>(fast);
  const auto s = static_cast<std::size_t>(slow);
  if (n < s + 1) {
    return 0;  // not enough bars to see a cross
  }
  const double fast_now = mean(closes, n - f, f);
  const double slow_now = mean(closes, n - s, s);
  const double fast_before = mean(closes, n - 1 - f, f);
  const double slow_before = mean(closes, n - 1 - s, s);
  if (fast_before <= slow_before && fast_now > slow_now) {
    return 1;
  }
  if (fast_before >= slow_before && fast_now < slow_now) {
    return -1;
  }
  return 0;
}

void MovingAverageCross::start(orbrix::cqg::BrokerLink& link) {
  for (const auto& s : symbols_) {
    link.subscribe_quote(s);
    link.subscribe_bar(s, slow_ + 2, "1Min");
  }
}

void MovingAverageCross::on_timer(orbrix::cqg::BrokerLink& link, TimePoint) {
  for (const auto& security : gateway_.securities()) {
    orbrix::cqg::BrokerLink::BarWindow bars;
    try {
      bars = link.get_subscribe_bars_data(security);
    } catch (const std::invalid_argument&) {
      continue;  // a bar the vendor could not fill: wait for the next minute
    }
    if (!bars) {
      continue;
    }
    // The window holds completed bars only.
    std::vector<double> closes;
    closes.reserve(bars->size());
    for (const auto& bar : *bars) {
      closes.push_back(bar.close);
    }
    if (const int sig = signal(closes, fast_, slow_); sig != 0) {
      trade_to(link, security, sig);
    }
  }
}

void MovingAverageCross::stop(orbrix::cqg::BrokerLink& link) {
  for (const auto& security : gateway_.securities()) {
    trade_to(link, security, 0);
  }
}

void MovingAverageCross::trade_to(orbrix::cqg::BrokerLink& link, const orbrix::Security& security,
                                  std::int64_t target) {
  auto& held = position_[security.code()];
  if (held == target) {
    return;
  }
  const auto side = target > held ? orbrix::Direction::LONG : orbrix::Direction::SHORT;
  const auto quantity = static_cast<double>(target > held ? target - held : held - target);
  link.place_order(orbrix::Order(security, orbrix::OrderType::MARKET, side, quantity));
  held = target;
}

std::int64_t MovingAverageCross::position(std::string_view symbol) const {
  const auto it = position_.find(symbol);
  return it == position_.end() ? 0 : it->second;
}

}  // namespace example
