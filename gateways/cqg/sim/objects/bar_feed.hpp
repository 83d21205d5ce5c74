#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "objects/collection.hpp"
#include "objects/delivery_list.hpp"
#include "objects/session.hpp"
#include "objects/timed_bars.hpp"

namespace orbrix::cqgsim {

inline constexpr char kAllTimedBarsName[] = "CQGTimedBarsCollection";
using AllTimedBars = NamedCollection<kAllTimedBarsName>;

// Timed-bar requests: RequestTimedBars (answered by OnTimedBarsResolved with
// the bars asked for, unless removed first), RemoveTimedBars, AllTimedBars,
// and OnTimedBarsUpdated or OnTimedBarsAdded as the market's bars of a live
// request's instrument and period form and open.
//
// Thread: the session's.
class BarFeed {
 public:
  explicit BarFeed(Session& session)
      : session_(session), all_timed_bars_(std::make_shared<AllTimedBars>()) {}

  const std::shared_ptr<AllTimedBars>& all_timed_bars() const { return all_timed_bars_; }
  automation::Variant request_timed_bars(const automation::Variant& request);
  void remove_timed_bars(const automation::Variant& bars);

  // Whether a live request listens to the instrument of `id`.
  bool listens(venue::InstrumentId id) const;
  // The event's bar updates to every live request of its instrument and period.
  void deliver(const venue::MarketEvent& event);

 private:
  void deliver_to(TimedBars& bars, const venue::BarUpdate& update);
  void deliver_decoded(TimedBars& bars, const venue::BarUpdate& update, cqg::decoded::Sink& sink);
  // A bar's values as the vendor reports them, with the values the controls
  // say are missing at `index` (of the bars the request got) put missing.
  cqg::decoded::TimedBar bar_values(const venue::Bar& bar, double tick_size,
                                    std::string_view symbol, std::size_t index) const;
  std::shared_ptr<TimedBar> make_bar(const venue::Bar& bar, double tick_size,
                                     std::string_view symbol, std::size_t index) const;

  Session& session_;
  std::shared_ptr<AllTimedBars> all_timed_bars_;
  std::vector<std::shared_ptr<TimedBars>> timed_bars_;  // live bar requests, oldest first
  DeliveryList<TimedBars> listening_;
};

}  // namespace orbrix::cqgsim
