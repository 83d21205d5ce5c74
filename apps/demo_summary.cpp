#include "demo_summary.hpp"

#include <fmt/format.h>

#include "realized_pnl.hpp"

namespace orbrix::demo {

void summarise_trading(const DemoGateway& gateway, DemoSummary& s) {
  const auto records = gateway.order_records();
  std::map<std::string, const Order*> by_id;
  s.orders_placed = records.size();
  s.orders_by_state.clear();
  for (const auto& r : records) {
    ++s.orders_by_state[r.order.status];
    by_id.emplace(r.order.order_id, &r.order);
  }
  std::vector<report::Fill> fills;
  s.foreign_deals = 0;
  for (const auto& d : gateway.deals()) {
    const auto it = by_id.find(d.order_id);
    if (it == by_id.end() || !(d.filled_quantity > 0)) {
      ++s.foreign_deals;
      continue;
    }
    fills.push_back({.symbol = it->second->security.code(),
                     .side = it->second->direction,
                     .quantity = d.filled_quantity,
                     .price = d.filled_avg_price});
  }
  s.realized_points.clear();
  for (const auto& [symbol, pnl] : report::realized_pnl(fills)) {
    s.realized_points[symbol] = pnl.realized;
  }
}

std::string order_text(const Order& o) {
  std::string price;
  if (o.order_type == OrderType::LIMIT) {
    price = fmt::format(" @ {:.2f}", o.price);
  } else if (o.order_type == OrderType::STOP) {
    price = fmt::format(" stop {:.2f}", o.stop_price);
  }
  return fmt::format("{} {} {} {}{}", to_text(o.order_type), to_text(o.direction), o.quantity,
                     o.security.code(), price);
}

std::vector<std::string> summary_lines(const DemoSummary& s) {
  std::vector<std::string> out;
  out.push_back(fmt::format("summary run {:.1f} s, ended by {}; close-out {:.1f} s", s.run_seconds,
                            s.ended_by, s.close_out_seconds));

  std::string states;
  for (const auto& [state, n] : s.orders_by_state) {
    states += fmt::format("{}{} {}", states.empty() ? ": " : ", ", n, to_text(state));
  }
  out.push_back(
      fmt::format("summary orders placed {}{}; deals {}", s.orders_placed, states, s.deals));

  std::string per_symbol;
  for (const auto& [symbol, points] : s.realized_points) {
    per_symbol += fmt::format("  {} {:+.2f}", symbol, points);
  }
  out.push_back(fmt::format(
      "summary realized P&L per symbol, from the engine's deals (price points x contracts):{}{}",
      per_symbol.empty() ? "  none" : per_symbol,
      s.foreign_deals
          ? fmt::format("  ({} deals of orders placed elsewhere left out)", s.foreign_deals)
          : std::string()));
  out.push_back(fmt::format(
      "summary realized P&L in all, the account's figure: {:.2f} (unrealized {:.2f}, cash {:.2f})",
      s.account.realized_pnl, s.account.unrealized_pnl, s.account.cash));

  const auto& c = s.close_out;
  std::string left;
  if (c.working.empty()) {
    left = "no working order";
  } else {
    left = fmt::format("{} working order(s):", c.working.size());
    for (const auto& o : c.working) {
      left += fmt::format(" [{} {}]", o.order_id, order_text(o));
    }
  }
  if (!c.positions) {
    left += fmt::format("; positions not known ({})", c.positions_error);
  } else if (c.positions->empty()) {
    left += ", no open position";
  } else {
    left += fmt::format("; {} open position(s):", c.positions->size());
    for (const auto& p : *c.positions) {
      left += fmt::format(" [{} {} {} @ {:.2f}]", p.security.code(), to_text(p.direction),
                          p.quantity, p.holding_price);
    }
  }
  out.push_back(fmt::format("summary left: {}; flat: {}", left, s.flat() ? "yes" : "NO"));

  out.push_back(
      fmt::format("summary events: quotes {}, books {}, new bars {}, order updates {}, deals {}",
                  s.quotes, s.books, s.bars, s.orders, s.deals));
  out.push_back(fmt::format(
      "summary latency, vendor event handler start to engine hook: median {:.1f} us, p99 {:.1f} "
      "us ({} events)",
      s.latency_median_us, s.latency_p99_us, s.latency_samples));

  if (s.drop) {
    const auto secs = [](const std::optional<double>& v) {
      return v ? fmt::format("{:.3f} s", *v) : std::string("never");
    };
    std::string states_heard;
    for (const auto& e : s.connection) {
      states_heard += (states_heard.empty() ? "" : ", ") + to_text(e);
    }
    out.push_back(fmt::format(
        "summary gateway dropped at {:.1f} s for {:.1f} s; after the simulator restored it: up "
        "{}, restored {}, first quote after recovery {} (first quote of any kind {})",
        std::chrono::duration<double>(s.drop->at).count(),
        std::chrono::duration<double>(s.drop->length).count(), secs(s.recovery.up),
        secs(s.recovery.restored), secs(s.recovery.first_quote_after_restored),
        secs(s.recovery.first_quote)));
    out.push_back("summary connection states heard: " + states_heard);
  }
  return out;
}

}  // namespace orbrix::demo
