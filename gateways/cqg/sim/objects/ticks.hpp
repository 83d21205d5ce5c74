#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "objects/collection.hpp"
#include "objects/sim_object.hpp"
#include "orbrix/automation/class_info.hpp"
#include "orbrix/cqg/decoded_events.hpp"
#include "venue/market/quotes.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim {

// What CreateTicksRequest hands out: Symbol, Type, TickFilter,
// SessionsFilter and Limit, all writable. Limit (0 to kMaxTicksKept) is how
// many of the newest ticks the ticks collection keeps; 0 keeps
// kDefaultTicksKept.
class TicksRequest final : public SimObject<TicksRequest> {
 public:
  TicksRequest();
  static const automation::ClassInfo& class_info();

  std::string symbol;
  std::int64_t type;
  std::int64_t tick_filter;
  automation::Variant sessions_filter;
  std::int64_t limit = 0;
};

inline constexpr std::int64_t kDefaultTicksKept = 1'000;
inline constexpr std::int64_t kMaxTicksKept = 100'000;

// One tick: PriceType, Price, Volume, Timestamp.
class Tick final : public SimObject<Tick> {
 public:
  Tick(std::int64_t price_type, double price, std::int64_t volume, automation::Date when)
      : price_type_(price_type), price_(price), volume_(volume), when_(when) {}
  static const automation::ClassInfo& class_info();

 private:
  std::int64_t price_type_;
  double price_;
  std::int64_t volume_;
  automation::Date when_;
};

// The ticks of one request: Count, Item(i) (oldest first), Request. It takes
// each batch the market prints and keeps a window of the newest ticks: the
// request's Limit (kDefaultTicksKept when 0), and never fewer than the batch
// just added, so a handler of OnTicksAdded(ticks, added) finds the whole
// batch at Count - added ... Count - 1.
class Ticks final : public SimObject<Ticks>, public Collection {
 public:
  Ticks(std::shared_ptr<TicksRequest> request, std::optional<venue::InstrumentId> instrument)
      : request_(std::move(request)), instrument_(instrument) {}
  static const automation::ClassInfo& class_info();

  const std::optional<venue::InstrumentId>& instrument() const { return instrument_; }
  bool resolved() const { return resolved_; }
  void set_resolved() { resolved_ = true; }
  bool removed() const { return removed_; }
  void set_removed() { removed_ = true; }
  // Whether the request's filter takes ticks of this type.
  bool takes(venue::TickType type) const;
  // Drops the oldest ticks beyond the window, after a batch of `added`.
  void trim(std::size_t added);
  // The direct path's event, refilled per batch (no tick object is made).
  cqg::decoded::TicksAdded& decoded() {
    decoded_.collection = identity();
    decoded_.symbol = request_->symbol;
    return decoded_;
  }

 private:
  cqg::decoded::TicksAdded decoded_;
  std::shared_ptr<TicksRequest> request_;
  std::optional<venue::InstrumentId> instrument_;
  bool resolved_ = false;
  bool removed_ = false;
};

}  // namespace orbrix::cqgsim
