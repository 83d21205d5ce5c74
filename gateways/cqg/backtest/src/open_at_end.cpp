#include <fmt/format.h>

#include <cmath>
#include <string_view>

#include "orbrix/backtest/report.hpp"
#include "recorder.hpp"

namespace orbrix::backtest {

namespace {

bool working(std::string_view status) {
  return status == "in transit" || status == "working" || status == "cancel pending";
}

// The price the venue marked a position at, from what it reports: its open
// trade equity over its quantity in currency per price unit.
std::optional<double> mark_of(const cqgsim::PositionReport& p) {
  if (p.quantity == 0 || p.tick_size <= 0 || p.tick_value <= 0) {
    return std::nullopt;
  }
  const double per_unit = static_cast<double>(p.quantity) * p.tick_value / p.tick_size;
  // Marks are on the tick grid: the division's rounding error is dropped.
  const double mark = p.average_price + p.open_trade_equity / per_unit;
  return std::round(mark / p.tick_size) * p.tick_size;
}

// Ten significant digits: a price, without the last bits of a division
// (70.21, not 70.21000000000001).
std::string price_text(double price) {
  return fmt::format("{:.10g}", price);
}

}  // namespace

std::string open_at_end_text(const BacktestResult& r) {
  std::string s;
  for (const auto& p : r.account.positions) {
    if (p.quantity == 0) {
      continue;
    }
    const auto mark = mark_of(p);
    s += fmt::format("open      {} {} {} at {}, marked {}: {:.2f} {} not realized\n", p.symbol,
                     p.quantity > 0 ? "long" : "short", std::llabs(p.quantity),
                     price_text(p.average_price), mark ? price_text(*mark) : "-",
                     std::round(p.open_trade_equity * 100) / 100 + 0.0,  // no "-0.00"
                     r.account.currency);
  }
  for (const auto& o : r.orders) {
    const auto& l = o.last;
    if (!working(l.status)) {
      continue;
    }
    std::string prices;
    if (l.limit_price) {
      prices += " at " + price_text(*l.limit_price);
    }
    if (l.stop_price) {
      prices += " stop " + price_text(*l.stop_price);
    }
    s += fmt::format("working   {} {} {} {} {}{} ({} filled), placed {}\n", l.order_id, l.symbol,
                     l.buy ? "buy" : "sell", l.quantity, l.type, prices, l.filled_quantity,
                     report::iso_utc(std::chrono::floor<std::chrono::microseconds>(o.placed)));
  }
  if (s.empty()) {
    return "at end    flat, no order working\n";
  }
  return "at end    the data ran out with these open (positions marked to the last price):\n" + s;
}

}  // namespace orbrix::backtest
