#include "objects/order.hpp"

#include <fmt/format.h>

#include <stdexcept>

#include "objects/account.hpp"
#include "objects/constants.hpp"
#include "objects/cqgcel.hpp"
#include "objects/instrument.hpp"
#include "venue/price.hpp"

namespace orbrix::cqgsim {
namespace {

using automation::Args;
using automation::Dispatch;
using automation::Variant;

Order& order(Dispatch& d) {
  return automation::self_as<Order>(d);
}

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

}  // namespace

const automation::ClassInfo& OrderProperty::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGOrderProperty");
    c.add_property("Value", [](Dispatch& d, Args) -> Variant {
      auto& p = automation::self_as<OrderProperty>(d);
      auto o = p.order_.lock();
      if (!o) {
        throw std::logic_error("the order of this property is gone");
      }
      return o->property_value(p.id_);
    });
    return c;
  }();
  return info;
}

const automation::ClassInfo& OrderProperties::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGOrderProperties");
    c.add_property("Item", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 1, "CQGOrderProperties", "Item");
      auto& self = automation::self_as<OrderProperties>(d);
      const auto id = a[0].as_int();
      auto o = self.order_.lock();
      if (!o) {
        throw std::logic_error("the order of these properties is gone");
      }
      (void)o->property_value(id);  // refuses an unknown id now
      return std::make_shared<OrderProperty>(self.order_, id);
    });
    c.set_default_member("Item");
    return c;
  }();
  return info;
}

Order::Order(std::weak_ptr<CQGCEL> cel, Request request)
    : cel_(std::move(cel)), request_(std::move(request)), status_(constants().osNotSent) {}

const automation::ClassInfo& Order::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGOrder");
    c.add_property(
        "Manual", [](Dispatch& d, Args) -> Variant { return order(d).manual_; },
        [](Dispatch& d, Args, const Variant& v) { order(d).manual_ = v.truthy(); });
    c.add_method("Place", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGOrder", "Place");
      auto& o = order(d);
      auto cel = o.cel_.lock();
      if (!cel) {
        throw std::logic_error("CQGOrder.Place: the simulator of this order is gone");
      }
      cel->place(o);
      return {};
    });
    c.add_method("Cancel", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGOrder", "Cancel");
      auto& o = order(d);
      auto cel = o.cel_.lock();
      if (!cel) {
        throw std::logic_error("CQGOrder.Cancel: the simulator of this order is gone");
      }
      cel->cancel(o);
      return {};
    });
    c.add_property("Properties", [](Dispatch& d, Args) -> Variant {
      auto& o = order(d);
      if (o.properties_) {
        return o.properties_;
      }
      auto made =
          std::make_shared<OrderProperties>(std::static_pointer_cast<Order>(o.shared_from_this()));
      if (!o.finished_) {
        o.properties_ = made;  // read on every event while it works
      }
      return made;
    });
    c.add_property("GUID", [](Dispatch& d, Args) -> Variant { return order(d).guid_; });
    c.add_property("Instrument",
                   [](Dispatch& d, Args) -> Variant { return order(d).request_.instrument; });
    c.add_property("Account",
                   [](Dispatch& d, Args) -> Variant { return order(d).request_.account; });
    c.add_property("Type", [](Dispatch& d, Args) -> Variant { return order(d).request_.type; });
    c.add_property("Side", [](Dispatch& d, Args) -> Variant { return order(d).request_.side; });
    c.add_property("Quantity",
                   [](Dispatch& d, Args) -> Variant { return order(d).request_.quantity; });
    c.add_property("LimitPrice", [](Dispatch& d, Args) -> Variant {
      const auto& p = order(d).request_.limit_price;
      return p ? Variant(*p) : Variant();
    });
    c.add_property("StopPrice", [](Dispatch& d, Args) -> Variant {
      const auto& p = order(d).request_.stop_price;
      return p ? Variant(*p) : Variant();
    });
    c.add_property("FilledQuantity", [](Dispatch& d, Args) -> Variant { return order(d).filled_; });
    c.add_property("AverageFillPrice",
                   [](Dispatch& d, Args) -> Variant { return order(d).average_price_; });
    c.add_property("GWStatus", [](Dispatch& d, Args) -> Variant { return order(d).status_; });
    c.add_property("RejectReason",
                   [](Dispatch& d, Args) -> Variant { return order(d).reject_reason_; });
    return c;
  }();
  return info;
}

Variant Order::property_value(std::int64_t id) const {
  const auto& k = constants();
  if (id == k.opGWStatus) {
    return status_;
  }
  if (id == k.opGUID) {
    return guid_;
  }
  if (id == k.opEventServerTimestamp) {
    return event_time_;
  }
  if (id == k.opAverageFillPrice) {
    return average_price_;
  }
  if (id == k.opFilledQuantity) {
    return filled_;
  }
  if (id == k.opQuantity) {
    return request_.quantity;
  }
  if (id == k.opInstrumentName) {
    return request_.instrument->contract().full_name;
  }
  if (id == k.opSide) {
    return request_.side;
  }
  if (id == k.opLimitPrice) {
    return request_.limit_price ? Variant(*request_.limit_price) : Variant();
  }
  if (id == k.opStopPrice) {
    return request_.stop_price ? Variant(*request_.stop_price) : Variant();
  }
  throw std::out_of_range(fmt::format("CQGOrderProperties: no order property has the id {}", id));
}

