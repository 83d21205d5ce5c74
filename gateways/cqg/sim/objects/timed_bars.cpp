#include "objects/timed_bars.hpp"

#include <utility>

namespace orbrix::cqgsim {
namespace {

using automation::Args;
using automation::Dispatch;
using automation::Variant;

template <class T, class Get, class Set>
void rw(automation::ClassInfo& c, const char* name, Get get, Set set) {
  c.add_property(
      name, [get](Dispatch& d, Args) -> Variant { return get(automation::self_as<T>(d)); },
      [set](Dispatch& d, Args, const Variant& v) { set(automation::self_as<T>(d), v); });
}

Variant optional_int(const std::optional<std::int64_t>& v) {
  return v ? Variant(*v) : Variant();
}

}  // namespace

const automation::ClassInfo& TimedBarsRequest::class_info() {
  static const automation::ClassInfo info = [] {
    using R = TimedBarsRequest;
    automation::ClassInfo c("CQGTimedBarsRequest");
    rw<R>(
        c, "Symbol", [](R& r) -> Variant { return r.symbol; },
        [](R& r, const Variant& v) { r.symbol = v.as_string(); });
    rw<R>(
        c, "RangeStart", [](R& r) -> Variant { return r.range_start; },
        [](R& r, const Variant& v) { r.range_start = v.as_int(); });
    rw<R>(
        c, "RangeEnd", [](R& r) -> Variant { return r.range_end; },
        [](R& r, const Variant& v) { r.range_end = v.as_int(); });
    rw<R>(
        c, "HistoricalPeriod", [](R& r) -> Variant { return optional_int(r.historical_period); },
        [](R& r, const Variant& v) { r.historical_period = v.as_int(); });
    rw<R>(
        c, "IntradayPeriod", [](R& r) -> Variant { return optional_int(r.intraday_period); },
        [](R& r, const Variant& v) { r.intraday_period = v.as_int(); });
    rw<R>(
        c, "DailyBarClose", [](R& r) -> Variant { return optional_int(r.daily_bar_close); },
        [](R& r, const Variant& v) { r.daily_bar_close = v.as_int(); });
    rw<R>(
        c, "UpdatesEnabled", [](R& r) -> Variant { return r.updates_enabled; },
        [](R& r, const Variant& v) { r.updates_enabled = v.as_bool(); });
    rw<R>(
        c, "SessionsFilter", [](R& r) -> Variant { return r.sessions_filter; },
        [](R& r, const Variant& v) { r.sessions_filter = v; });
    c.add_method("IncludeOutput", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 2, "CQGTimedBarsRequest", "IncludeOutput");
      automation::self_as<R>(d).outputs.emplace_back(a[0].as_int(), a[1].as_bool());
      return {};
    });
    return c;
  }();
  return info;
}

const automation::ClassInfo& TimedBar::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGTimedBar");
    auto field = [&c](const char* name, double TimedBar::*member) {
      c.add_property(name, [member](Dispatch& d, Args) -> Variant {
        return automation::self_as<TimedBar>(d).*member;
      });
    };
    c.add_property("Timestamp", [](Dispatch& d, Args) -> Variant {
      return automation::self_as<TimedBar>(d).timestamp;
    });
    field("Open", &TimedBar::open);
    field("High", &TimedBar::high);
    field("Low", &TimedBar::low);
    field("Close", &TimedBar::close);
    field("ActualVolume", &TimedBar::volume);
    field("ActualVolumeFractional", &TimedBar::volume);
    field("CommodityVolumeFractional", &TimedBar::commodity_volume);
    field("ContractVolumeFractional", &TimedBar::contract_volume);
    field("TickVolume", &TimedBar::tick_volume);
    return c;
  }();
  return info;
}

const automation::ClassInfo& TimedBars::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGTimedBars");
    add_count_and_item<TimedBars>(c);
    c.add_property("Request", [](Dispatch& d, Args) -> Variant {
      return automation::self_as<TimedBars>(d).request_;
    });
    return c;
  }();
  return info;
}

const TimedBar* TimedBars::newest() const {
  return size() == 0 ? nullptr : static_cast<const TimedBar*>(back().get());
}

void TimedBars::append(std::shared_ptr<TimedBar> bar) {
  add(std::move(bar));
  ++appended_;
  if (window_ > 0) {
    keep_newest(window_);
  }
}

}  // namespace orbrix::cqgsim
