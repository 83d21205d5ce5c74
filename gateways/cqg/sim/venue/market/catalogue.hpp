#pragma once

// The instruments the venue lists, indexed by InstrumentId (0..size()-1).
// Immutable after construction; any thread may read it once built.

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

class Catalogue {
 public:
  // The standard set of twelve futures (equity index EP ENQ DD, rates TYA
  // USA, FX EU6 JY6 BP6, metals GCE SIE, energy CLE NGE), each resolved to
  // its front contract on the UTC day of `as_of`. A contract stays front
  // through its last day (see README.md for the rules) and rolls the day
  // after. The catalogue does not roll while it is in use.
  static Catalogue standard(Timestamp as_of);

  // The standard contract named by `text` whatever its month: the short
  // symbol ("EP"), a dated symbol of any month ("EPH27") or a full name
  // ("F.US.EPH27"), ignoring letter case; none for anything else. Its tick
  // size, tick value and other terms are those of every month (the dated
  // names it carries are not meaningful).
  static std::optional<InstrumentSpec> standard_contract(std::string_view text);

  // A catalogue of the given instruments, in this order. `symbol` and
  // `full_name` must be non-empty and unique ignoring case; the dated symbol
  // is the part of the full name after its last dot. Throws
  // std::invalid_argument otherwise.
  explicit Catalogue(std::vector<InstrumentSpec> contracts,
                     std::vector<std::chrono::sys_days> last_days = {});

  // The instrument named by its short symbol ("EP"), dated symbol ("EPZ26")
  // or full name ("F.US.EPZ26"), ignoring letter case; none when unknown
  // (including another month of a listed future).
  std::optional<InstrumentId> resolve(std::string_view text) const;

  // Throws std::out_of_range for an id not below size().
  const InstrumentSpec& contract(InstrumentId id) const;
  // The last day the contract is front; none for a catalogue built without.
  std::optional<std::chrono::sys_days> last_day(InstrumentId id) const;

  std::size_t size() const { return specs_.size(); }
  // The whole table, indexed by InstrumentId: what the trading side takes.
  const std::vector<InstrumentSpec>& contracts() const { return specs_; }

 private:
  std::vector<InstrumentSpec> specs_;
  std::vector<std::chrono::sys_days> last_days_;
  std::map<std::string, InstrumentId> names_;  // upper-cased symbol, dated symbol, full name
};

}  // namespace orbrix::cqgsim::venue
