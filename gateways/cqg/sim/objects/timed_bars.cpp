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
  if (window_ > 0 && size() > window_) {
    drop_oldest(size() - window_);
  }
}

namespace {

// How many completed bars RangeStart and RangeEnd ask for (RangeEnd counts
// back from the forming bar: 0 and -101 ask for 100), or none when the range
// is not one the simulator can serve: its arithmetic would overflow, or it
// asks for more than a request returns.
std::optional<std::size_t> bars_wanted(std::int64_t range_start, std::int64_t range_end) {
  std::int64_t span = 0;
  if (__builtin_sub_overflow(range_start, range_end, &span)) {
    return std::nullopt;
  }
  if (span <= 1) {
    return 0;  // up to the forming bar only
  }
  const auto wanted = static_cast<std::uint64_t>(span) - 1;
  if (wanted > venue::kMaxBarsPerRequest) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(wanted);
}

}  // namespace

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
    if (bars->removed()) {
      return;  // removed before its answer: nobody asks any more
    }
    const auto& req = *bars->request();
    const auto wanted = bars_wanted(req.range_start, req.range_end);
    Variant error;
    if (b.answer == AnswerBehaviour::Answer::Error) {
      error = make_error(b.error_code, b.error_description);
    } else if (!bars->instrument()) {
      error = make_error(1, fmt::format("Unknown symbol: {}", req.symbol));
    } else if (!wanted) {
      error = make_error(2, fmt::format("RangeStart {} and RangeEnd {} do not ask for 0 to {} bars",
                                        req.range_start, req.range_end, venue::kMaxBarsPerRequest));
    } else if (b.answer != AnswerBehaviour::Answer::Empty) {
      const auto series = venue_->market().bars(*bars->instrument(), bars->period(), *wanted);
      const double tick = venue_->catalogue().contract(*bars->instrument()).tick_size;
      for (const auto& bar : series.completed) {
        bars->append(make_bar(bar, tick, req.symbol, bars->appended()));
      }
      if (series.forming) {
        bars->append(make_bar(*series.forming, tick, req.symbol, bars->appended()));
      }
      bars->set_resolved(*wanted);
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
  target->set_removed();
  all_timed_bars_->remove(target);
  std::erase_if(timed_bars_, [target](const auto& b) { return b.get() == target; });
}

void CQGCEL::deliver_bars(TimedBars& bars, const venue::BarUpdate& update) {
  const double tick = venue_->catalogue().contract(*bars.instrument()).tick_size;
  const auto& symbol = bars.request()->symbol;
  const auto self = bars.shared_from_this();
  const TimedBar* newest = bars.newest();
  if (update.kind == venue::BarUpdate::Kind::Updated) {
    if (!newest || newest->start != update.bar.start) {
      bars.append(make_bar(update.bar, tick, symbol, bars.appended()));
      const std::array<Variant, 1> args{Variant(self)};
      fire(cqg::CelEvent::OnTimedBarsAdded, args);
      return;
    }
    bars.replace_newest(make_bar(update.bar, tick, symbol, bars.appended() - 1));
    const std::array<Variant, 2> args{Variant(self),
                                      Variant(static_cast<std::int64_t>(bars.size() - 1))};
    fire(cqg::CelEvent::OnTimedBarsUpdated, args);
    return;
  }
  // A new bar opened: the one before it is final now.
  if (update.finished && newest && newest->start == update.finished->start) {
    bars.replace_newest(make_bar(*update.finished, tick, symbol, bars.appended() - 1));
  }
  bars.append(make_bar(update.bar, tick, symbol, bars.appended()));
  const std::array<Variant, 1> args{Variant(self)};
  fire(cqg::CelEvent::OnTimedBarsAdded, args);
}

}  // namespace orbrix::cqgsim
