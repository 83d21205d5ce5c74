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

const InstrumentState& Market::state_of(InstrumentId id) const {
  if (id >= impl_->records.size()) {
    throw std::out_of_range("Market: no instrument " + std::to_string(id));
  }
  return impl_->records[id].state;
}

const MarketEvent* Market::next_event(Timestamp limit) {
  return impl_->next(limit);
}

std::optional<Timestamp> Market::next_event_time() const {
  return impl_->next_time();
}

const InstrumentState& Market::state(InstrumentId id) const {
  impl_->prepare();
  return state_of(id);
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

void Market::replay(InstrumentId id, std::shared_ptr<const HistoryFile> file) {
  impl_->replay(id, std::move(file));
}

void Market::quiet_walks() {
  if (impl_->prepared) {
    throw std::logic_error("Market::quiet_walks: set up before the market is used");
  }
  impl_->walks_quiet = true;
}

bool Market::replaying(InstrumentId id) const {
  state_of(id);
  return impl_->records[id].replaying;
}

bool Market::quiet(InstrumentId id) const {
  impl_->prepare();
  state_of(id);  // throws for an unknown id
  const auto& rec = impl_->records[id];
  return rec.replaying && rec.head == rec.steps.size() && rec.rows_read >= rec.rows_total;
}

std::size_t Market::replayed_rows() const {
  return impl_->rows_replayed;
}

Market::Buffered Market::buffered() const {
  Buffered b;
  for (const auto& r : impl_->records) {
    b.steps += r.steps.size() - r.head;
  }
  for (const auto& s : impl_->streams) {
    b.line_bytes += s->line_bytes();
  }
  return b;
}

std::optional<Timestamp> Market::next_recorded_time() const {
  return impl_->next_recorded_time();
}

void Market::jump_to(Timestamp t) {
  impl_->jump_to(t);
}

BarSeries Market::bars(InstrumentId id, BarPeriod period, std::size_t count) {
  impl_->prepare();
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
