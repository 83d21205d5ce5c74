#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "objects/collection.hpp"
#include "objects/sim_object.hpp"
#include "orbrix/automation/class_info.hpp"
#include "orbrix/cqg/decoded_events.hpp"
#include "venue/market/market_event.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim {

class QuoteFeed;

// One quote of an instrument: Type, Price, Volume, IsValid, Timestamp. The
// instrument keeps one per type and updates it in place, as the vendor does.
class Quote final : public SimObject<Quote> {
 public:
  explicit Quote(std::int64_t type) : type_(type) {}
  // A free-standing quote made by a test (any type value).
  Quote(std::int64_t type, double price, bool valid) : type_(type), price_(price), valid_(valid) {}
  static const automation::ClassInfo& class_info();

  void set(double price, std::int64_t volume, bool valid, automation::Date when) {
    price_ = price;
    volume_ = volume;
    valid_ = valid;
    timestamp_ = when;
  }

 private:
  std::int64_t type_;
  double price_ = 0;
  std::int64_t volume_ = 0;
  bool valid_ = false;
  automation::Date timestamp_{};
};

inline constexpr char kQuotesName[] = "CQGQuotes";
using Quotes = NamedCollection<kQuotesName>;

// A subscribed instrument: FullName, Symbol, Description, TickSize and the
// writable DataSubscriptionLevel that starts and stops its quote stream.
class Instrument final : public SimObject<Instrument> {
 public:
  Instrument(std::weak_ptr<QuoteFeed> feed, venue::InstrumentId id, venue::InstrumentSpec contract);
  static const automation::ClassInfo& class_info();

  venue::InstrumentId id() const { return id_; }
  const venue::InstrumentSpec& contract() const { return spec_; }
  std::int64_t level() const { return level_; }
  bool streaming() const;
  bool removed() const { return removed_; }
  void remove();

  // Takes a market event's quote changes into the quote objects; returns
  // the collection of those the subscription level delivers (reused from
  // event to event), empty when there are none.
  const std::shared_ptr<Quotes>& apply(std::span<const venue::QuoteChange> changes,
                                       automation::Date when);
  // The instrument's current quotes, for the first event after subscribing.
  const std::shared_ptr<Quotes>& snapshot(const venue::InstrumentState& state,
                                          automation::Date when);
  // The same two as a decoded event for the direct path (reused from event
  // to event; no quote object is touched): its quotes empty when there are
  // none.
  const cqg::decoded::InstrumentChange& decode(std::span<const venue::QuoteChange> changes);
  const cqg::decoded::InstrumentChange& decode_snapshot(const venue::InstrumentState& state);

 private:
  bool delivers(venue::QuoteType type) const;

  std::weak_ptr<QuoteFeed> feed_;
  venue::InstrumentId id_;
  venue::InstrumentSpec spec_;
  std::int64_t level_;
  bool removed_ = false;
  std::array<std::shared_ptr<Quote>, venue::kQuoteTypeCount> quotes_;
  std::shared_ptr<Quotes> changed_;
  cqg::decoded::InstrumentChange decoded_;
};

}  // namespace orbrix::cqgsim
