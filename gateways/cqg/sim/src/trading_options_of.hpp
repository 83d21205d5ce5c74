#pragma once

// The venue's trading options a configuration chooses; internal to the
// simulator.

#include "orbrix/cqgsim/config.hpp"
#include "venue/trading/options.hpp"

namespace orbrix::cqgsim {

inline venue::TradingOptions trading_options(const SimConfig& config) {
  const FillModel& model = config.fill_model;
  venue::TradingOptions o;
  o.cap_fill_at_displayed_size = model.partial_fills;
  o.slippage_ticks = model.slippage_ticks;
  o.commission_per_contract = model.commission_per_contract;
  o.mark = model.mark == MarkPrice::mid    ? venue::MarkSource::Mid
           : model.mark == MarkPrice::side ? venue::MarkSource::Side
                                           : venue::MarkSource::LastTrade;
  o.reject_market_without_quote = model.reject_market_without_quote;
  o.max_order_quantity = config.max_order_quantity;
  // With a latency the venue works an order only when it arrives.
  o.accept_on_submit = config.order_latency.count() == 0;
  o.finished_orders_kept = config.finished_orders_kept;
  return o;
}

}  // namespace orbrix::cqgsim
