#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "objects/collection.hpp"
#include "objects/instrument.hpp"
#include "objects/session.hpp"
#include "orbrix/cqgsim/vendor_objects.hpp"

namespace orbrix::cqgsim {

inline constexpr char kInstrumentsName[] = "CQGInstruments";
using Instruments = NamedCollection<kInstrumentsName>;

// Instruments and their quotes: NewInstrument and RemoveInstrument, the
// Instruments collection, and OnInstrumentChanged for each market event of a
// streaming instrument (its current quotes first, when its stream starts).
//
// Thread: the session's.
class QuoteFeed {
 public:
  explicit QuoteFeed(Session& session)
      : session_(session), instruments_(std::make_shared<Instruments>()) {}

  const std::shared_ptr<Instruments>& instruments() const { return instruments_; }
  void new_instrument(const std::string& symbol);
  void remove_instrument(const automation::Variant& instrument);
  // The instrument's quote stream started: its current quotes are told.
  void on_level_changed(Instrument& instrument);

  // Whether the instrument of `id` streams quotes.
  bool listens(venue::InstrumentId id) const;
  // The event's quotes to its instrument (streaming when the event came).
  void deliver(const venue::MarketEvent& event);

  // The object of instrument `id`: the subscribed one, or a new one that is
  // not listed in Instruments and does not stream (to place an order with).
  std::shared_ptr<Instrument> instrument(venue::InstrumentId id);

  // For the controls.
  void fire_quotes(std::string_view symbol, const std::vector<QuoteSpec>& quotes);
  void fire_raw_quotes(std::string_view symbol, const std::vector<RawQuote>& quotes);

 private:
  std::shared_ptr<Instrument> subscribed(std::string_view symbol) const;

  Session& session_;
  std::shared_ptr<Instruments> instruments_;
  std::map<venue::InstrumentId, std::shared_ptr<Instrument>> instrument_of_;
  // Counts the removals of each instrument: an answer to NewInstrument is
  // given only if no removal came between the request and the answer.
  std::map<venue::InstrumentId, std::uint64_t> instrument_generation_;
};

}  // namespace orbrix::cqgsim
