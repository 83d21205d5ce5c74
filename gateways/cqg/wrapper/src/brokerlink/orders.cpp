#include <fmt/format.h>

#include <cmath>
#include <stdexcept>
#include <utility>

#include "engine_hooks.hpp"
#include "internal.hpp"
#include "orbrix/automation/call_in_apartment.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "risk_book.hpp"

namespace orbrix::cqg {

using automation::Object;

namespace {

Variant value_of(const Object& property) {
  return vendor::OrderProperty(property).Value();
}

// OnOrderChanged's order and fill read from the vendor's objects, member by
// member as the apply function asks: the order's properties (the status and
// id property objects first, their values last), then the fill's Status,
// Id, Order.GUID, Timestamp, Price and Quantity.
class VendorOrderChange {
 public:
  VendorOrderChange(const Variant& change_type, const Variant& order, const Variant& fill,
                    const Variant& error)
      : change_type_(change_type), order_(order), fill_(Object(fill)), error_(error) {}
  bool failed() const { return !error_.is_empty(); }
  std::int64_t change_type() const { return change_type_.as_int(); }
  // Throws for a status outside the table, before anything is reported.
  void read_order(OrderUpdate& u) const {
    const auto& k = detail::vendor();
    const vendor::OrderProperties properties(vendor::Order(Object(order_)).Properties());
    const Object gw_status = properties(k.opGWStatus);
    const Object guid = properties(k.opGUID);
    u.updated_time = detail::vendor_time(value_of(properties(k.opEventServerTimestamp)));
    u.filled_avg_price = value_of(properties(k.opAverageFillPrice)).as_double();
    u.filled_quantity = value_of(properties(k.opFilledQuantity)).as_double();
    u.status = convert_orderstatus_cqg2eng(value_of(gw_status).as_int());
    u.order_id = value_of(guid).to_text();
  }
  bool has_fill() const { return static_cast<bool>(fill_); }
  bool fill_is_normal() const { return fill_.Status() == Variant(detail::vendor().fsNormal); }
  void read_fill(Deal& deal) const {
    deal.deal_id = fill_.Id().to_text();
    deal.order_id = vendor::Order(fill_.Order()).GUID().to_text();
    deal.updated_time = detail::vendor_time(fill_.Timestamp());
    deal.filled_avg_price = fill_.Price();
    deal.filled_quantity = fill_.Quantity();
  }

 private:
  const Variant& change_type_;
  const Variant& order_;
  const vendor::Fill fill_;
  const Variant& error_;
};

// The same event decoded.
class DecodedOrderChange {
 public:
  explicit DecodedOrderChange(const decoded::OrderChange& c) : c_(c) {}
  bool failed() const { return c_.error.has_value(); }
  std::int64_t change_type() const { return c_.change_type; }
  void read_order(OrderUpdate& u) const {
    u.updated_time = truncate_to_seconds(c_.server_timestamp);
    u.filled_avg_price = c_.average_fill_price;
    u.filled_quantity = c_.filled_quantity;
    u.status = convert_orderstatus_cqg2eng(c_.gw_status);
    u.order_id = c_.guid;
  }
  bool has_fill() const { return c_.fill.has_value(); }
  bool fill_is_normal() const { return c_.fill->status == detail::vendor().fsNormal; }
  void read_fill(Deal& deal) const {
    const decoded::Fill& f = *c_.fill;
    deal.deal_id = f.id;
    deal.order_id = f.order_guid;
    deal.updated_time = truncate_to_seconds(f.timestamp);
    deal.filled_avg_price = f.price;
    deal.filled_quantity = f.quantity;
  }

