#include "orbrix/backtest/statistics.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace orbrix::backtest {

namespace {

using std::chrono::nanoseconds;

constexpr double kTradingDaysPerYear = 252;
constexpr double kDaysPerYear = 365.25;

std::optional<double> mean(const std::vector<double>& v) {
  if (v.empty()) {
    return std::nullopt;
  }
  return std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

void add_ratios(Statistics& s, const std::vector<double>& returns) {
  if (returns.size() < 2) {
    return;
  }
  const double m = *mean(returns);
  double squares = 0, downside = 0;
  for (const double r : returns) {
    squares += (r - m) * (r - m);
    downside += r < 0 ? r * r : 0;
  }
  const double sd = std::sqrt(squares / static_cast<double>(returns.size() - 1));
  const double dd = std::sqrt(downside / static_cast<double>(returns.size()));
  const double annualise = std::sqrt(kTradingDaysPerYear);
  if (sd > 0) {
    s.sharpe = m / sd * annualise;
  }
  if (dd > 0) {
    s.sortino = m / dd * annualise;
  }
}

std::optional<Drawdown> max_drawdown(const std::vector<EquityPoint>& equity) {
  if (equity.empty()) {
    return std::nullopt;
  }
  Drawdown best;
  double high = equity.front().net_liquidating_value;
  auto high_time = equity.front().time;
  std::optional<Drawdown> open;  // the fall from the current high, if any
  const auto close = [&](cqgsim::VenueTime until, bool recovered) {
    if (open) {
      open->duration = until - open->start;
      open->recovered = recovered;
      if (open->amount > best.amount) {
        best = *open;
      }
      open.reset();
    }
  };
  for (const auto& p : equity) {
    const double v = p.net_liquidating_value;
    if (v >= high) {
      close(p.time, true);
      high = v;
      high_time = p.time;
      continue;
    }
    if (!open) {
      open = Drawdown{.start = high_time};
    }
    if (high - v > open->amount) {
      open->amount = high - v;
      open->percent = high > 0 ? (high - v) / high * 100 : 0;
      open->trough = p.time;
    }
  }
  close(equity.back().time, false);
  if (best.amount <= 0) {
    return std::nullopt;  // the equity never fell
  }
  return best;
}

// The time within [start, end) during which `open` held, given the moments
// it changed: `changes` is (time, open after) in time order.
nanoseconds time_open(const std::vector<std::pair<cqgsim::VenueTime, bool>>& changes,
                      cqgsim::VenueTime start, cqgsim::VenueTime end) {
  nanoseconds total{};
  bool is_open = false;
  auto since = start;
  for (const auto& [t, now_open] : changes) {
    const auto at = std::clamp(t, start, end);
    if (is_open && !now_open) {
      total += at - since;
    } else if (!is_open && now_open) {
      since = at;
    }
    is_open = now_open;
  }
  if (is_open) {
    total += end - since;
  }
  return total;
}

double exposure_pct(const std::vector<const Deal*>& deals, cqgsim::VenueTime start,
                    cqgsim::VenueTime end) {
  std::map<std::string, std::int64_t, std::less<>> position;
  std::size_t open_symbols = 0;
  std::vector<std::pair<cqgsim::VenueTime, bool>> changes;
  for (const auto* d : deals) {
    auto& p = position[d->symbol];
    const bool was = p != 0;
    p += d->buy ? d->quantity : -d->quantity;
    const bool is = p != 0;
    open_symbols = open_symbols - (was ? 1 : 0) + (is ? 1 : 0);
    changes.emplace_back(d->time, open_symbols > 0);
  }
  const auto span = end - start;
  if (span <= nanoseconds::zero()) {
    return 0;
  }
  return std::chrono::duration<double>(time_open(changes, start, end)) /
         std::chrono::duration<double>(span) * 100;
}

void add_trade_figures(Statistics& s, const std::vector<const Trade*>& trades) {
  s.trades = trades.size();
  if (trades.empty()) {
    return;
  }
  std::vector<double> wins, losses, all;
  for (const auto* t : trades) {
    all.push_back(t->pnl);
    (t->pnl > 0 ? wins : losses).push_back(t->pnl);
  }
  s.win_rate_pct = static_cast<double>(wins.size()) / static_cast<double>(trades.size()) * 100;
  s.average_win = mean(wins);
  s.average_loss = mean(losses);
  s.expectancy = mean(all);
  const double gross_win = std::accumulate(wins.begin(), wins.end(), 0.0);
  const double gross_loss = -std::accumulate(losses.begin(), losses.end(), 0.0);
  if (gross_loss > 0) {
    s.profit_factor = gross_win / gross_loss;
  }
}

}  // namespace

std::vector<double> daily_returns(const std::vector<EquityPoint>& equity) {
  std::vector<double> returns;
  if (equity.empty()) {
    return returns;
  }
  double previous = equity.front().net_liquidating_value;
  for (std::size_t i = 0; i < equity.size(); ++i) {
    const auto day = std::chrono::floor<std::chrono::days>(equity[i].time);
    const bool last_of_day =
        i + 1 == equity.size() || std::chrono::floor<std::chrono::days>(equity[i + 1].time) != day;
    if (!last_of_day) {
      continue;
    }
    const double close = equity[i].net_liquidating_value;
    returns.push_back(previous != 0 ? close / previous - 1 : 0);
    previous = close;
  }
  return returns;
}

std::vector<Statistics> statistics(const BacktestResult& result, const std::vector<Trade>& trades) {
  std::vector<Statistics> out;
  Statistics all{.scope = "all"};
  for (const auto& s : result.symbols) {
    all.net_pnl += s.realized_pnl + s.unrealized_pnl - s.commissions;
    all.fees += s.commissions;
  }
  if (!result.equity.empty()) {
    const double first = result.equity.front().net_liquidating_value;
    const double last = result.equity.back().net_liquidating_value;
    if (first > 0) {
      const double total = last / first - 1;
      all.total_return_pct = total * 100;
      const double years =
          std::chrono::duration<double, std::ratio<86400>>(result.end - result.start).count() /
          kDaysPerYear;
      // Over less than a day a compounded rate says nothing: not given.
      if (years * kDaysPerYear >= 1 && total > -1) {
        all.annual_return_pct = (std::pow(1 + total, 1 / years) - 1) * 100;
      }
    }
    add_ratios(all, daily_returns(result.equity));
    all.max_drawdown = max_drawdown(result.equity);
  }
  std::vector<const Trade*> every_trade;
  for (const auto& t : trades) {
    every_trade.push_back(&t);
  }
  add_trade_figures(all, every_trade);
  std::vector<const Deal*> every_deal;
  for (const auto& d : result.deals) {
    every_deal.push_back(&d);
  }
  all.exposure_pct = exposure_pct(every_deal, result.start, result.end);
  out.push_back(std::move(all));

  for (const auto& s : result.symbols) {
    Statistics x{.scope = s.symbol,
                 .net_pnl = s.realized_pnl + s.unrealized_pnl - s.commissions,
                 .fees = s.commissions};
    std::vector<const Trade*> own;
    for (const auto& t : trades) {
      if (t.symbol == s.symbol) {
        own.push_back(&t);
      }
    }
    add_trade_figures(x, own);
    std::vector<const Deal*> deals;
    for (const auto& d : result.deals) {
      if (d.symbol == s.symbol) {
        deals.push_back(&d);
      }
    }
    x.exposure_pct = exposure_pct(deals, result.start, result.end);
    out.push_back(std::move(x));
  }
  return out;
}

}  // namespace orbrix::backtest
