#pragma once

// What an account update reads from the vendor on the worker, handed to the
// engine's thread to be mapped and published (BrokerLink's accounts.cpp).

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "orbrix/automation/object.hpp"
#include "orbrix/common/datetime.hpp"
#include "orbrix/core/balance.hpp"
#include "orbrix/core/security.hpp"

namespace orbrix::cqg {

namespace detail {

// One vendor position as read on the worker; mapped on the engine's thread.
struct RawPosition {
  double quantity = 0;
  std::string instrument_name;
  // Read only for a symbol the engine maps.
  bool whole = false;
  automation::Variant side;
  double average_price = 0;
  // The engine's answer, when it was asked between two round trips.
  bool looked_up = false;
  std::optional<Security> security;
};

// What an update reads from the vendor: the look-up lines, the six amounts
// or the error that stopped their reading, and the positions walked so far
// (with where the walk stands) or the error that stopped it.
struct AccountSnapshot {
  struct Lookup {
    std::vector<std::string> lines;
    bool found = false;
  };
  std::optional<std::int64_t> id;
  Lookup balance_lookup;
  std::optional<AccountBalance> balance;
  std::string balance_error;

  Lookup positions_lookup;
  // When the positions were read: their update_time.
  DateTime time{};
  std::vector<RawPosition> positions;
  std::exception_ptr positions_error;
  // The walk: the account's Positions (a proxy, for the round trips after
  // the first), its count, and the position whose symbol the engine is to
  // be asked about before the walk goes on (a proxy), if any.
  automation::Object positions_collection;
  std::int64_t positions_count = 0;
  automation::Object asking;
  // Symbols the engine is known to map (a copy taken under `lock`).
  std::unordered_set<std::string> mapped;
};

}  // namespace detail

}  // namespace orbrix::cqg
