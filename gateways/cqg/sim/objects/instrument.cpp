#include "objects/instrument.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "objects/constants.hpp"
#include "objects/cqgcel.hpp"
#include "venue/price.hpp"

namespace orbrix::cqgsim {
namespace {

using automation::Args;
using automation::Dispatch;
using automation::Variant;

Instrument& instrument(Dispatch& d) {
  return automation::self_as<Instrument>(d);
}

}  // namespace

const automation::ClassInfo& Quote::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGQuote");
    c.add_property(
        "Type", [](Dispatch& d, Args) -> Variant { return automation::self_as<Quote>(d).type_; });
    c.add_property(
        "Price", [](Dispatch& d, Args) -> Variant { return automation::self_as<Quote>(d).price_; });
    c.add_property("Volume", [](Dispatch& d, Args) -> Variant {
      return automation::self_as<Quote>(d).volume_;
    });
    c.add_property("IsValid", [](Dispatch& d, Args) -> Variant {
      return automation::self_as<Quote>(d).valid_;
    });
    c.add_property("Timestamp", [](Dispatch& d, Args) -> Variant {
      return automation::self_as<Quote>(d).timestamp_;
    });
    return c;
  }();
  return info;
}

Instrument::Instrument(std::weak_ptr<CQGCEL> cel, venue::InstrumentId id,
                       venue::InstrumentSpec contract)
    : cel_(std::move(cel)),
      id_(id),
      spec_(std::move(contract)),
      level_(constants().dsNone),
      changed_(std::make_shared<Quotes>()) {
  for (std::size_t i = 0; i < quotes_.size(); ++i) {
    quotes_[i] = std::make_shared<Quote>(constants().quote_type[i]);
  }
  changed_->reserve(quotes_.size());
  // Enumerated by the handler of every quote event: one enumerator serves.
  changed_->reuse_enumerator(true);
}

const automation::ClassInfo& Instrument::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGInstrument");
    c.add_property("FullName",
                   [](Dispatch& d, Args) -> Variant { return instrument(d).spec_.full_name; });
    c.add_property("Symbol",
                   [](Dispatch& d, Args) -> Variant { return instrument(d).spec_.symbol; });
    c.add_property("Description",
                   [](Dispatch& d, Args) -> Variant { return instrument(d).spec_.description; });
    c.add_property("TickSize",
                   [](Dispatch& d, Args) -> Variant { return instrument(d).spec_.tick_size; });
    c.add_property(
        "DataSubscriptionLevel", [](Dispatch& d, Args) -> Variant { return instrument(d).level_; },
        [](Dispatch& d, Args, const Variant& v) {
          auto& self = instrument(d);
          const auto& k = constants();
          const auto level = v.as_int();
          if (level != k.dsNone && level != k.dsQuotes && level != k.dsQuotesAndBBA &&
              level != k.dsQuotesAndDOM) {
            throw std::invalid_argument(fmt::format("{} is not a data subscription level", level));
          }
          if (self.removed_) {
            throw std::logic_error(
                fmt::format("{} has been removed: subscribe it again", self.spec_.full_name));
          }
          const bool was = self.streaming();
          self.level_ = level;
          if (!was && self.streaming()) {
            if (auto cel = self.cel_.lock()) {
              cel->on_level_changed(self);
            }
          }
        });
    return c;
  }();
  return info;
}

bool Instrument::streaming() const {
  return !removed_ && level_ != constants().dsNone;
}

void Instrument::remove() {
  removed_ = true;
  level_ = constants().dsNone;
}

bool Instrument::delivers(venue::QuoteType type) const {
  // Without BBA the best bid and ask are left out.
  return level_ != constants().dsQuotes ||
         (type != venue::QuoteType::Bid && type != venue::QuoteType::Ask);
}

const std::shared_ptr<Quotes>& Instrument::apply(std::span<const venue::QuoteChange> changes,
                                                 automation::Date when) {
  changed_->clear();
  for (const auto& c : changes) {
    auto& q = quotes_[static_cast<std::size_t>(c.type)];
    q->set(venue::to_price(c.price, spec_.tick_size), c.volume, c.valid, when);
    if (delivers(c.type)) {
      changed_->add(q);
    }
  }
  return changed_;
}