const automation::ClassInfo& Fill::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGFill");
    auto self = [](Dispatch& d) -> Fill& { return automation::self_as<Fill>(d); };
    c.add_property("Id", [self](Dispatch& d, Args) -> Variant { return self(d).id_; });
    c.add_property("Status", [self](Dispatch& d, Args) -> Variant { return self(d).status_; });
    c.add_property("Timestamp", [self](Dispatch& d, Args) -> Variant { return self(d).when_; });
    c.add_property("Price", [self](Dispatch& d, Args) -> Variant { return self(d).price_; });
    c.add_property("Quantity", [self](Dispatch& d, Args) -> Variant { return self(d).quantity_; });
    c.add_property("Side", [self](Dispatch& d, Args) -> Variant { return self(d).side_; });
    c.add_property("Order", [self](Dispatch& d, Args) -> Variant { return self(d).order_; });
    return c;
  }();
  return info;
}

// --- the hub's side of orders ---

Variant CQGCEL::create_order(Args a) {
  if (a.size() < 5 || a.size() > 7) {
    throw std::invalid_argument(fmt::format(
        "CQGCEL.CreateOrder takes 5 to 7 arguments (type, instrument, account, quantity, side "
        "[, limit price [, stop price]]); {} given",
        a.size()));
  }
  require_started("CreateOrder");
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
  return std::make_shared<Order>(std::static_pointer_cast<CQGCEL>(shared_from_this()),
                                 std::move(r));
}

void CQGCEL::place(Order& o) {
  require_started("Place");
  if (gateway_dropped_) {
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
  auto& broker = venue_->broker();
  if (auto reason = controls_->take_reject_next()) {
    broker.reject_next_order(std::move(*reason));
  }
  const auto submitted = broker.submit(std::move(req), venue_->now(), std::move(refusal));
  auto strong = std::static_pointer_cast<Order>(o.shared_from_this());
  o.set_placed(submitted.order, venue::format_order_id(submitted.order + 1));
  order_of_[submitted.order] = strong;
  orders_->add(strong, o.guid());
  for (const auto& e : submitted.events) {
    emit([this, e] { deliver_trading(e); });
  }
}

void CQGCEL::cancel(Order& o) {
  require_started("Cancel");
  if (gateway_dropped_) {
    throw std::runtime_error("CQGOrder.Cancel: the gateway connection is down");
  }
  if (!o.placed()) {
    throw std::logic_error("CQGOrder.Cancel: the order has not been placed");
  }
  if (o.finished()) {
    throw std::invalid_argument(
        fmt::format("CQGOrder.Cancel: order {} has finished already", o.guid()));
  }
  const auto events = venue_->broker().cancel(o.guid(), venue_->now());
  for (const auto& e : events) {
    emit([this, e] { deliver_trading(e); });
  }
}

void CQGCEL::retire(std::unordered_map<std::size_t, std::shared_ptr<Order>>::iterator it) {
  it->second->finish();
  finished_orders_.push_back(it->first);
  order_of_.erase(it);
  // The venue keeps as many finished orders for look-up: the same ones.
  while (finished_orders_.size() > finished_orders_kept_) {
    orders_->remove_key(venue::format_order_id(finished_orders_.front() + 1));
    finished_orders_.pop_front();
  }
}

void CQGCEL::deliver_trading(const venue::TradingEvent& event) {
  if (gateway_dropped_) {
    held_.push_back(event);  // told after the next log-on
    return;
  }
  const auto& k = constants();
  if (const auto* added = std::get_if<venue::OrderAdded>(&event)) {
    const auto& o = order_of_.at(added->order);
    o->present(vendor_status(venue::OrderStatus::InTransit), 0, 0, vendor_time(added->time));
    const std::array<Variant, 5> args{Variant(k.ctAdded), Variant(o), Variant(), Variant(),
                                      Variant()};
    fire(cqg::CelEvent::OnOrderChanged, args);
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
               changed->average_fill_price * tick, vendor_time(changed->time));
    if (changed->status == venue::OrderStatus::Rejected) {
      o->set_reject_reason(changed->reject_reason);
    }
    Variant fill;
    if (changed->fill) {
      const auto& f = *changed->fill;
      fill = std::make_shared<Fill>(fmt::format("{}", f.id), k.fsNormal, vendor_time(f.time),
                                    venue::to_price(f.price, tick), f.quantity,
                                    f.side == venue::Side::Buy ? k.osdBuy : k.osdSell, o);
    }
    if (venue::is_final(changed->status)) {
      retire(found);
    }
    const std::array<Variant, 5> args{Variant(k.ctChanged), Variant(o), Variant(), fill, Variant()};
    fire(cqg::CelEvent::OnOrderChanged, args);
    return;
  }
  auto& broker = venue_->broker();
  const bool added = std::holds_alternative<venue::PositionAdded>(event);
  const auto& update =
      added ? static_cast<const venue::PositionUpdate&>(std::get<venue::PositionAdded>(event))
            : static_cast<const venue::PositionUpdate&>(std::get<venue::PositionChanged>(event));
  const auto& p = broker.positions()[update.position];
  auto& account = account_of_[p.account];
  if (!account) {
    const auto& config = broker.account(p.account).config;
    account =
        std::make_shared<Account>(std::static_pointer_cast<CQGCEL>(shared_from_this()), config);
  }
  auto& position = position_of_[update.position];
  if (!position) {
    position = std::make_shared<Position>(std::static_pointer_cast<CQGCEL>(shared_from_this()),
                                          update.position, account,
                                          broker.instrument(p.instrument).full_name);
  }
  position->present(update);
  if (account->position_updates()) {
    const std::array<Variant, 3> args{Variant(added ? k.actPositionAdded : k.actPositionChanged),
                                      Variant(account), Variant(position)};
    fire(cqg::CelEvent::OnAccountChanged, args);
  }
}

}  // namespace orbrix::cqgsim
