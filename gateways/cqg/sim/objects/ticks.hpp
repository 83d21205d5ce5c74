#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "objects/sim_object.hpp"
#include "orbrix/automation/class_info.hpp"
#include "venue/market/quotes.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim {

// What CreateTicksRequest hands out: Symbol, Type, TickFilter,
// SessionsFilter and Limit, all writable.
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

// The ticks of one request: Count, Item(i) (oldest first), Request. It grows
// as the market prints.
class Ticks final : public SimObject<Ticks> {
 public:
  Ticks(std::shared_ptr<TicksRequest> request, std::optional<venue::InstrumentId> instrument)
      : request_(std::move(request)), instrument_(instrument) {}
  static const automation::ClassInfo& class_info();

  const std::optional<venue::InstrumentId>& instrument() const { return instrument_; }
  bool resolved() const { return resolved_; }
  void set_resolved() { resolved_ = true; }
  bool removed() const { return removed_; }
  void remove() { removed_ = true; }
  // Whether the request's filter takes ticks of this type.
  bool takes(venue::TickType type) const;
  void append(std::shared_ptr<Tick> tick) { ticks_.push_back(std::move(tick)); }

 private:
  std::shared_ptr<TicksRequest> request_;
  std::optional<venue::InstrumentId> instrument_;
  std::vector<std::shared_ptr<Tick>> ticks_;
  bool resolved_ = false;
  bool removed_ = false;
};

}  // namespace orbrix::cqgsim
