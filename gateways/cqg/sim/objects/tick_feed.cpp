#include "objects/tick_feed.hpp"
#include "orbrix/cqgsim/vendor_objects.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <stdexcept>

#include "objects/constants.hpp"
#include "venue/price.hpp"

namespace orbrix::cqgsim {

using automation::Variant;

Variant TickFeed::request_ticks(const Variant& request) {
  session_.require_started("RequestTicks");
  auto r = std::dynamic_pointer_cast<TicksRequest>(request.as_object());
  if (!r) {
    throw std::invalid_argument("CQGCEL.RequestTicks: the argument is not a ticks request");
  }
  const auto id = session_.venue().catalogue().resolve(r->symbol);
  session_.require_history(id, r->symbol, "RequestTicks");
  auto ticks = std::make_shared<Ticks>(r, id);
  all_ticks_->add(ticks);
  const auto b = session_.controls().fault_plan().ticks_resolution;
  if (b.answer == AnswerBehaviour::Answer::Never) {
    return ticks;
  }
  session_.after(b.delay, [this, ticks, b, symbol = r->symbol] {
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
    session_.fire(cqg::CelEvent::OnTicksResolved, args);
  });
  return ticks;
}

void TickFeed::remove_ticks(const Variant& ticks) {
  auto* target = dynamic_cast<Ticks*>(ticks.as_object().get());
  if (!target) {
    throw std::invalid_argument("CQGCEL.RemoveTicks: the argument is not a ticks collection");
  }
  target->set_removed();
  all_ticks_->remove(target);
  std::erase_if(ticks_, [target](const auto& t) { return t.get() == target; });
}

void TickFeed::deliver_to(Ticks& ticks, const venue::MarketEvent& event) {
  const double tick_size = session_.venue().catalogue().contract(event.instrument).tick_size;
  if (auto* sink = session_.decoded_sink()) {
    auto& decoded = ticks.decoded();
    decoded.ticks.clear();
    const auto& k = constants();
    for (const auto& t : event.ticks) {
      if (ticks.takes(t.type)) {
        decoded.ticks.push_back({.price_type = k.tick_type[static_cast<std::size_t>(t.type)],
                                 .price = venue::to_price(t.price, tick_size),
                                 .volume = static_cast<double>(t.volume)});
      }
    }
    if (!decoded.ticks.empty()) {
      sink->ticks_added(decoded);
    }
    return;
  }
  std::int64_t added = 0;
  for (const auto& t : event.ticks) {
    if (!ticks.takes(t.type)) {
      continue;
    }
    ticks.add(std::make_shared<Tick>(constants().tick_type[static_cast<std::size_t>(t.type)],
                                     venue::to_price(t.price, tick_size), t.volume,
                                     session_.vendor_time(t.time)));
    ++added;
  }
  if (added == 0) {
    return;
  }
  ticks.trim(static_cast<std::size_t>(added));
  const std::array<Variant, 2> args{Variant(ticks.shared_from_this()), Variant(added)};
  session_.fire(cqg::CelEvent::OnTicksAdded, args);
}

bool TickFeed::listens(venue::InstrumentId id) const {
  return std::any_of(ticks_.begin(), ticks_.end(),
                     [id](const auto& t) { return t->resolved() && t->instrument() == id; });
}

void TickFeed::deliver(const venue::MarketEvent& event) {
  const DeliveryList<Ticks>::Taken requests(listening_, ticks_, [&](const Ticks& t) {
    return t.resolved() && t.instrument() == event.instrument;
  });
  for (const auto& t : requests.list()) {
    if (!t->removed()) {
      deliver_to(*t, event);
    }
  }
}

}  // namespace orbrix::cqgsim
