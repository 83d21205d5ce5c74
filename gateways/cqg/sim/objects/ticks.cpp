#include "objects/ticks.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "objects/constants.hpp"
#include "objects/cqgcel.hpp"

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
  const std::size_t keep = std::max(static_cast<std::size_t>(limit), added);
  if (size() > keep) {
    drop_oldest(size() - keep);
  }
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

// --- the hub's side of ticks ---

Variant CQGCEL::request_ticks(const Variant& request) {
  require_started("RequestTicks");
  auto r = std::dynamic_pointer_cast<TicksRequest>(request.as_object());
  if (!r) {
    throw std::invalid_argument("CQGCEL.RequestTicks: the argument is not a ticks request");
  }
  const auto id = venue_->catalogue().resolve(r->symbol);
  auto ticks = std::make_shared<Ticks>(r, id);
  all_ticks_->add(ticks);
  const auto b = controls_->ticks_resolution();
  if (b.answer == AnswerBehaviour::Answer::Never) {
    return ticks;
  }
  after(b.delay, [this, ticks, b, symbol = r->symbol] {
    if (ticks->removed()) {
      return;
    }
    Variant error;
    if (b.answer == AnswerBehaviour::Answer::Error) {
      error = make_error(b.error_code, b.error_description);
    } else if (!ticks->instrument()) {
      error = make_error(1, fmt::format("Unknown symbol: {}", symbol));
    } else {
      ticks->set_resolved();
      ticks_.push_back(ticks);
    }
    const std::array<Variant, 2> args{Variant(ticks), error};
    fire(cqg::CelEvent::OnTicksResolved, args);
  });
  return ticks;
}

void CQGCEL::remove_ticks(const Variant& ticks) {
  auto* target = dynamic_cast<Ticks*>(ticks.as_object().get());
  if (!target) {
    throw std::invalid_argument("CQGCEL.RemoveTicks: the argument is not a ticks collection");
  }
  target->set_removed();
  all_ticks_->remove(target);
  std::erase_if(ticks_, [target](const auto& t) { return t.get() == target; });
}

void CQGCEL::deliver_ticks(Ticks& ticks, const venue::MarketEvent& event) {
  const double tick_size = venue_->catalogue().contract(event.instrument).tick_size;
  std::int64_t added = 0;
  for (const auto& t : event.ticks) {
    if (!ticks.takes(t.type)) {
      continue;
    }
    ticks.add(std::make_shared<Tick>(constants().tick_type[static_cast<std::size_t>(t.type)],
                                     venue::to_price(t.price, tick_size), t.volume,
                                     vendor_time(t.time)));
    ++added;
  }
  if (added == 0) {
    return;
  }
  ticks.trim(static_cast<std::size_t>(added));
  const std::array<Variant, 2> args{Variant(ticks.shared_from_this()), Variant(added)};
  fire(cqg::CelEvent::OnTicksAdded, args);
}

}  // namespace orbrix::cqgsim
