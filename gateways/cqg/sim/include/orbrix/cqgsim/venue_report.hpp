#pragma once

// What the paper venue itself did, for a run's report: each change of an
// order as the venue made it, and the account as the venue books it. Prices
// are in the contract's units, times on the simulator's clock (UTC).

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orbrix::cqgsim {

using VenueTime = std::chrono::sys_time<std::chrono::nanoseconds>;

struct FillReport {
  std::string fill_id{};
  std::int64_t quantity = 0;
  double price = 0;
  double commission = 0;  // in the account's currency
};

// One change of an order: its state after the change.
struct OrderReport {
  std::string order_id{};  // the vendor's id of the order
  std::string symbol{};    // the instrument's full name
  std::string type{};      // "market", "limit", "stop", "stop limit"
  bool buy = true;
  std::int64_t quantity = 0;
  std::optional<double> limit_price{};
  std::optional<double> stop_price{};
  // "in transit", "working", "filled", "cancel pending", "cancelled", "rejected"
  std::string status{};
  std::int64_t filled_quantity = 0;
  double average_fill_price = 0;  // 0 before the first fill
  std::string reject_reason{};
  VenueTime time{};
  std::optional<FillReport> fill{};  // the execution that made this change
};

struct PositionReport {
  std::string symbol{};       // full name
  std::int64_t quantity = 0;  // signed: long above zero
  double average_price = 0;   // of the open quantity
  double realized_pnl = 0;    // before commissions
  double commissions = 0;
  double open_trade_equity = 0;  // marked as the venue marks
  // The contract's terms: price units per tick, account currency per tick
  // per contract (what turns a price difference into money).
  double tick_size = 0;
  double tick_value = 0;
};

struct AccountReport {
  VenueTime time{};
  std::string currency{};  // of every amount below
  double balance = 0;      // starting balance + realized P&L - commissions
  double net_liquidating_value = 0;
  double realized_pnl = 0;  // before commissions
  double open_trade_equity = 0;
  double commissions = 0;
  std::vector<PositionReport> positions{};  // every instrument traded, in opening order
};

struct BarReport {
  VenueTime start{};
  double open = 0, high = 0, low = 0, close = 0;
  std::int64_t volume = 0;
};

// A timed-bars request as the venue answered it.
struct BarRequestReport {
  std::string symbol{};
  bool daily = false;
  std::int64_t look_back = 0;  // completed bars asked for
  std::int64_t sent = 0;       // bars the answer held, the forming one included
};

// Called on the simulator's apartment for each change of an order.
using OrderListener = std::function<void(const OrderReport&)>;

}  // namespace orbrix::cqgsim
