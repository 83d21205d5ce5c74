#pragma once

// What the simulator's objects read of their controls, and the little they
// tell them: a private interface SimControls implements, so the objects
// never reach the public class. Internal to the simulator.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orbrix/cqgsim/fault_plan.hpp"
#include "orbrix/cqgsim/fill_model.hpp"

namespace orbrix::cqgsim {

class CallJournal;
// A bar field the venue can be told to report missing (INVALID_VALUE).
enum class BarField : std::uint8_t { Open, High, Low, Close, Volume };

namespace detail {

// A recorded history handed to the simulator (defined beside the objects,
// so this header needs no venue types).
struct RecordedHistory;
using Histories = std::vector<std::pair<std::string, std::shared_ptr<const RecordedHistory>>>;

class SimSettings {
 public:
  // Read at Startup.
  virtual std::uint64_t seed() const = 0;
  virtual std::optional<std::chrono::system_clock::time_point> start_time() const = 0;
  virtual std::chrono::milliseconds mean_event_interval() const = 0;
  virtual FillModel fill_model() const = 0;
  virtual std::size_t finished_orders_kept() const = 0;
  virtual bool manual_clock() const = 0;
  virtual Histories histories() const = 0;
  // Read per request.
  virtual FaultPlan fault_plan() const = 0;
  virtual std::vector<std::size_t> missing_bar_values(std::string_view symbol,
                                                      BarField field) const = 0;
  // The reason to reject the next order with, once.
  virtual std::optional<std::string> take_reject_next() = 0;
  // What the objects tell.
  virtual void count_startup() = 0;
  virtual const std::shared_ptr<CallJournal>& shared_journal() const noexcept = 0;

 protected:
  ~SimSettings() = default;
};

}  // namespace detail
}  // namespace orbrix::cqgsim