 private:
  const decoded::OrderChange& c_;
};

// Refuses, before anything is sent, the figures the vendor could only
// misread: a price the order type uses must be a finite number above 0.
void check_order_figures(const Order& order) {
  const auto positive = [](double v) { return std::isfinite(v) && v > 0; };
  const std::string& symbol = order.security.code();
  if (!positive(order.quantity) || order.quantity != std::floor(order.quantity)) {
    throw std::invalid_argument(fmt::format(
        "place_order: quantity {} of {} is not a whole number above 0", order.quantity, symbol));
  }
  if (order.order_type == OrderType::LIMIT && !positive(order.price)) {
    throw std::invalid_argument(
        fmt::format("place_order: price {} of a limit order of {} is not a finite number above 0",
                    order.price, symbol));
  }
  if (order.order_type == OrderType::STOP) {
    if (!positive(order.stop_price)) {
      throw std::invalid_argument(fmt::format(
          "place_order: stop_price {} of a stop order of {} is not a finite number above 0",
          order.stop_price, symbol));
    }
    // Passed on with the stop, not used by it: 0 for none.
    if (!std::isfinite(order.price) || order.price < 0) {
      throw std::invalid_argument(fmt::format(
          "place_order: price {} of a stop order of {} is not 0 or a finite number above 0",
          order.price, symbol));
    }
  }
}

// Runs `undo` when the scope ends unless kept: when an exception left it.
template <class F>
class UndoUnlessKept {
 public:
  explicit UndoUnlessKept(F undo) : undo_(std::move(undo)) {}
  UndoUnlessKept(const UndoUnlessKept&) = delete;
  UndoUnlessKept& operator=(const UndoUnlessKept&) = delete;
  ~UndoUnlessKept() {
    if (!kept_) {
      undo_();
    }
  }
  void keep() noexcept { kept_ = true; }

