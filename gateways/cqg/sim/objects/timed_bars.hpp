#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "objects/collection.hpp"
#include "objects/sim_object.hpp"
#include "orbrix/automation/class_info.hpp"
#include "orbrix/cqg/decoded_events.hpp"
#include "venue/market/bars.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim {

// What CreateTimedBarsRequest hands out. RangeEnd counts bars back from the
// one forming: RangeStart 0 and RangeEnd -101 ask for 100 completed bars.
class TimedBarsRequest final : public SimObject<TimedBarsRequest> {
 public:
  static const automation::ClassInfo& class_info();

  std::string symbol;
  std::int64_t range_start = 0;
  std::int64_t range_end = -1;
  std::optional<std::int64_t> historical_period;
  std::optional<std::int64_t> intraday_period;
  std::optional<std::int64_t> daily_bar_close;
  bool updates_enabled = false;
  automation::Variant sessions_filter;
  std::vector<std::pair<std::int64_t, bool>> outputs;  // IncludeOutput calls, in order
};

// The value a bar reports for a field it has no value for.
inline constexpr double kInvalidValue = -2147483648.0;

// One bar: Timestamp, Open, High, Low, Close, ActualVolume, the three
// fractional volumes and TickVolume. Prices in the instrument's units.
class TimedBar final : public SimObject<TimedBar> {
 public:
  static const automation::ClassInfo& class_info();

  venue::Timestamp start{};
  automation::Date timestamp{};
  double open = 0, high = 0, low = 0, close = 0, volume = 0;
  double tick_volume = 0, contract_volume = 0, commodity_volume = 0;
};

// The bars of one request: Count, Item(i) (oldest first; the last one
// forming), Request. It keeps the bars the request asked for and the forming
// one (two at least: a new bar's predecessor stays readable); as bars are
// added the oldest go.
class TimedBars final : public SimObject<TimedBars>, public Collection {
 public:
  TimedBars(std::shared_ptr<TimedBarsRequest> request,
            std::optional<venue::InstrumentId> instrument, venue::BarPeriod period)
      : request_(std::move(request)), instrument_(instrument), period_(period) {}
  static const automation::ClassInfo& class_info();

  const std::shared_ptr<TimedBarsRequest>& request() const { return request_; }
  const std::optional<venue::InstrumentId>& instrument() const { return instrument_; }
  venue::BarPeriod period() const { return period_; }
  bool live() const { return resolved_ && !removed_ && request_->updates_enabled; }
  bool removed() const { return removed_; }
  // Resolved with `completed` bars asked for.
  void set_resolved(std::size_t completed) {
    resolved_ = true;
    window_ = std::max<std::size_t>(completed, 1) + 1;
  }
  void set_removed() { removed_ = true; }
  // The newest bar, or null.
  const TimedBar* newest() const;
  // Appends a bar, dropping the oldest beyond the window.
  void append(std::shared_ptr<TimedBar> bar);
  // Replaces the newest bar.
  void replace_newest(std::shared_ptr<TimedBar> bar) { replace_back(std::move(bar)); }
  // The number of bars ever appended: the index a bar has counted from the
  // first one the request got, dropped ones included.
  std::size_t appended() const { return appended_; }

  // The direct path makes no bar objects: it keeps the venue's newest bar,
  // counts what the collection would hold, and refills its events.
  struct Direct {
    std::optional<venue::Bar> newest;
    cqg::decoded::TimedBarsAdded added;
    cqg::decoded::TimedBarsUpdated updated;
  };
  Direct& direct() {
    direct_.added.collection = identity();
    direct_.updated.collection = identity();
    return direct_;
  }
  // A bar appended on the direct path.
  void count_appended() { ++appended_; }
  // The bars the collection would hold on the direct path.
  std::size_t direct_size() const { return window_ > 0 ? std::min(appended_, window_) : appended_; }

 private:
  Direct direct_;
  std::shared_ptr<TimedBarsRequest> request_;
  std::optional<venue::InstrumentId> instrument_;
  venue::BarPeriod period_;
  std::size_t window_ = 0;  // 0 until resolved: no bound while the request is answered
  std::size_t appended_ = 0;
  bool resolved_ = false;
  bool removed_ = false;
};

}  // namespace orbrix::cqgsim
