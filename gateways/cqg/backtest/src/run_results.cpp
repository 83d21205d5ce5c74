#include "src/run_results.hpp"

#include <algorithm>
#include <chrono>

namespace orbrix::backtest {

std::size_t round_trips(const std::vector<const Deal*>& deals) {
  std::size_t trips = 0;
  std::int64_t position = 0;
  for (const auto* d : deals) {
    const auto before = position;
    position += d->buy ? d->quantity : -d->quantity;
    const bool closed = before != 0 && (position == 0 || (before > 0) != (position > 0));
    trips += closed ? 1 : 0;
  }
  return trips;
}

void add_symbol_pnl(std::vector<SymbolPnl>& out, const cqgsim::AccountReport& account) {
  for (const auto& p : account.positions) {
    out.push_back({.time = account.time,
                   .symbol = p.symbol,
                   .realized_pnl = p.realized_pnl,
                   .open_trade_equity = p.open_trade_equity,
                   .commissions = p.commissions});
  }
}

std::vector<SymbolResult> symbol_results(const BacktestResult& result, cqgsim::SimDriver& driver,
                                         const std::vector<std::string>& history_symbols) {
  std::vector<std::string> names;
  const auto add_name = [&](std::string name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(std::move(name));
    }
  };
  for (const auto& s : history_symbols) {
    add_name(driver.full_name(s));
  }
  for (const auto& d : result.deals) {
    add_name(d.symbol);
  }
  const auto minutes = static_cast<std::size_t>(
      std::chrono::ceil<std::chrono::minutes>(result.end - result.start).count());
  std::vector<SymbolResult> out;
  for (const auto& name : names) {
    SymbolResult s{.symbol = name, .name = driver.short_symbol(name)};
    std::vector<const Deal*> deals;
    for (const auto& d : result.deals) {
      if (d.symbol == name) {
        deals.push_back(&d);
      }
    }
    s.deals = deals.size();
    s.round_trips = round_trips(deals);
    for (const auto& p : result.account.positions) {
      if (p.symbol == name) {
        s.position = p.quantity;
        s.realized_pnl = p.realized_pnl;
        s.unrealized_pnl = p.open_trade_equity;
        s.commissions = p.commissions;
      }
    }
    for (auto& bar : driver.minute_bars(name, minutes + 1)) {
      if (bar.start >= result.start && bar.start < result.end) {
        s.bars.push_back(bar);
      }
    }
    out.push_back(std::move(s));
  }
  return out;
}

}  // namespace orbrix::backtest
