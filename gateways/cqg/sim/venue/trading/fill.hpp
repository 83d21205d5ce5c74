#pragma once

// One execution of an order.

#include <cstddef>
#include <cstdint>

#include "venue/trading/account.hpp"
#include "venue/trading/order.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

// The venue only ever books normal fills; busts and corrections would be
// further values.
enum class FillStatus : std::uint8_t { Normal };

struct Fill {
  std::uint64_t id{};   // from a counter: 1, 2, 3, ...
  std::size_t order{};  // the order's index
  AccountId account{};
  InstrumentId instrument{};
  Side side = Side::Buy;
  Timestamp time{};
  Ticks price{};
  std::int64_t quantity{};
  FillStatus status = FillStatus::Normal;
};

}  // namespace orbrix::cqgsim::venue
