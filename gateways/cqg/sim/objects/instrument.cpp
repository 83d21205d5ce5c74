#include "objects/instrument.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "objects/constants.hpp"
#include "objects/quote_feed.hpp"
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

Instrument::Instrument(std::weak_ptr<QuoteFeed> feed, venue::InstrumentId id,
                       venue::InstrumentSpec contract)
    : feed_(std::move(feed)),
      id_(id),
      spec_(std::move(contract)),
      level_(constants().dsNone),
      changed_(std::make_shared<Quotes>()) {
  for (std::size_t i = 0; i < quotes_.size(); ++i) {
    quotes_[i] = std::make_shared<Quote>(constants().quote_type[i]);
  }
  changed_->reserve(quotes_.size());
  decoded_.instrument = identity();
  decoded_.full_name = spec_.full_name;
  decoded_.quotes.reserve(quotes_.size());
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
            if (auto feed = self.feed_.lock()) {
              feed->on_level_changed(self);
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

const cqg::decoded::InstrumentChange& Instrument::decode(
    std::span<const venue::QuoteChange> changes) {
  decoded_.quotes.clear();
  const auto& k = constants();
  for (const auto& c : changes) {
    if (delivers(c.type)) {
      decoded_.quotes.push_back({.valid = c.valid,
                                 .type = k.quote_type[static_cast<std::size_t>(c.type)],
                                 .price = venue::to_price(c.price, spec_.tick_size)});
    }
  }
  return decoded_;
}

const cqg::decoded::InstrumentChange& Instrument::decode_snapshot(
    const venue::InstrumentState& state) {
  decoded_.quotes.clear();
  for (std::size_t i = 0; i < state.quotes.size(); ++i) {
    const auto& c = state.quotes[i];
    if (c.valid && delivers(static_cast<venue::QuoteType>(i))) {
      decoded_.quotes.push_back({.valid = true,
                                 .type = constants().quote_type[i],
                                 .price = venue::to_price(c.price, spec_.tick_size)});
    }
  }
  return decoded_;
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

}  // namespace orbrix::cqgsim
