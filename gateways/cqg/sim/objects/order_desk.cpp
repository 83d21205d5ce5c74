#include "objects/order_desk.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string_view>
#include <variant>
#include <vector>

#include "objects/account.hpp"
#include "objects/constants.hpp"
#include "objects/instrument.hpp"
#include "venue/price.hpp"

namespace orbrix::cqgsim {
namespace {

using automation::Args;
using automation::Variant;

template <class T>
std::shared_ptr<T> object_arg(const Variant& v, const char* what) {
  auto p = std::dynamic_pointer_cast<T>(v.as_object());
  if (!p) {
    throw std::invalid_argument(fmt::format("CQGCEL.CreateOrder: the {} argument is not {}", what,
                                            what == std::string_view("instrument")
                                                ? "an instrument of this CQGCEL"
                                                : "an account of this CQGCEL"));
  }
  return p;
}

// An order event as the direct path hands it over.
cqg::decoded::OrderChange decoded_change(std::int64_t change_type, const Order& o) {
  return {.change_type = change_type,
          .error = std::nullopt,
          .gw_status = o.status(),
          .guid = o.guid(),
          .server_timestamp = o.event_time(),
          .average_fill_price = o.average_price(),
          .filled_quantity = static_cast<double>(o.filled()),
          .fill = std::nullopt};
}

}  // namespace

Variant OrderDesk::create_order(Args a) {
  if (a.size() < 5 || a.size() > 7) {
    throw std::invalid_argument(fmt::format(
        "CQGCEL.CreateOrder takes 5 to 7 arguments (type, instrument, account, quantity, side "
        "[, limit price [, stop price]]); {} given",
        a.size()));
  }
  session_.require_started("CreateOrder");
  const auto& k = constants();
  Order::Request r;
  r.type = a[0].as_int();
  if (r.type != k.otMarket && r.type != k.otLimit && r.type != k.otStop &&
      r.type != k.otStopLimit) {
    throw std::invalid_argument(fmt::format("CQGCEL.CreateOrder: {} is not an order type", r.type));
  }
  r.instrument = object_arg<Instrument>(a[1], "instrument");
  r.account = object_arg<Account>(a[2], "account");
  r.quantity = a[3].as_int();
  r.side = a[4].as_int();
  if (r.side != k.osdBuy && r.side != k.osdSell) {
    throw std::invalid_argument(fmt::format("CQGCEL.CreateOrder: {} is not an order side", r.side));
  }
  if (a.size() > 5 && !a[5].is_empty()) {
    r.limit_price = a[5].as_double();
  }
  if (a.size() > 6 && !a[6].is_empty()) {
    r.stop_price = a[6].as_double();
  }
  return std::make_shared<Order>(session_.share(*this), std::move(r));
}

void OrderDesk::place(Order& o) {
  session_.require_started("Place");
  if (connection_.gateway_dropped()) {
    throw std::runtime_error("CQGOrder.Place: the gateway connection is down");
  }
  if (o.placed()) {
    throw std::logic_error(fmt::format("CQGOrder.Place: order {} is placed already", o.guid()));
  }
  const auto& k = constants();
  const auto& r = o.request();
  const double tick = r.instrument->contract().tick_size;
  std::string refusal;
  venue::OrderRequest req;
  req.account = r.account->id();
  req.instrument = r.instrument->id();
  req.type = r.type == k.otMarket  ? venue::OrderType::Market
             : r.type == k.otLimit ? venue::OrderType::Limit
             : r.type == k.otStop  ? venue::OrderType::Stop
                                   : venue::OrderType::StopLimit;
  req.side = r.side == k.osdBuy ? venue::Side::Buy : venue::Side::Sell;
  req.quantity = r.quantity;
  // A stop order's trigger is its stop price; the limit price is what a
  // stop-limit turns into. A price the venue cannot take exactly is its
  // reason to reject the order.
  const auto take = [&](double price, const char* what, std::optional<venue::Ticks>& into) {
    auto ticks = venue::checked_ticks(price, tick, what);
    if (ticks) {
      into = ticks.ticks;
    } else if (refusal.empty()) {
      refusal = std::move(ticks.refusal);
    }
  };
  if (r.limit_price && req.type != venue::OrderType::Stop && req.type != venue::OrderType::Market) {
    take(*r.limit_price, "limit price", req.limit_price);
  }
  if (r.stop_price) {
    take(*r.stop_price, "stop price", req.stop_price);
  }
  auto& broker = session_.venue().broker();
  if (auto reason = session_.controls().take_reject_next()) {
    broker.reject_next_order(std::move(*reason));
  }
  const auto submitted = broker.submit(std::move(req), session_.venue().now(), std::move(refusal));
  auto strong = std::static_pointer_cast<Order>(o.shared_from_this());
  o.set_placed(submitted.order, venue::format_order_id(submitted.order + 1));
  order_of_[submitted.order] = strong;
  orders_->add(strong, o.guid());
  const auto announcement = session_.controls().fault_plan().order_placement;
  const bool lost = announcement.answer == AnnouncementBehaviour::Answer::Never;
  if (!lost && announcement.delay.count() > 0) {
    // The venue works the order as ever; its events wait behind the late
    // announcement, and are told with it in their order.
    held_[submitted.order];
    session_.after(announcement.delay, [this, index = submitted.order] {
      const auto it = held_.find(index);
      if (it == held_.end()) {
        return;
      }
      const auto events = std::move(it->second);
      held_.erase(it);
      for (const auto& e : events) {
        deliver(e);
      }
    });
  }
  for (const auto& e : submitted.events) {
    if (lost && std::holds_alternative<venue::OrderAdded>(e)) {
      continue;  // the announcement is lost; what follows is told
    }
    session_.emit([this, e] { trading_.deliver(e); });
  }
  start_transit(submitted.order, o);
}

void OrderDesk::start_transit(std::size_t index, const Order& o) {
  const auto latency = session_.order_latency();
  if (latency.count() > 0 && !o.finished()) {
    // In transit for the latency, then worked by the venue at the prices of
    // then; an order cancelled on its way is not worked.
    session_.after(latency, [this, index, guid = o.guid()] {
      const auto it = order_of_.find(index);
      auto& broker = session_.venue().broker();
      if (it == order_of_.end() || broker.order(guid).status != venue::OrderStatus::InTransit) {
        return;
      }
      for (const auto& e : broker.accept_order(guid, session_.venue().now())) {
        trading_.deliver(e);
      }
    });
  }
}

void OrderDesk::cancel(Order& o) {
  session_.require_started("Cancel");
  if (connection_.gateway_dropped()) {
    throw std::runtime_error("CQGOrder.Cancel: the gateway connection is down");
  }
  if (!o.placed()) {
    throw std::logic_error("CQGOrder.Cancel: the order has not been placed");
  }
  if (o.finished()) {
    throw std::invalid_argument(
        fmt::format("CQGOrder.Cancel: order {} has finished already", o.guid()));
  }
  const auto events = session_.venue().broker().cancel(o.guid(), session_.venue().now());
  for (const auto& e : events) {
    session_.emit([this, e] { trading_.deliver(e); });
  }
}

std::vector<std::shared_ptr<Order>> OrderDesk::working() const {
  std::vector<std::pair<std::size_t, std::shared_ptr<Order>>> by_index(order_of_.begin(),
                                                                       order_of_.end());
  std::sort(by_index.begin(), by_index.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::shared_ptr<Order>> out;
  for (auto& [index, order] : by_index) {
    if (!order->finished()) {
      out.push_back(std::move(order));
    }
  }
  return out;
}

void OrderDesk::retire(Working::iterator it) {
  it->second->finish();
  finished_orders_.push_back(it->first);
  order_of_.erase(it);
  // The venue keeps as many finished orders for look-up: the same ones.
  const auto kept = session_.venue().broker().options().finished_orders_kept;
  while (finished_orders_.size() > kept) {
    orders_->remove_key(venue::format_order_id(finished_orders_.front() + 1));
    finished_orders_.pop_front();
  }
}

void OrderDesk::report(const Order& o, const venue::OrderChanged& change) const {
  auto& settings = session_.controls();
  if (!settings.wants_order_reports()) {
    return;
  }
  const auto& k = constants();
  const auto& r = o.request();
  const auto& contract = r.instrument->contract();
  const double tick = contract.tick_size;
  const auto type = r.type == k.otMarket  ? venue::OrderType::Market
                    : r.type == k.otLimit ? venue::OrderType::Limit
                    : r.type == k.otStop  ? venue::OrderType::Stop
                                          : venue::OrderType::StopLimit;
  OrderReport report{.order_id = o.guid(),
                     .symbol = contract.full_name,
                     .type = std::string(venue::to_string(type)),
                     .buy = r.side == k.osdBuy,
                     .quantity = r.quantity,
                     .limit_price = r.limit_price,
                     .stop_price = r.stop_price,
                     .status = std::string(venue::to_string(change.status)),
                     .filled_quantity = change.filled_quantity,
                     .average_fill_price = change.average_fill_price * tick,
                     .reject_reason = change.reject_reason,
                     .time = change.time,
                     .fill = std::nullopt};
  if (change.fill) {
    const auto& f = *change.fill;
    report.fill =
        FillReport{.fill_id = fmt::format("{}", f.id),
                   .quantity = f.quantity,
                   .price = venue::to_price(f.price, tick),
                   .commission = session_.venue().broker().options().commission_per_contract *
                                 static_cast<double>(f.quantity)};
  }
  settings.report_order(report);
}

void OrderDesk::deliver(const venue::TradingEvent& event) {
  const auto& k = constants();
  if (!held_.empty()) {
    const auto* added = std::get_if<venue::OrderAdded>(&event);
    const auto* changed = std::get_if<venue::OrderChanged>(&event);
    const auto index = added ? added->order : changed ? changed->order : 0;
    if (const auto it = held_.find(index); (added || changed) && it != held_.end()) {
      it->second.push_back(event);
      return;
    }
  }
  if (const auto* added = std::get_if<venue::OrderAdded>(&event)) {
    const auto& o = order_of_.at(added->order);
    o->present(vendor_status(venue::OrderStatus::InTransit), 0, 0,
               session_.vendor_time(added->time));
    venue::OrderChanged in_transit;
    in_transit.order = added->order;
    in_transit.time = added->time;
    report(*o, in_transit);
    if (auto* sink = session_.decoded_sink()) {
      sink->order_changed(decoded_change(k.ctAdded, *o));
      return;
    }
    const std::array<Variant, 5> args{Variant(k.ctAdded), Variant(o), Variant(), Variant(),
                                      Variant()};
    session_.fire(cqg::CelEvent::OnOrderChanged, args);
    return;
  }
  if (const auto* changed = std::get_if<venue::OrderChanged>(&event)) {
    const auto found = order_of_.find(changed->order);
    if (found == order_of_.end()) {
      throw std::logic_error(
          fmt::format("CQGCEL: an order event for order {} after its last", changed->order + 1));
    }
    // Held here while its event is fired: a finished order leaves order_of_.
    const std::shared_ptr<Order> o = found->second;
    const double tick = o->request().instrument->contract().tick_size;
    o->present(vendor_status(changed->status), changed->filled_quantity,
               changed->average_fill_price * tick, session_.vendor_time(changed->time));
    if (changed->status == venue::OrderStatus::Rejected) {
      o->set_reject_reason(changed->reject_reason);
    }
    if (auto* sink = session_.decoded_sink()) {
      auto change = decoded_change(k.ctChanged, *o);
      if (changed->fill) {
        const auto& f = *changed->fill;
        change.fill = cqg::decoded::Fill{.id = fmt::format("{}", f.id),
                                         .status = k.fsNormal,
                                         .order_guid = o->guid(),
                                         .timestamp = session_.vendor_time(f.time),
                                         .price = venue::to_price(f.price, tick),
                                         .quantity = static_cast<double>(f.quantity)};
      }
      report(*o, *changed);
      if (venue::is_final(changed->status)) {
        retire(found);
      }
      sink->order_changed(change);
      return;
    }
    Variant fill;
    if (changed->fill) {
      const auto& f = *changed->fill;
      fill =
          std::make_shared<Fill>(fmt::format("{}", f.id), k.fsNormal, session_.vendor_time(f.time),
                                 venue::to_price(f.price, tick), f.quantity,
                                 f.side == venue::Side::Buy ? k.osdBuy : k.osdSell, o);
    }
    report(*o, *changed);
    if (venue::is_final(changed->status)) {
      retire(found);
    }
    const std::array<Variant, 5> args{Variant(k.ctChanged), Variant(o), Variant(), fill, Variant()};
    session_.fire(cqg::CelEvent::OnOrderChanged, args);
  }
}

}  // namespace orbrix::cqgsim