 private:
  F undo_;
  bool kept_ = false;
};

}  // namespace

std::string BrokerLink::place_order(const Order& order) {
  ensure_not_on_worker("place_order");
  check_order_figures(order);
  if (recovery_enabled() && !gateway_connected()) {
    throw std::runtime_error(
        "place_order: the gateway connection is down; the order was not sent (recovery is "
        "logging on again)");
  }
  return guarded("place_order", [&] { return place_order_now(order); });
}

std::string BrokerLink::place_order_now(const Order& order) {
  const Object& proxy = cel("place_order");
  BaseGateway& g = bound_gateway("place_order");
  // One placement at a time: the id slot and the event serve one placement.
  MutexLock placing(place_mutex_);
  const std::string cqg_symbol = g.get_cqg_symbol_from_eng_security(order.security);
  const std::optional<std::int64_t> account_id = GWAccountID();
  if (!account_id) {
    // The vendor would be handed no account and answer with a type error.
    throw std::logic_error(
        "place_order: no account is selected; call subscribe_account_and_positions first "
        "(nothing was sent)");
  }
  // Refused here, nothing has reached the vendor; accepted, the order
  // counts as working from now on, unless the hop below raises (not
  // placed). A placement that times out keeps it: the order may be working.
  check_risk(order);
  UndoUnlessKept reservation([this] {
    MutexLock guard(risk_mutex_);
    risk_->release_pending();
  });
  const auto& k = detail::vendor();
  std::vector<std::string> lines;
  automation::call_in_apartment(proxy, [&](const Object& home) {
    const vendor::Cel cel(home);
    const Object instrument =
        detail::first_containing(cel.Instruments(), cqg_symbol,
                                 [](const Object& i) { return vendor::Instrument(i).FullName(); });
    if (!instrument) {
      throw std::invalid_argument(
          fmt::format("cqg_symbol {} has not been subscribed.", cqg_symbol));
    }
    std::int64_t type = 0;
    switch (order.order_type) {
      case OrderType::LIMIT:
        type = k.otLimit;
        break;
      case OrderType::MARKET:
        type = k.otMarket;
        break;
      case OrderType::STOP:
        type = k.otStop;
        break;
      default:
        throw std::invalid_argument("Unsupported order type " + to_text(order.order_type));
    }
    std::int64_t side = 0;
    switch (order.direction) {
      case Direction::LONG:
        side = k.osdBuy;
        break;
      case Direction::SHORT:
        side = k.osdSell;
        break;
      default:
        throw std::invalid_argument("Unsupported order side " + to_text(order.direction));
    }
    detail::AccountLookup found = detail::find_account(home, *account_id);
    lines = std::move(found.lines);
    if (!found.account) {
      throw std::invalid_argument(fmt::format("GWAccountID {} can not be found!", *account_id));
    }
    const Variant account(found.account.dispatch());
    Object created;
    switch (order.order_type) {
      case OrderType::MARKET:
        created = cel.CreateOrder(type, instrument.dispatch(), account, order.quantity, side);
        break;
      case OrderType::LIMIT:
        created = cel.CreateOrder(type, instrument.dispatch(), account, order.quantity, side,
                                  order.price);
        break;
      default:
        created = cel.CreateOrder(type, instrument.dispatch(), account, order.quantity, side,
                                  order.price, order.stop_price);
        break;
    }
    const vendor::Order vendor_order(created);
    vendor_order.Manual(0);
    {
      // A late id of an earlier, timed-out placement is not taken for this one.
      MutexLock guard(order_mutex_);
      order_id_.reset();
    }
    eventOrderPlaced.clear();
    vendor_order.Place();
  });
  reservation.keep();
  detail::trace_lines(lines);
  // The order's text only for the message of a time-out: made on every
  // placement it would cost more than the rest of the wait's bookkeeping.
  if (!wait(eventOrderPlaced, "place_order")) {
    AssertMessage(false, "Order placing timeout!\n" + to_text(order) + " ");
  }
  std::optional<std::string> taken;
  {
    MutexLock guard(order_mutex_);
    taken = std::move(order_id_);
    order_id_.reset();
  }
  if (!taken) {
    throw std::invalid_argument("Order id can not be obtained!\n" + to_text(order));
  }
  return *taken;
}

void BrokerLink::cancel_order(std::string_view orderid) {
  guarded("cancel_order", [&] {
    automation::call_in_apartment(cel("cancel_order"), [&](const Object& home) {
      vendor::Order(vendor::Orders(vendor::Cel(home).Orders()).ItemByGuid(orderid)).Cancel();
    });
  });
}

std::optional<std::string> BrokerLink::order_id() const {
  MutexLock guard(order_mutex_);
  return order_id_;
}

template <class Source>
void BrokerLink::apply_order_change(Source& source) {
  if (source.failed()) {
    return;  // a vendor error on an order event is dropped
  }
  const auto& k = detail::vendor();
  const std::int64_t change_type = source.change_type();
  OrderUpdate update;
  // An unknown status ends the handler here, before anything is reported.
  source.read_order(update);

  if (change_type == k.ctAdded) {
    if (eventOrderPlaced.is_set()) {
      WriteLine("orderid " + update.order_id + " is not placed by algo");
      return;
    }
    {
      MutexLock guard(order_mutex_);
      order_id_ = update.order_id;
    }
    // Working before the placement is released, so its fills count.
    book_placed(update.order_id);
    // After the id is in the slot, so the waiting placement finds it.
    eventOrderPlaced.set();
  } else if (change_type == k.ctChanged || change_type == k.ctRemoved) {
    BaseGateway& g = bound_gateway("OnOrderChanged");
    // Guarded on its own: the fill of this event still reaches process_deal.
    detail::call_hook("process_order", [&] { g.process_order(update); });
  }
  if (!source.has_fill() || !source.fill_is_normal()) {
    // Only a normal fill is a deal.
    book_order_event(update, nullptr);
    return;
  }
  Deal deal;
  source.read_fill(deal);
  book_order_event(update, &deal);
  BaseGateway& g = bound_gateway("OnOrderChanged");
  detail::call_hook("process_deal", [&] { g.process_deal(deal); });
}

void BrokerLink::OnOrderChanged(const Variant& changeType, const Variant& cqgOrder, const Variant&,
                                const Variant& cqgFill, const Variant& cqgError) {
  if (!cqgError.is_empty()) {
    return;  // dropped before anything is read
  }
  VendorOrderChange source(changeType, cqgOrder, cqgFill, cqgError);
  apply_order_change(source);
}

void BrokerLink::order_changed(const decoded::OrderChange& event) {
  run_guarded(CelEvent::OnOrderChanged, [&] {
    DecodedOrderChange source(event);
    apply_order_change(source);
  });
}

}  // namespace orbrix::cqg
