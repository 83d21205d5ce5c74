#include "objects/ticks.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "objects/constants.hpp"
#include "orbrix/cqgsim/vendor_objects.hpp"

namespace orbrix::cqgsim {
namespace {

using automation::Args;
using automation::Dispatch;
using automation::Variant;

}  // namespace

TicksRequest::TicksRequest() : type(constants().trtCurrentNotify), tick_filter(constants().tfAll) {}

const automation::ClassInfo& TicksRequest::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGTicksRequest");
    auto self = [](Dispatch& d) -> TicksRequest& { return automation::self_as<TicksRequest>(d); };
    c.add_property(
        "Symbol", [self](Dispatch& d, Args) -> Variant { return self(d).symbol; },
        [self](Dispatch& d, Args, const Variant& v) { self(d).symbol = v.as_string(); });
    c.add_property(
        "Type", [self](Dispatch& d, Args) -> Variant { return self(d).type; },
        [self](Dispatch& d, Args, const Variant& v) { self(d).type = v.as_int(); });
    c.add_property(
        "TickFilter", [self](Dispatch& d, Args) -> Variant { return self(d).tick_filter; },
        [self](Dispatch& d, Args, const Variant& v) { self(d).tick_filter = v.as_int(); });
    c.add_property(
        "SessionsFilter", [self](Dispatch& d, Args) -> Variant { return self(d).sessions_filter; },
        [self](Dispatch& d, Args, const Variant& v) { self(d).sessions_filter = v; });
    c.add_property(
        "Limit", [self](Dispatch& d, Args) -> Variant { return self(d).limit; },
        [self](Dispatch& d, Args, const Variant& v) {
          const auto limit = v.as_int();
          if (limit < 0 || limit > kMaxTicksKept) {
            throw std::invalid_argument(fmt::format(
                "CQGTicksRequest.Limit must be within 0 to {}, got {}", kMaxTicksKept, limit));
          }
          self(d).limit = limit;
        });
    return c;
  }();
  return info;
}

const automation::ClassInfo& Tick::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGTick");
    auto self = [](Dispatch& d) -> Tick& { return automation::self_as<Tick>(d); };
    c.add_property("PriceType",
                   [self](Dispatch& d, Args) -> Variant { return self(d).price_type_; });
    c.add_property("Price", [self](Dispatch& d, Args) -> Variant { return self(d).price_; });
    c.add_property("Volume", [self](Dispatch& d, Args) -> Variant { return self(d).volume_; });
    c.add_property("Timestamp", [self](Dispatch& d, Args) -> Variant { return self(d).when_; });
    return c;
  }();
  return info;
}

const automation::ClassInfo& Ticks::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGTicks");
    add_count_and_item<Ticks>(c);
    c.add_property("Request", [](Dispatch& d, Args) -> Variant {
      return automation::self_as<Ticks>(d).request_;
    });
    return c;
  }();
  return info;
}

void Ticks::trim(std::size_t added) {
  const auto limit = request_->limit > 0 ? request_->limit : kDefaultTicksKept;
  keep_newest(std::max(static_cast<std::size_t>(limit), added));
}

bool Ticks::takes(venue::TickType type) const {
  const auto& k = constants();
  const auto filter = request_->tick_filter;
  if (filter == k.tfAll) {
    return true;
  }
  if (filter == type_library()->constant("tfTrades")) {
    return type == venue::TickType::Trade;
  }
  return type == venue::TickType::Ask || type == venue::TickType::Bid;
}

}  // namespace orbrix::cqgsim
