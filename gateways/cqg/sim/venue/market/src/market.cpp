#include "market_impl.hpp"

#include <stdexcept>
#include <string>

namespace orbrix::cqgsim::venue {

Market::Market(const Catalogue& catalogue, std::uint64_t seed, Timestamp start, MarketConfig config)
    : impl_(std::make_unique<Impl>(catalogue, seed, start, config)) {}

Market::~Market() = default;

const Catalogue& Market::catalogue() const {
  return impl_->catalogue;
}
Timestamp Market::start() const {
  return impl_->start;
}
Timestamp Market::now() const {
  return impl_->now;
}

const MarketEvent* Market::next_event(Timestamp limit) {
  return impl_->next(limit);
}

std::optional<Timestamp> Market::next_event_time() const {
  return impl_->next_time();
}

const InstrumentState& Market::state(InstrumentId id) const {
  if (id >= impl_->records.size()) {
    throw std::out_of_range("Market: no instrument " + std::to_string(id));
  }
  return impl_->records[id].state;
}

void Market::inject(InstrumentId id, Timestamp time, std::vector<QuoteChange> changes) {
  impl_->record(id);
  if (time < impl_->now) {
    throw std::invalid_argument("Market::inject: " + format_timestamp(time) + " is before now " +
                                format_timestamp(impl_->now));
  }
  if (changes.empty()) {
    throw std::invalid_argument("Market::inject: an empty batch");
  }
  std::optional<Ticks> bid;
  std::optional<Ticks> ask;
  for (const QuoteChange& c : changes) {
    if (c.volume < 0) {
      throw std::invalid_argument("Market::inject: negative volume for " +
                                  std::string(to_string(c.type)));
    }
    if (!in_price_range(c.price)) {
      throw std::invalid_argument("Market::inject: the price of " + std::string(to_string(c.type)) +
                                  " is beyond the venue's price bound");
    }
    if (c.valid && c.type == QuoteType::Bid) {
      bid = c.price;
    }
    if (c.valid && c.type == QuoteType::Ask) {
      ask = c.price;
    }
  }
  if (bid && ask && *bid >= *ask) {
    throw std::invalid_argument("Market::inject: the batch's bid is not below its ask");
  }
  impl_->injected.emplace(Impl::InjectKey{time, id}, std::move(changes));
}

void Market::replay(InstrumentId id, const History& history) {
  Impl::Record& r = impl_->record(id);
  if (impl_->started) {
    throw std::logic_error("Market::replay: set up replays before the market produces events");
  }
  // Everything that can be refused is checked before the record changes.
  std::vector<BookStep> steps = replay_steps(history, impl_->catalogue.contract(id));
  Impl::Record fresh(r.walk);
  fresh.state.time = impl_->start;
  for (std::size_t i = 0; i < kQuoteTypeCount; ++i) {
    fresh.state.quotes[i] = QuoteChange{static_cast<QuoteType>(i), 0, 0, false};
  }
  fresh.replaying = true;
  fresh.steps = std::move(steps);
  r = std::move(fresh);
  // The past is applied silently: it sets the state at start and the bars.
  while (r.next_step < r.steps.size() && r.steps[r.next_step].time < impl_->start) {
    impl_->produce_step(id, r.steps[r.next_step++], false);
  }
  impl_->refresh_due(id);
}

bool Market::replaying(InstrumentId id) const {
  state(id);
  return impl_->records[id].replaying;
}

bool Market::quiet(InstrumentId id) const {
  state(id);
  const auto& r = impl_->records[id];
  return r.replaying && r.next_step >= r.steps.size();
}

BarSeries Market::bars(InstrumentId id, BarPeriod period, std::size_t count) {
  Impl::Record& r = impl_->record(id);
  count = std::min(count, kMaxBarsPerRequest);
  const BarBuilder& builder = r.builders[static_cast<std::size_t>(period)];
  const Timestamp now = impl_->now;
  BarSeries out;
  const std::size_t live = builder.completed_count(now);
  out.completed.reserve(count);
  if (!r.replaying && live < count) {
    impl_->synthesis(id, period).copy_newest(count - live, out.completed);
  }
  builder.copy_completed(now, count - out.completed.size(), out.completed);
  out.forming = builder.forming(now);
  return out;
}

}  // namespace orbrix::cqgsim::venue
