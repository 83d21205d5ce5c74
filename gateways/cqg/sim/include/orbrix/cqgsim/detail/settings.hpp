#pragma once

// What the simulator's objects read of their controls, and the little they
// tell them: a private interface SimControls implements, so the objects
// never reach the public class. Internal to the simulator.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orbrix/cqgsim/config.hpp"
#include "orbrix/cqgsim/fault_plan.hpp"
#include "orbrix/cqgsim/venue_report.hpp"

namespace orbrix::cqgsim {

class CallJournal;
// A bar field the venue can be told to report missing (INVALID_VALUE).
enum class BarField : std::uint8_t { Open, High, Low, Close, Volume };

namespace detail {

// A recorded history handed to the simulator (defined beside the objects,
// so this header needs no venue types).
struct RecordedHistory;
using Histories = std::vector<std::pair<std::string, std::shared_ptr<const RecordedHistory>>>;

// The configuration with its histories read and checked.
struct Startup {
  SimConfig config;
  Histories histories;
};

class SimSettings {
 public:
  // Read at Startup.
  virtual Startup startup() const = 0;
  // Read per request.
  virtual FaultPlan fault_plan() const = 0;
  virtual std::vector<std::size_t> missing_bar_values(std::string_view symbol,
                                                      BarField field) const = 0;
  // The reason to reject the next order with, once.
  virtual std::optional<std::string> take_reject_next() = 0;
  // What the objects tell.
  virtual void count_startup() = 0;
  virtual bool wants_order_reports() const noexcept = 0;
  virtual void report_order(const OrderReport& report) = 0;
  virtual const std::shared_ptr<CallJournal>& shared_journal() const noexcept = 0;

 protected:
  ~SimSettings() = default;
};

}  // namespace detail
}  // namespace orbrix::cqgsim
