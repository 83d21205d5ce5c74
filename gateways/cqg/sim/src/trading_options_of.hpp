#pragma once

// The venue's trading options a fill model (and the finished orders kept)
// chooses; internal to the simulator.

#include <cstddef>

#include "orbrix/cqgsim/fill_model.hpp"
#include "venue/trading/options.hpp"

namespace orbrix::cqgsim {

inline venue::TradingOptions trading_options(const FillModel& model,
                                             std::size_t finished_orders_kept = 10'000) {
  venue::TradingOptions o;
  o.cap_fill_at_displayed_size = model.partial_fills;
  o.slippage_ticks = model.slippage_ticks;
  o.commission_per_contract = model.commission_per_contract;
  o.mark = model.mark == MarkPrice::mid    ? venue::MarkSource::Mid
           : model.mark == MarkPrice::side ? venue::MarkSource::Side
                                           : venue::MarkSource::LastTrade;
  o.reject_market_without_quote = model.reject_market_without_quote;
  o.finished_orders_kept = finished_orders_kept;
  return o;
}

}  // namespace orbrix::cqgsim
