#include "objects/quote_feed.hpp"
#include "orbrix/cqgsim/vendor_objects.hpp"

#include <fmt/format.h>

#include <array>
#include <stdexcept>

#include "objects/constants.hpp"
#include "venue/price.hpp"

namespace orbrix::cqgsim {

using automation::Variant;

void QuoteFeed::new_instrument(const std::string& symbol) {
  session_.require_started("NewInstrument");
  const auto id = session_.venue().catalogue().resolve(symbol);
  session_.require_history(id, symbol, "NewInstrument");
  const auto b = session_.controls().fault_plan().instrument_resolution;
  if (b.answer == AnswerBehaviour::Answer::Never) {
    return;
  }
  // RemoveInstrument before the answer ends the request: the answer is not
  // given then.
  const std::uint64_t generation = id ? instrument_generation_[*id] : 0;
  session_.after(b.delay, [this, symbol, id, b, generation] {
    if (id && instrument_generation_[*id] != generation) {
      return;
    }
    if (b.answer == AnswerBehaviour::Answer::Error || !id) {
      const auto error = b.answer == AnswerBehaviour::Answer::Error
                             ? make_error(b.error_code, b.error_description)
                             : make_error(1, fmt::format("Unknown symbol: {}", symbol));
      const std::array<Variant, 3> args{Variant(symbol), Variant(), Variant(error)};
      session_.fire(cqg::CelEvent::OnInstrumentResolved, args);
      return;
    }
    auto& object = instrument_of_[*id];
    if (!object) {
      object = std::make_shared<Instrument>(session_.share(*this), *id,
                                            session_.venue().catalogue().contract(*id));
      instruments_->add(object, object->contract().full_name);
    }
    const std::array<Variant, 3> args{Variant(symbol), Variant(object), Variant()};
    session_.fire(cqg::CelEvent::OnInstrumentResolved, args);
  });
}

std::shared_ptr<Instrument> QuoteFeed::instrument(venue::InstrumentId id) {
  if (const auto it = instrument_of_.find(id); it != instrument_of_.end()) {
    return it->second;
  }
  return std::make_shared<Instrument>(session_.share(*this), id,
                                      session_.venue().catalogue().contract(id));
}

void QuoteFeed::remove_instrument(const Variant& instrument) {
  auto* target = dynamic_cast<Instrument*>(instrument.as_object().get());
  if (!target) {
    throw std::invalid_argument("CQGCEL.RemoveInstrument: the argument is not an instrument");
  }
  const auto it = instrument_of_.find(target->id());
  if (it == instrument_of_.end() || it->second.get() != target) {
    return;  // removed already
  }
  target->remove();
  instruments_->remove(target);
  instrument_of_.erase(it);
  ++instrument_generation_[target->id()];
}

void QuoteFeed::on_level_changed(Instrument& instrument) {
  auto strong = std::static_pointer_cast<Instrument>(instrument.shared_from_this());
  session_.emit([this, strong] {
    if (!strong->streaming() || !session_.has_venue()) {
      return;
    }
    const auto& state = session_.venue().market().state(strong->id());
    if (auto* sink = session_.decoded_sink()) {
      const auto& change = strong->decode_snapshot(state);
      if (!change.quotes.empty()) {
        sink->instrument_changed(change);
      }
      return;
    }
    const auto& quotes = strong->snapshot(state, session_.vendor_time(session_.venue().now()));
    if (quotes->size() == 0) {
      return;
    }
    const std::array<Variant, 3> args{Variant(strong), Variant(quotes), Variant()};
    session_.fire(cqg::CelEvent::OnInstrumentChanged, args);
  });
}

bool QuoteFeed::listens(venue::InstrumentId id) const {
  const auto it = instrument_of_.find(id);
  return it != instrument_of_.end() && it->second->streaming();
}

void QuoteFeed::deliver(const venue::MarketEvent& event) {
  const auto it = instrument_of_.find(event.instrument);
  if (it == instrument_of_.end()) {
    return;  // removed by a handler of what was told before
  }
  Instrument& instrument = *it->second;
  if (auto* sink = session_.decoded_sink()) {
    const auto& change = instrument.decode(event.quotes);
    if (!change.quotes.empty()) {
      sink->instrument_changed(change);
    }
    return;
  }
  const auto& quotes = instrument.apply(event.quotes, session_.vendor_time(event.time));
  if (quotes->size() == 0) {
    return;
  }
  const std::array<Variant, 3> args{Variant(instrument.shared_from_this()), Variant(quotes),
                                    Variant()};
  session_.fire(cqg::CelEvent::OnInstrumentChanged, args);
}

std::shared_ptr<Instrument> QuoteFeed::subscribed(std::string_view symbol) const {
  const auto id =
      session_.has_venue() ? session_.venue().catalogue().resolve(symbol) : std::nullopt;
  const auto it = id ? instrument_of_.find(*id) : instrument_of_.end();
  if (it == instrument_of_.end()) {
    throw std::out_of_range(fmt::format("{} is not subscribed", symbol));
  }
  return it->second;
}

void QuoteFeed::fire_quotes(std::string_view symbol, const std::vector<QuoteSpec>& quotes) {
  session_.require_started("fire_quotes");
  auto target = subscribed(symbol);
  std::vector<venue::QuoteChange> changes;
  for (const auto& q : quotes) {
    const auto type = quote_type_named(q.type);
    if (!type) {
      throw std::invalid_argument(fmt::format("fire_quotes: no quote type is named {}", q.type));
    }
    auto ticks =
        venue::checked_ticks(q.price, target->contract().tick_size, q.type, venue::PriceSign::Any);
    if (q.valid && !ticks) {
      throw std::invalid_argument("fire_quotes: " + ticks.refusal);
    }
    changes.push_back(venue::QuoteChange{*type, ticks.ticks, q.volume, q.valid});
  }
  session_.flush();
  auto& venue = session_.venue();
  venue.market().inject(target->id(), venue.now(), std::move(changes));
  session_.run_until(venue.now());
}

void QuoteFeed::fire_raw_quotes(std::string_view symbol, const std::vector<RawQuote>& quotes) {
  session_.require_started("fire_raw_quotes");
  auto target = subscribed(symbol);
  auto list = std::make_shared<Quotes>();
  const auto when = session_.vendor_time(session_.venue().now());
  for (const auto& q : quotes) {
    auto quote = std::make_shared<Quote>(q.type, q.price, q.valid);
    quote->set(q.price, 1, q.valid, when);
    list->add(std::move(quote));
  }
  session_.flush();
  const std::array<Variant, 3> args{Variant(target), Variant(list), Variant()};
  session_.fire(cqg::CelEvent::OnInstrumentChanged, args);
}

}  // namespace orbrix::cqgsim