const std::shared_ptr<Quotes>& Instrument::snapshot(const venue::InstrumentState& state,
                                                    automation::Date when) {
  changed_->clear();
  for (std::size_t i = 0; i < state.quotes.size(); ++i) {
    const auto& c = state.quotes[i];
    if (!c.valid) {
      continue;
    }
    quotes_[i]->set(venue::to_price(c.price, spec_.tick_size), c.volume, true, when);
    if (delivers(static_cast<venue::QuoteType>(i))) {
      changed_->add(quotes_[i]);
    }
  }
  return changed_;
}

// --- the hub's side of instruments and quotes ---

void CQGCEL::new_instrument(const std::string& symbol) {
  require_started("NewInstrument");
  const auto id = venue_->catalogue().resolve(symbol);
  const auto b = controls_->instrument_resolution();
  if (b.answer == AnswerBehaviour::Answer::Never) {
    return;
  }
  // RemoveInstrument before the answer ends the request: the answer is not
  // given then.
  const std::uint64_t generation = id ? instrument_generation_[*id] : 0;
  after(b.delay, [this, symbol, id, b, generation] {
    if (id && instrument_generation_[*id] != generation) {
      return;
    }
    if (b.answer == AnswerBehaviour::Answer::Error || !id) {
      const auto error = b.answer == AnswerBehaviour::Answer::Error
                             ? make_error(b.error_code, b.error_description)
                             : make_error(1, fmt::format("Unknown symbol: {}", symbol));
      const std::array<Variant, 3> args{Variant(symbol), Variant(), Variant(error)};
      fire(cqg::CelEvent::OnInstrumentResolved, args);
      return;
    }
    auto& object = instrument_of_[*id];
    if (!object) {
      object = std::make_shared<Instrument>(std::static_pointer_cast<CQGCEL>(shared_from_this()),
                                            *id, venue_->catalogue().contract(*id));
      instruments_->add(object, object->contract().full_name);
    }
    const std::array<Variant, 3> args{Variant(symbol), Variant(object), Variant()};
    fire(cqg::CelEvent::OnInstrumentResolved, args);
  });
}

void CQGCEL::remove_instrument(const Variant& instrument) {
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

void CQGCEL::on_level_changed(Instrument& instrument) {
  auto strong = std::static_pointer_cast<Instrument>(instrument.shared_from_this());
  emit([this, strong] {
    if (!strong->streaming() || !venue_) {
      return;
    }
    const auto& state = venue_->market().state(strong->id());
    const auto& quotes = strong->snapshot(state, vendor_time(venue_->now()));
    if (quotes->size() == 0) {
      return;
    }
    const std::array<Variant, 3> args{Variant(strong), Variant(quotes), Variant()};
    fire(cqg::CelEvent::OnInstrumentChanged, args);
  });
}

void CQGCEL::deliver_quotes(Instrument& instrument, const venue::MarketEvent& event) {
  const auto& quotes = instrument.apply(event.quotes, vendor_time(event.time));
  if (quotes->size() == 0) {
    return;
  }
  const std::array<Variant, 3> args{Variant(instrument.shared_from_this()), Variant(quotes),
                                    Variant()};
  fire(cqg::CelEvent::OnInstrumentChanged, args);
}

std::shared_ptr<Instrument> CQGCEL::subscribed(std::string_view symbol) const {
  const auto id = venue_ ? venue_->catalogue().resolve(symbol) : std::nullopt;
  const auto it = id ? instrument_of_.find(*id) : instrument_of_.end();
  if (it == instrument_of_.end()) {
    throw std::out_of_range(fmt::format("{} is not subscribed", symbol));
  }
  return it->second;
}

void CQGCEL::fire_quotes(std::string_view symbol, const std::vector<QuoteSpec>& quotes) {
  require_started("fire_quotes");
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
  flush();
  venue_->market().inject(target->id(), venue_->now(), std::move(changes));
  venue_->advance_to(venue_->now(), *this);
  flush();
}

void CQGCEL::fire_raw_quotes(std::string_view symbol, const std::vector<RawQuote>& quotes) {
  require_started("fire_raw_quotes");
  auto target = subscribed(symbol);
  auto list = std::make_shared<Quotes>();
  const auto when = vendor_time(venue_->now());
  for (const auto& q : quotes) {
    auto quote = std::make_shared<Quote>(q.type, q.price, q.valid);
    quote->set(q.price, 1, q.valid, when);
    list->add(std::move(quote));
  }
  flush();
  const std::array<Variant, 3> args{Variant(target), Variant(list), Variant()};
  fire(cqg::CelEvent::OnInstrumentChanged, args);
}

}  // namespace orbrix::cqgsim
