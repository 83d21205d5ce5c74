#pragma once

// Pieces of the simulated vendor that its objects and its driver (tests,
// tools) both use.

#include <cstdint>
#include <memory>
#include <string>

#include "orbrix/automation/dispatch.hpp"
#include "orbrix/automation/type_library.hpp"

namespace orbrix::cqgsim {

// A vendor error object (Code, Description), usable as an event argument.
automation::DispatchPtr make_error(std::int64_t code, std::string description);

// The simulator's CQGCEL type library (constants with distinct values, the
// event interface). Built once.
std::shared_ptr<const automation::TypeLibrary> type_library();

// One quote of an exact batch: the vendor's quote type by name ("qtBid").
struct QuoteSpec {
  std::string type;
  double price = 0;
  std::int64_t volume = 1;
  bool valid = true;
};

// A quote object as a test makes it, with any Type value at all (also one no
// vendor constant has), fired as it is.
struct RawQuote {
  std::int64_t type = 0;
  double price = 0;
  bool valid = true;
};

}  // namespace orbrix::cqgsim
