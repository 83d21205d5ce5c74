#pragma once

// The plain functions that apply decoded events to the engine's gateway,
// for tests and benchmarks that drive them without an apartment: the
// functions BrokerLink applies both paths' events with, asking the engine
// for the security per event and stamping records with the machine's
// local time. Not part of the module's interface.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "orbrix/core/bar.hpp"
#include "orbrix/core/base_gateway.hpp"
#include "orbrix/cqg/broker_link_constants.hpp"
#include "orbrix/cqg/decoded_events.hpp"

namespace orbrix::cqg {

// The decoded events (the vendor catalogue's, which an in-process
// simulator hands over on the direct path).
using decoded::InstrumentChange;
using decoded::QuoteUpdate;
using decoded::TicksAdded;
using decoded::TickUpdate;

// Updates the security's Quote for each valid quote, stores it in
// cqg_quotes and passes it to process_quote once it holds a last price or
// both bid and ask. Quotes of a symbol the engine does not map are skipped.
// Runs where called (the worker, in BrokerLink). Throws std::out_of_range
// for a quote type outside the name table or a security that is not a key
// of cqg_quotes; the quotes after the failing one are not applied. An
// engine hook that raises (the look-up or process_quote) is traced and
// costs only its own call.
void apply_instrument_change(BaseGateway& gateway, const InstrumentChange& change);

// Updates the first level of the security's OrderBook tick by tick, stores
// it in cqg_orderbooks after each tick and passes it to process_orderbook
// whenever both sides hold a price and a volume. Returns false, applying
// nothing, when the engine maps no security to the symbol. Throws as
// apply_instrument_change (for tick price types and cqg_orderbooks); a
// raising look-up skips its tick, a raising process_orderbook only itself.
bool apply_ticks_added(BaseGateway& gateway, const TicksAdded& added);

// Fills each missing value (INVALID_VALUE) of open, high, low, close and
// volume from the nearest earlier bar that has it, else from the nearest
// later one, in place. Throws std::invalid_argument "The latest bar is
// INVALID: <bar>." when the newest bar still lacks a value (the fills made
// stay). An empty list is left alone.
void fill_missing_bar_values(std::vector<Bar>& bars);

// Rolls a bar window: when `bar` is later than the newest bar, drops the
// oldest and appends `bar` and returns true; otherwise leaves the window
// and returns false. Throws std::out_of_range for an empty window.
bool roll_bar_window(std::vector<Bar>& window, const Bar& bar);

}  // namespace orbrix::cqg
