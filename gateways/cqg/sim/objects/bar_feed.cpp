#include "objects/bar_feed.hpp"
#include "orbrix/cqgsim/vendor_objects.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

#include "objects/constants.hpp"
#include "venue/price.hpp"

namespace orbrix::cqgsim {

using automation::Variant;

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

cqg::decoded::TimedBar BarFeed::bar_values(const venue::Bar& bar, double tick_size,
                                           std::string_view symbol, std::size_t index) const {
  cqg::decoded::TimedBar v{.timestamp = session_.vendor_time(bar.start),
                           .open = venue::to_price(bar.open, tick_size),
                           .high = venue::to_price(bar.high, tick_size),
                           .low = venue::to_price(bar.low, tick_size),
                           .close = venue::to_price(bar.close, tick_size),
                           .actual_volume = static_cast<double>(bar.volume)};
  // Values the controls say are missing at this index.
  const std::pair<BarField, double cqg::decoded::TimedBar::*> fields[] = {
      {BarField::Open, &cqg::decoded::TimedBar::open},
      {BarField::High, &cqg::decoded::TimedBar::high},
      {BarField::Low, &cqg::decoded::TimedBar::low},
      {BarField::Close, &cqg::decoded::TimedBar::close},
      {BarField::Volume, &cqg::decoded::TimedBar::actual_volume}};
  for (const auto& [field, member] : fields) {
    const auto missing = session_.controls().missing_bar_values(symbol, field);
    if (std::find(missing.begin(), missing.end(), index) != missing.end()) {
      v.*member = kInvalidValue;
    }
  }
  return v;
}

std::shared_ptr<TimedBar> BarFeed::make_bar(const venue::Bar& bar, double tick_size,
                                            std::string_view symbol, std::size_t index) const {
  const auto v = bar_values(bar, tick_size, symbol, index);
  auto b = std::make_shared<TimedBar>();
  b->start = bar.start;
  b->timestamp = v.timestamp;
  b->open = v.open;
  b->high = v.high;
  b->low = v.low;
  b->close = v.close;
  b->volume = v.actual_volume;
  b->tick_volume = static_cast<double>(bar.tick_volume);
  b->contract_volume = static_cast<double>(bar.contract_volume);
  b->commodity_volume = static_cast<double>(bar.commodity_volume);
  return b;
}

Variant BarFeed::request_timed_bars(const Variant& request) {
  session_.require_started("RequestTimedBars");
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
  const auto id = session_.venue().catalogue().resolve(r->symbol);
  session_.require_history(id, r->symbol, "RequestTimedBars");
  auto bars = std::make_shared<TimedBars>(r, id, period);
  all_timed_bars_->add(bars);
  const auto b = session_.controls().fault_plan().bars_resolution;
  if (b.answer == AnswerBehaviour::Answer::Never) {
    return bars;
  }
  session_.after(b.delay, [this, bars, b] {
    if (bars->removed()) {
      return;  // removed before its answer: nobody asks any more
    }
    const auto& req = *bars->request();
    const auto wanted = bars_wanted(req.range_start, req.range_end);
    std::optional<cqg::decoded::Error> error;
    if (b.answer == AnswerBehaviour::Answer::Error) {
      error = cqg::decoded::Error{b.error_code, b.error_description};
    } else if (!bars->instrument()) {
      error = cqg::decoded::Error{1, fmt::format("Unknown symbol: {}", req.symbol)};
    } else if (!wanted) {
      error = cqg::decoded::Error{
          2, fmt::format("RangeStart {} and RangeEnd {} do not ask for 0 to {} bars",
                         req.range_start, req.range_end, venue::kMaxBarsPerRequest)};
    }
    auto* sink = session_.decoded_sink();
    cqg::decoded::TimedBarsResolved decoded{
        .collection = bars->identity(), .symbol = req.symbol, .error = error, .bars = {}};
    if (!error && b.answer != AnswerBehaviour::Answer::Empty) {
      const auto series =
          session_.venue().market().bars(*bars->instrument(), bars->period(), *wanted);
      const double tick = session_.venue().catalogue().contract(*bars->instrument()).tick_size;
      const auto take = [&](const venue::Bar& bar) {
        if (sink) {
          decoded.bars.push_back(bar_values(bar, tick, req.symbol, bars->appended()));
          bars->count_appended();
          bars->direct().newest = bar;
        } else {
          bars->append(make_bar(bar, tick, req.symbol, bars->appended()));
        }
      };
      for (const auto& bar : series.completed) {
        take(bar);
      }
      if (series.forming) {
        take(*series.forming);
      }
      bars->set_resolved(*wanted);
      timed_bars_.push_back(bars);
    }
    if (sink) {
      sink->timed_bars_resolved(decoded);
      return;
    }
    const Variant error_object =
        error ? Variant(make_error(error->code, error->description)) : Variant();
    const std::array<Variant, 2> args{Variant(bars), error_object};
    session_.fire(cqg::CelEvent::OnTimedBarsResolved, args);
  });
  return bars;
}

void BarFeed::remove_timed_bars(const Variant& bars) {
  auto* target = dynamic_cast<TimedBars*>(bars.as_object().get());
  if (!target) {
    throw std::invalid_argument(
        "CQGCEL.RemoveTimedBars: the argument is not a timed-bars collection");
  }
  target->set_removed();
  all_timed_bars_->remove(target);
  std::erase_if(timed_bars_, [target](const auto& b) { return b.get() == target; });
}

void BarFeed::deliver_decoded(TimedBars& bars, const venue::BarUpdate& update,
                              cqg::decoded::Sink& sink) {
  auto& d = bars.direct();
  const bool opened = update.kind != venue::BarUpdate::Kind::Updated;
  if (!opened && d.newest && d.newest->start == update.bar.start) {
    d.newest = update.bar;  // the forming bar changed
    d.updated.index = static_cast<std::int64_t>(bars.direct_size()) - 1;
    sink.timed_bars_updated(d.updated);
    return;
  }
  // A new bar: the one before it is final now (when the venue says so).
  if (opened && update.finished && d.newest && d.newest->start == update.finished->start) {
    d.newest = *update.finished;
  }
  d.added.previous.reset();
  if (d.newest) {
    const double tick = session_.venue().catalogue().contract(*bars.instrument()).tick_size;
    d.added.previous = bar_values(*d.newest, tick, bars.request()->symbol, bars.appended() - 1);
  }
  d.newest = update.bar;
  bars.count_appended();
  d.added.symbol = bars.request()->symbol;
  sink.timed_bars_added(d.added);
}

void BarFeed::deliver_to(TimedBars& bars, const venue::BarUpdate& update) {
  if (auto* sink = session_.decoded_sink()) {
    deliver_decoded(bars, update, *sink);
    return;
  }
  const double tick = session_.venue().catalogue().contract(*bars.instrument()).tick_size;
  const auto& symbol = bars.request()->symbol;
  const auto self = bars.shared_from_this();
  const TimedBar* newest = bars.newest();
  if (update.kind == venue::BarUpdate::Kind::Updated) {
    if (!newest || newest->start != update.bar.start) {
      bars.append(make_bar(update.bar, tick, symbol, bars.appended()));
      const std::array<Variant, 1> args{Variant(self)};
      session_.fire(cqg::CelEvent::OnTimedBarsAdded, args);
      return;
    }
    bars.replace_newest(make_bar(update.bar, tick, symbol, bars.appended() - 1));
    const std::array<Variant, 2> args{Variant(self),
                                      Variant(static_cast<std::int64_t>(bars.size() - 1))};
    session_.fire(cqg::CelEvent::OnTimedBarsUpdated, args);
    return;
  }
  // A new bar opened: the one before it is final now.
  if (update.finished && newest && newest->start == update.finished->start) {
    bars.replace_newest(make_bar(*update.finished, tick, symbol, bars.appended() - 1));
  }
  bars.append(make_bar(update.bar, tick, symbol, bars.appended()));
  const std::array<Variant, 1> args{Variant(self)};
  session_.fire(cqg::CelEvent::OnTimedBarsAdded, args);
}

bool BarFeed::listens(venue::InstrumentId id) const {
  return std::any_of(timed_bars_.begin(), timed_bars_.end(),
                     [id](const auto& b) { return b->live() && b->instrument() == id; });
}

void BarFeed::deliver(const venue::MarketEvent& event) {
  const DeliveryList<TimedBars>::Taken requests(listening_, timed_bars_, [&](const TimedBars& b) {
    return b.instrument() == event.instrument;
  });
  for (const auto& b : requests.list()) {
    if (!b->live()) {
      continue;
    }
    for (const auto& update : event.bars) {
      if (update.period == b->period()) {
        deliver_to(*b, update);
      }
    }
  }
}

}  // namespace orbrix::cqgsim
