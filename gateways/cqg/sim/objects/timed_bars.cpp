#include "objects/timed_bars.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "objects/constants.hpp"
#include "objects/cqgcel.hpp"

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
    auto self = [](Dispatch& d) -> TimedBars& { return automation::self_as<TimedBars>(d); };
    c.add_property("Count", [self](Dispatch& d, Args) -> Variant {
      return static_cast<std::int64_t>(self(d).bars_.size());
    });
    c.add_property("Item", [self](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 1, "CQGTimedBars", "Item");
      const auto& bars = self(d).bars_;
      const auto i = a[0].as_int();
      if (i < 0 || static_cast<std::size_t>(i) >= bars.size()) {
        throw std::out_of_range(fmt::format(
            "CQGTimedBars: no bar at index {} (the collection holds {})", i, bars.size()));
      }
      return bars[static_cast<std::size_t>(i)];
    });
    c.set_default_member("Item");
    c.add_property("Request", [self](Dispatch& d, Args) -> Variant { return self(d).request_; });
    return c;
  }();
  return info;
}

// --- the hub's side of timed bars ---

std::shared_ptr<TimedBar> CQGCEL::make_bar(const venue::Bar& bar, double tick_size,
                                           std::string_view symbol, std::size_t index) const {
  auto b = std::make_shared<TimedBar>();
  b->start = bar.start;
  b->timestamp = vendor_time(bar.start);
  b->open = venue::to_price(bar.open, tick_size);
  b->high = venue::to_price(bar.high, tick_size);
  b->low = venue::to_price(bar.low, tick_size);
  b->close = venue::to_price(bar.close, tick_size);
  b->volume = static_cast<double>(bar.volume);
  b->tick_volume = static_cast<double>(bar.tick_volume);
  b->contract_volume = static_cast<double>(bar.contract_volume);
  b->commodity_volume = static_cast<double>(bar.commodity_volume);
  // Values the controls say are missing at this index.
  const std::pair<BarField, double TimedBar::*> fields[] = {{BarField::Open, &TimedBar::open},
                                                            {BarField::High, &TimedBar::high},
                                                            {BarField::Low, &TimedBar::low},
                                                            {BarField::Close, &TimedBar::close},
                                                            {BarField::Volume, &TimedBar::volume}};
  for (const auto& [field, member] : fields) {
    const auto missing = controls_->missing_bar_values(symbol, field);
    if (std::find(missing.begin(), missing.end(), index) != missing.end()) {
      (*b).*member = kInvalidValue;
    }
  }
  return b;
}

Variant CQGCEL::request_timed_bars(const Variant& request) {
  require_started("RequestTimedBars");
  auto r = std::dynamic_pointer_cast<TimedBarsRequest>(request.as_object());
  if (!r) {
    throw std::invalid_argument(
        "CQGCEL.RequestTimedBars: the argument is not a timed-bars request");
  }
  const auto& k = constants();
  const auto period = r->historical_period && *r->historical_period == k.hpDaily
                          ? venue::BarPeriod::Daily
                          : venue::BarPeriod::OneMinute;
  if (!r->historical_period && r->intraday_period && *r->intraday_period != k.pfds1Min) {
    throw std::invalid_argument(
        "CQGTimedBarsRequest: the simulator has one-minute and daily bars only");
  }
  const auto id = venue_->catalogue().resolve(r->symbol);
  auto bars = std::make_shared<TimedBars>(r, id, period);
  all_timed_bars_->add(bars);
  const auto b = controls_->bars_resolution();
  if (b.answer == AnswerBehaviour::Answer::Never) {
    return bars;
  }
  after(b.delay, [this, bars, b] {
    const auto& req = *bars->request();
    Variant error;
    if (b.answer == AnswerBehaviour::Answer::Error) {
      error = make_error(b.error_code, b.error_description);
    } else if (!bars->instrument()) {
      error = make_error(1, fmt::format("Unknown symbol: {}", req.symbol));
    } else if (b.answer != AnswerBehaviour::Answer::Empty) {
      // RangeEnd counts back from the forming bar: -101 asks for 100 bars.
      const auto wanted = std::max<std::int64_t>(0, req.range_start - req.range_end - 1);
      const auto series = venue_->market().bars(*bars->instrument(), bars->period(),
                                                static_cast<std::size_t>(wanted));
      const double tick = venue_->catalogue().contract(*bars->instrument()).tick_size;
      auto& list = bars->bars();
      for (const auto& bar : series.completed) {
        list.push_back(make_bar(bar, tick, req.symbol, list.size()));
      }
      if (series.forming) {
        list.push_back(make_bar(*series.forming, tick, req.symbol, list.size()));
      }
      bars->set_resolved();
      timed_bars_.push_back(bars);
    }
    const std::array<Variant, 2> args{Variant(bars), error};
    fire(cqg::CelEvent::OnTimedBarsResolved, args);
  });
  return bars;
}

void CQGCEL::remove_timed_bars(const Variant& bars) {
  auto* target = dynamic_cast<TimedBars*>(bars.as_object().get());
  if (!target) {
    throw std::invalid_argument(
        "CQGCEL.RemoveTimedBars: the argument is not a timed-bars collection");
  }
  target->remove();
  all_timed_bars_->remove(target);
  std::erase_if(timed_bars_, [target](const auto& b) { return b.get() == target; });
}

void CQGCEL::deliver_bars(TimedBars& bars, const venue::BarUpdate& update) {
  const double tick = venue_->catalogue().contract(*bars.instrument()).tick_size;
  const auto& symbol = bars.request()->symbol;
  auto& list = bars.bars();
  const auto self = bars.shared_from_this();
  if (update.kind == venue::BarUpdate::Kind::Updated) {
    if (list.empty() || list.back()->start != update.bar.start) {
      list.push_back(make_bar(update.bar, tick, symbol, list.size()));
      const std::array<Variant, 1> args{Variant(self)};
      fire(cqg::CelEvent::OnTimedBarsAdded, args);
      return;
    }
    list.back() = make_bar(update.bar, tick, symbol, list.size() - 1);
    const std::array<Variant, 2> args{Variant(self),
                                      Variant(static_cast<std::int64_t>(list.size() - 1))};
    fire(cqg::CelEvent::OnTimedBarsUpdated, args);
    return;
  }
  // A new bar opened: the one before it is final now.
  if (update.finished && !list.empty() && list.back()->start == update.finished->start) {
    list.back() = make_bar(*update.finished, tick, symbol, list.size() - 1);
  }
  list.push_back(make_bar(update.bar, tick, symbol, list.size()));
  const std::array<Variant, 1> args{Variant(self)};
  fire(cqg::CelEvent::OnTimedBarsAdded, args);
}

}  // namespace orbrix::cqgsim
